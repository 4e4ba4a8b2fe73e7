// The block-list lookup of one message: 3 relay addresses against 3 zones (9 queries) on a DNS
// server that answers after 20 ms (dnsmasq behind a delaying UDP relay). All queries at once, as
// the classifier makes them, against one after the other.

#include <cstdlib>
#include <iostream>
#include <memory>

#include <benchmark/benchmark.h>

#include "classify/TDnsResolver.h"
#include "classify/TSearchAddress.h"
#include "support/TDnsmasq.h"

using namespace tarnwick::classify;

namespace {

const std::vector<std::string> Zones{"one.bench.test", "two.bench.test", "three.bench.test"};
const std::vector<std::string> Headers{
    "Received: from a.example (a.example [203.0.113.7]) by mx.example (198.51.100.2); Tue, 9 Dec 2025",
    "Received: from b.example ([192.0.2.44]) by a.example with SMTP; Tue, 9 Dec 2025",
};
const std::vector<std::string> Reversed{"7.113.0.203", "2.100.51.198", "44.2.0.192"};

std::string OneAfterTheOther(TDnsResolver& resolver)
{
    std::string text;
    for (const auto& address : Reversed) {
        text += "(";
        for (const auto& zone : Zones)
            text += IsListingAnswer(resolver.Resolve(address + "." + zone)) ? "1 " : "X ";
        text += ") ";
    }
    return text;
}

void Concurrent(benchmark::State& state)
{
    for (auto _ : state) {
        // A lookup of its own each time: a lookup that is kept answers a repeated relay from its
        // cache of answers, without asking again.
        TSearchAddress search(Zones);
        benchmark::DoNotOptimize(search.Lookup(Headers));
    }
}

void Sequential(benchmark::State& state)
{
    TDnsResolver resolver;
    for (auto _ : state)
        benchmark::DoNotOptimize(OneAfterTheOther(resolver));
}

BENCHMARK(Concurrent)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(Sequential)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

} // namespace

int main(int argc, char** argv)
{
    tarnwick::test::TDnsmasq dns({"--local=/bench.test/",
                                  "--host-record=7.113.0.203.one.bench.test,127.0.0.2",
                                  "--host-record=44.2.0.192.three.bench.test,127.0.0.3"});
    tarnwick::test::TDelayingDnsRelay relay(dns.Port(), std::chrono::milliseconds(20));
    ::setenv("TARNWICK_DNS_SERVERS", relay.Server().c_str(), 1);

    // Both ways give the same text.
    TSearchAddress search(Zones);
    TDnsResolver resolver;
    const std::string concurrent = search.Lookup(Headers);
    const std::string sequential = OneAfterTheOther(resolver);
    std::cerr << "lookup text: \"" << concurrent << "\"\n";
    if (concurrent != sequential || concurrent != "(1 X X ) (X X X ) (X X 1 ) ") {
        std::cerr << "texts differ: \"" << sequential << "\"\n";
        return 1;
    }

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
