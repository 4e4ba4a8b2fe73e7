// Building header records from 100,000 typical header blocks: how many records per second, and how
// much memory one record holds once built.

#include <memory>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <malloc.h>

#include "retrieval/TDecodeMail.h"
#include "retrieval/TParsedHeader.h"

using namespace tarnwick;

namespace {

constexpr int RecordCount = 100000;

// Header blocks as servers deliver them: a chain of folded Received lines, a DKIM signature on
// most, encoded and plain subjects and names in several charsets, a few recipients, MIME fields.
class THeaderGenerator
{
public:
    std::string Next()
    {
        std::string h;
        const int hops = Pick(2, 6);
        for (int i = 0; i < hops; ++i) {
            h += "Received: from mx" + Num() + ".relay" + Num() + ".example.net (mx" + Num() +
                 ".relay.example.net [" + Ip() + "])\r\n\tby mail" + Num() +
                 ".example.org (Postfix) with ESMTPS id " + Hex(10) + "\r\n\tfor <" + User() +
                 "@example.org>; Tue, " + Num() + " Jul 2025 1" + Digit() + ":" + Two() + ":" + Two() +
                 " +0200 (CEST)\r\n";
        }
        h += "Return-Path: <" + User() + "@" + Domain() + ">\r\n";
        if (Pick(0, 9) < 7)
            h += "DKIM-Signature: v=1; a=rsa-sha256; c=relaxed/relaxed; d=" + Domain() +
                 "; s=sel1;\r\n\th=from:to:subject:date:message-id:mime-version;\r\n\tbh=" + Hex(44) +
                 ";\r\n\tb=" + Hex(70) + "\r\n\t " + Hex(70) + "\r\n\t " + Hex(60) + "\r\n";
        h += "Message-ID: <" + Hex(16) + "." + Num() + "@" + Domain() + ">\r\n";
        h += "Date: Tue, " + Num() + " Jul 2025 1" + Digit() + ":" + Two() + ":" + Two() + " +0200\r\n";
        h += "From: " + Name() + " <" + User() + "@" + Domain() + ">\r\n";
        h += "To: ";
        const int recipients = Pick(1, 5);
        for (int i = 0; i < recipients; ++i)
            h += (i ? ",\r\n " : "") + Name() + " <" + User() + "@" + Domain() + ">";
        h += "\r\n";
        if (Pick(0, 3) == 0)
            h += "Cc: " + User() + "@" + Domain() + ", " + Name() + " <" + User() + "@" + Domain() + ">\r\n";
        h += "Subject: " + Subject() + "\r\n";
        h += "MIME-Version: 1.0\r\n";
        if (Pick(0, 4) == 0)
            h += "Content-Type: multipart/mixed;\r\n\tboundary=\"----=_Part_" + Hex(20) + "\"\r\n";
        else
            h += "Content-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: quoted-printable\r\n";
        if (Pick(0, 5) == 0)
            h += "X-Priority: " + std::to_string(Pick(1, 5)) + " (Normal)\r\n";
        h += "X-Mailer: Example Mailer " + Num() + "." + Num() + "\r\n";
        return h;
    }

private:
    std::mt19937 Random_{20251210};

