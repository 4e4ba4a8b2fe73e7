// Whole-run driver of a receive with the block lists on, and of the deletion after a receive.
// bench/pop3/run-blocklist-bench runs it against a private Dovecot through delay_relay.
//
//   blocklist_receive_bench receive HOST PORT USER PASSWORD CONNECTIONS ZONES LISTINGS DNS_DELAY_MS
//   blocklist_receive_bench delete HOST PORT USER PASSWORD CONNECTIONS
//
// receive: TDownloadMail with the first ZONES (0 to 3) of the benchmark's zones enabled in
// "Databases.ini", so that the receive reads them, self-tests them and looks the relays up as the
// program does. The DNS server is a private dnsmasq serving the zones (their test points and the
// listings of LISTINGS, lines "ADDRESS ZONE" as bench/pop3/blocklist-mailbox.py writes them)
// behind TDnsDelayRelay, which holds every query DNS_DELAY_MS and counts them; TARNWICK_DNS_SERVERS
// points the receive at the relay.
// The records' own Received lines give the number of distinct relays and the messages that must
// come out listed, which checks that the lookups really ran.
//
// delete: a receive without zones, then every record trashed and the trash emptied with
// TDeleteMail through EmptyTrash, timed; a second receive checks that the server holds nothing.
//
// TARNWICK_HOME should name a folder of the benchmark's own: the options and lists are read from
// there and "Databases.ini" is written there. Each run prints one line of "key=value" fields.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "TDnsDelayRelay.h"
#include "classify/TDecodeIp.h"
#include "classify/TReadDatabaseSettings.h"
#include "classify/TSearchAddress.h"
#include "core/Modules.h"
#include "core/TPrompter.h"
#include "engine/TDeleteMail.h"
#include "engine/TDownloadMail.h"
#include "engine/TTrash.h"
#include "support/TDnsmasq.h"

using namespace tarnwick;

namespace {

using TClock = std::chrono::steady_clock;

// The benchmark's zones, in the order ZONES enables them and LISTINGS numbers them.
const std::vector<std::string> Zones{"dnsbl.bench.test", "relays.bench.test", "dul.bench.test"};
constexpr const char* ZoneDomain = "bench.test";

double Seconds(TClock::time_point since)
{
    return std::chrono::duration<double>(TClock::now() - since).count();
}

class TQuietObserver : public engine::TReceiveObserver
{
public:
    void SetTask(const std::optional<std::string>&, const std::string&, std::optional<int>) override {}
    void SetOverallStatus(const std::string&) override {}
    void SetStatus(const std::string&) override {}
    void SetProgress(int) override {}
    void SetCaption(const std::string&) override {}
    void SetStatusBar(const std::string&) override {}
    void AddError(const std::string& text) override
    {
        std::fprintf(stderr, "error: %s\n", text.c_str());
        ++Errors_;
    }
    void AddNote(const std::string& text) override { std::fprintf(stderr, "note: %s\n", text.c_str()); }
    void RowAdded(std::size_t) override {}
    void Finished(engine::TReceiveOutcome) override {}

    int Errors_ = 0;
};

// Any question of the deletion is a failure of the benchmark: it is shown and answered No.
class TRefusingPrompter : public core::TPrompter
{
public:
    void Inform(core::TMessageKind, const std::string& text) override
    {
        std::fprintf(stderr, "prompt: %s\n", text.c_str());
        ++Prompts_;
    }
    core::TAnswer Ask(core::TMessageKind, const std::string& text, const std::vector<core::TAnswer>&) override
    {
        std::fprintf(stderr, "question: %s\n", text.c_str());
        ++Prompts_;
        return core::TAnswer::No;
    }
    int Prompts_ = 0;
};

int ToInt(const std::string& text, const char* what, int low, int high)
{
    std::size_t used = 0;
    int value = 0;
    try {
        value = std::stoi(text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used != text.size() || value < low || value > high)
        throw std::runtime_error(std::string(what) + " must be a number from " + std::to_string(low) +
                                 " to " + std::to_string(high) + ", not \"" + text + "\"");
    return value;
}

// LISTINGS: address -> the zones (1-based) that list it.
std::map<std::string, std::set<int>> ReadListings(const std::string& path)
{
    std::ifstream in(path);
    if (!in)
        throw std::runtime_error("the listings file " + path + " cannot be read");
    std::map<std::string, std::set<int>> listings;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        std::istringstream fields(line);
        std::string address;
        int zone = 0;
        if (!(fields >> address >> zone) || zone < 1 || zone > static_cast<int>(Zones.size()) ||
            !classify::IsValidIPv4(address))
            throw std::runtime_error(path + " line " + std::to_string(number) +
                                     " is not \"ADDRESS ZONE\": " + line);
        listings[address].insert(zone);
    }
    return listings;
}

void SetUpUser(accounts::TUser& user, char** argv)
{
    accounts::TUserID id;
    id.Host = argv[2];
    id.Port = ToInt(argv[3], "PORT", 1, 65535);
    id.AccountName = argv[4];
    id.Password = argv[5];
    id.RememberPassword = true;
    id.DisplayName = "bench";
    user.SetID(id);
    user.Settings.Connections = ToInt(argv[6], "CONNECTIONS", 1, 64);
}

void EnableZones(int count)
{
    std::vector<classify::TDatabaseEntry> entries;
    for (int i = 0; i < count; ++i)
        entries.push_back({Zones[static_cast<std::size_t>(i)], "-1"});
    classify::TReadDatabaseSettings(classify::TReadDatabaseSettings::DefaultPath()).WriteServers(entries);
}

int Receive(char** argv)
{
    accounts::TUser user;
    SetUpUser(user, argv);
    const int zones = ToInt(argv[7], "ZONES", 0, static_cast<int>(Zones.size()));
    const auto listings = ReadListings(argv[8]);
    const int delayMs = ToInt(argv[9], "DNS_DELAY_MS", 0, 10000);

    // Every zone with its test points (2.0.0.127 listed, 1.0.0.127 not) and its listings; every
    // other name below the zones' domain does not exist.
    std::vector<std::string> options{std::string("--local=/") + ZoneDomain + "/"};
    for (const std::string& zone : Zones)
        options.push_back("--host-record=2.0.0.127." + zone + ",127.0.0.2");
    for (const auto& [address, listed] : listings)
        for (const int zone : listed)
            options.push_back("--host-record=" + classify::ReversedAddress(address) + "." +
                              Zones[static_cast<std::size_t>(zone - 1)] + ",127.0.0.2");

    engine::TReceiveReport report;
    double seconds = 0;
    TQuietObserver observer;
    test::TDnsmasq dns(options);
    bench::TDnsDelayRelay relay(dns.Port(), std::chrono::milliseconds(delayMs));
    ::setenv("TARNWICK_DNS_SERVERS", relay.Server().c_str(), 1);
    EnableZones(zones);
    engine::TReceiveConfig config;
    config.CacheFolder = core::CacheFolder(core::Options()->CacheDir);
    // Not given: the receive reads "Databases.ini", self-tests the zones and uses those that pass.
    config.Zones = std::nullopt;
    {
        // The receive and its resolvers are gone before the relay's counts are read.
        const auto start = TClock::now();
        engine::TDownloadMail receive(user, observer, config);
        report = receive.Run();
        seconds = Seconds(start);
    }
    relay.Stop();
    std::size_t selfTestQueries = 0;
    for (const auto& [name, times] : relay.Names())
        if (name.starts_with("2.0.0.127.") || name.starts_with("1.0.0.127."))
            selfTestQueries += times;

    // What the records' Received lines call for.
    std::set<std::string> relays;
    std::size_t perMessage = 0; // addresses x zones summed over the messages: lookups without memory
    int mustBeListed = 0;
    int listed = 0;
    for (std::size_t i = 0; i < user.Mails.Count(); ++i) {
        const accounts::TMailMessage& record = *user.Mails.At(i);
        std::vector<std::string> found;
        classify::TDecodeIp(record.Headers).ExtractAddresses(found);
        const std::vector<std::string> asked = classify::RelayAddressesToLookUp(found);
        relays.insert(asked.begin(), asked.end());
        perMessage += asked.size() * static_cast<std::size_t>(zones);
        const bool hit = std::any_of(asked.begin(), asked.end(), [&](const std::string& a) {
            const auto it = listings.find(a);
            return it != listings.end() && *it->second.begin() <= zones;
        });
        mustBeListed += hit ? 1 : 0;
        listed += record.Trashed || record.Subject.starts_with(" [ Spam ] ") ? 1 : 0;
    }
    const std::size_t selfTest = 2 * static_cast<std::size_t>(zones);
    const std::size_t bound = relays.size() * static_cast<std::size_t>(zones) + selfTest;

    std::vector<std::string> failures;
    if (report.Outcome != engine::TReceiveOutcome::Finished)
        failures.push_back("the receive did not finish");
    if (observer.Errors_ != 0)
        failures.push_back(std::to_string(observer.Errors_) + " error row(s)");
    if (listed != mustBeListed)
        failures.push_back(std::to_string(listed) + " messages came out listed, the listings call for " +
                           std::to_string(mustBeListed));
    if (selfTestQueries < selfTest)
        failures.push_back("the zones' self-test asked " + std::to_string(selfTestQueries) +
                           " queries, not " + std::to_string(selfTest));

    std::printf("receive zones=%d connections=%d headers=%d seconds=%.3f rate=%.0f dns_queries=%zu "
                "unanswered=%zu self_test_queries=%zu distinct_names=%zu distinct_relays=%zu bound=%zu "
                "per_message_lookups=%zu listed=%d%s\n",
                zones, user.Settings.Connections, report.Listed, seconds, report.Listed / seconds,
                relay.Queries(), relay.Queries() - relay.Answers(), selfTestQueries, relay.Names().size(),
                relays.size(), bound, perMessage + selfTest, listed, failures.empty() ? "" : " CHECK_FAILED");
    for (const std::string& failure : failures)
        std::fprintf(stderr, "check failed: %s\n", failure.c_str());
    return failures.empty() ? 0 : 1;
}

int Delete(char** argv)
{
    accounts::TUser user;
    SetUpUser(user, argv);
    EnableZones(0);
    const std::string cacheFolder = core::CacheFolder(core::Options()->CacheDir);
    TQuietObserver observer;
    engine::TReceiveConfig config;
    config.CacheFolder = cacheFolder;
    config.Zones = std::vector<std::string>{};

    auto start = TClock::now();
    const engine::TReceiveReport report = engine::TDownloadMail(user, observer, config).Run();
    const double receiveSeconds = Seconds(start);
    if (report.Outcome != engine::TReceiveOutcome::Finished || report.Listed == 0) {
        std::fprintf(stderr, "check failed: the receive before the deletion did not finish with messages\n");
        return 1;
    }

    std::vector<std::size_t> all(user.Mails.Count());
    for (std::size_t i = 0; i < all.size(); ++i)
        all[i] = i;
    engine::TrashMessages(user, all);
    std::int32_t serverCount = report.ServerCount;
    TRefusingPrompter prompter;
    engine::TEmptyTrashResult result;
    start = TClock::now();
    {
        engine::TDeleteMail deletion(user, cacheFolder, prompter);
        result = engine::EmptyTrash(user, deletion, serverCount);
    }
    const double deleteSeconds = Seconds(start);

    // The server agrees: nothing is left there.
    const engine::TReceiveReport after = engine::TDownloadMail(user, observer, config).Run();

    std::vector<std::string> failures;
    if (!result.Ran || result.Deleted != all.size() || result.Kept != 0)
        failures.push_back("the deletion removed " + std::to_string(result.Deleted) + " of " +
                           std::to_string(all.size()) + " records");
    if (serverCount != 0 || after.ServerCount != 0)
        failures.push_back("the server still holds " + std::to_string(after.ServerCount) + " messages");
    if (prompter.Prompts_ != 0 || observer.Errors_ != 0)
        failures.push_back("the deletion asked or reported something");
    std::printf("delete connections=%d messages=%zu receive_seconds=%.3f seconds=%.3f rate=%.0f%s\n",
                user.Settings.Connections, all.size(), receiveSeconds, deleteSeconds,
                static_cast<double>(result.Deleted) / deleteSeconds, failures.empty() ? "" : " CHECK_FAILED");
    for (const std::string& failure : failures)
        std::fprintf(stderr, "check failed: %s\n", failure.c_str());
    return failures.empty() ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (!((mode == "receive" && argc == 10) || (mode == "delete" && argc == 7))) {
        std::fprintf(stderr,
                     "usage: blocklist_receive_bench receive HOST PORT USER PASSWORD CONNECTIONS ZONES "
                     "LISTINGS DNS_DELAY_MS\n"
                     "       blocklist_receive_bench delete HOST PORT USER PASSWORD CONNECTIONS\n");
        return 2;
    }
    try {
        std::vector<std::string> notices;
        core::InitializeModules(argv[0], core::TEnvironment::FromProcess(), notices);
        core::LoadOptionsAtStart();
        const int status = mode == "receive" ? Receive(argv) : Delete(argv);
        core::FinalizeModules();
        return status;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "blocklist_receive_bench: %s\n", error.what());
        return 1;
    }
}