    int Pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(Random_); }
    std::string Num() { return std::to_string(Pick(1, 28)); }
    std::string Digit() { return std::to_string(Pick(0, 9)); }
    std::string Two()
    {
        const int n = Pick(0, 59);
        return (n < 10 ? "0" : "") + std::to_string(n);
    }
    std::string Ip() { return "192.0.2." + std::to_string(Pick(1, 254)); }
    std::string Hex(int length)
    {
        static constexpr char Digits[] = "0123456789abcdefABCDEF";
        std::string s;
        for (int i = 0; i < length; ++i)
            s += Digits[Pick(0, 21)];
        return s;
    }
    std::string User()
    {
        static const char* Users[] = {"anna", "bob.smith", "c.meier", "info", "newsletter", "j.doe", "sales"};
        return Users[Pick(0, 6)] + std::to_string(Pick(0, 99));
    }
    std::string Domain()
    {
        static const char* Domains[] = {"example.com", "example.org", "mail.example.net", "example.de"};
        return Domains[Pick(0, 3)];
    }
    std::string Name()
    {
        static const char* Names[] = {"\"Smith, John\"",
                                      "Anna Meier",
                                      "=?ISO-8859-1?Q?J=F6rg_M=FCller?=",
                                      "=?UTF-8?B?0JjQstCw0L0g0J/QtdGC0YDQvtCy?=",
                                      "Support Team",
                                      "=?windows-1252?Q?Fran=E7ois?="};
        return Names[Pick(0, 5)];
    }
    std::string Subject()
    {
        static const char* Subjects[] = {
            "Re: Meeting on Thursday",
            "=?UTF-8?B?R3LDvMOfZSBhdXMgS8O2bG4gLSBJaHJlIEJlc3RlbGx1bmc=?=",
            "=?iso-8859-1?Q?Ihre_Bestellung_=FCber_49,90_=80?=",
            "Your invoice for July",
            "=?UTF-8?Q?Newsletter:_50=25_off_everything_=F0=9F=8E=89?=",
            "Fwd: quarterly report\r\n figures attached",
        };
        return Subjects[Pick(0, 5)];
    }
};

const std::vector<std::string>& Headers()
{
    static const std::vector<std::string> headers = [] {
        THeaderGenerator generator;
        std::vector<std::string> all;
        all.reserve(RecordCount);
        for (int i = 0; i < RecordCount; ++i)
            all.push_back(generator.Next());
        return all;
    }();
    return headers;
}

std::unique_ptr<accounts::TMailMessage> BuildRecord(retrieval::TDecodeMail& decoder, const std::string& text,
                                                    int number)
{
    // As a download worker does: the parsed header is not needed once the record holds its lines.
    retrieval::TParsedHeader parsed = retrieval::ParseMessageText(text);
    const std::string cacheName = retrieval::CacheNameOf(parsed);
    return std::make_unique<accounts::TMailMessage>(
        std::move(decoder.Decode(std::move(parsed), 4096, number, cacheName)));
}

void BM_BuildRecords(benchmark::State& state)
{
    const auto& headers = Headers();
    std::size_t bytes = 0;
    for (const auto& h : headers)
        bytes += h.size();
    retrieval::TDecodeMail decoder;
    for (auto _ : state) {
        for (int i = 0; i < RecordCount; ++i)
            benchmark::DoNotOptimize(BuildRecord(decoder, headers[static_cast<std::size_t>(i)], i + 1));
    }
    state.SetItemsProcessed(state.iterations() * RecordCount);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
    state.counters["header_bytes_avg"] = static_cast<double>(bytes) / RecordCount;
}
BENCHMARK(BM_BuildRecords)->Unit(benchmark::kMillisecond)->Iterations(3);

// Heap bytes per held record, as an account's list holds them (one allocation per record),
// measured with mallinfo2 before and after building all of them.
void BM_RecordMemory(benchmark::State& state)
{
    const auto& headers = Headers();
    retrieval::TDecodeMail decoder;
    for (auto _ : state) {
        malloc_trim(0);
        const std::size_t before = mallinfo2().uordblks;
        std::vector<std::unique_ptr<accounts::TMailMessage>> records;
        records.reserve(RecordCount);
        for (int i = 0; i < RecordCount; ++i)
            records.push_back(BuildRecord(decoder, headers[static_cast<std::size_t>(i)], i + 1));
        decoder.Decode({}, 0, 0, {}); // the decoder's copy of the last record is not part of the list
        const std::size_t after = mallinfo2().uordblks;
        state.counters["bytes_per_record"] = static_cast<double>(after - before) / RecordCount;
    }
    state.SetItemsProcessed(state.iterations() * RecordCount);
}
BENCHMARK(BM_RecordMemory)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

BENCHMARK_MAIN();
