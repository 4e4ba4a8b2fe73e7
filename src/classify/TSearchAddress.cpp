#include "TSearchAddress.h"

#include <unordered_set>

#include "TDecodeIp.h"
#include "TDnsResolver.h"
#include "TReadDatabaseSettings.h"
#include "core/Errors.h"

namespace tarnwick::classify {

namespace {

std::vector<std::string> EnabledServersOfDataFolder()
{
    TReadDatabaseSettings settings(TReadDatabaseSettings::DefaultPath());
    try {
        settings.ReadServers();
    } catch (const core::TFileError&) {
        return {};
    }
    return settings.EnabledServers();
}

} // namespace

std::vector<std::string> RelayAddressesToLookUp(const std::vector<std::string>& relays)
{
    std::vector<std::string> asked;
    std::unordered_set<std::string_view> seen;
    for (const std::string& relay : relays) {
        if (asked.size() == MaxRelayAddresses)
            break;
        if (seen.insert(relay).second)
            asked.push_back(relay);
    }
    return asked;
}

std::string ReversedAddress(std::string_view ip)
{
    std::string_view rest = ip;
    std::string_view fields[3];
    for (auto& field : fields) {
        const std::size_t dot = rest.find('.');
        field = rest.substr(0, dot);
        rest = dot == std::string_view::npos ? std::string_view() : rest.substr(dot + 1);
    }
    std::string reversed(rest);
    for (int i = 2; i >= 0; --i)
        reversed.append(".").append(fields[i]);
    return reversed;
}

TSearchAddress::TSearchAddress()
    : TSearchAddress(EnabledServersOfDataFolder())
{}

TSearchAddress::TSearchAddress(std::vector<std::string> servers)
    : TSearchAddress(std::move(servers), nullptr)
{}

TSearchAddress::TSearchAddress(std::vector<std::string> servers, std::shared_ptr<TDnsCancel> cancel)
    : Servers_(std::move(servers))
    , Cancel_(std::move(cancel))
{
    if (!Servers_.empty()) {
        Resolver_ = std::make_unique<TDnsResolver>(Cancel_);
        Cancel_ = Resolver_->Cancel();
    }
}

TSearchAddress::~TSearchAddress() = default;

void TSearchAddress::Abort() noexcept
{
    // Without servers there is no signal of our own and nothing that could wait.
    if (Cancel_)
        Cancel_->Cancel();
}

void TSearchAddress::QueryAll(TLookupResult& result)
{
    std::vector<std::string> names;
    names.reserve(result.Addresses.size() * Servers_.size());
    for (const auto& address : result.Addresses) {
        const std::string reversed = ReversedAddress(address);
        for (const auto& server : Servers_)
            names.push_back(reversed + "." + server);
    }
    const std::vector<TDnsAnswer> answers = Resolver_->ResolveAll(names);
    result.Aborted = Resolver_->Aborted();

    // The text is composed in address order and server order, whatever order the answers came in.
    std::size_t next = 0;
    for (std::size_t a = 0; a < result.Addresses.size(); ++a) {
        std::vector<bool> hits;
        std::string part = "(";
        for (std::size_t s = 0; s < Servers_.size(); ++s) {
            const bool hit = IsListingAnswer(answers[next++]);
            hits.push_back(hit);
            part += hit ? "1 " : "X ";
        }
        part += ")";
        result.Hits.push_back(std::move(hits));
        result.Text += part + " ";
    }
}

TLookupResult TSearchAddress::LookupDetailed(const std::vector<std::string>& headerLines)
{
    TLookupResult result;
    if (Servers_.empty())
        return result;
    TDecodeIp decoder(headerLines);
    std::vector<std::string> relays;
    decoder.ExtractAddresses(relays);
    result.RelaysFound = relays.size();
    result.Addresses = RelayAddressesToLookUp(relays);
    QueryAll(result);
    return result;
}

std::string TSearchAddress::Lookup(const std::vector<std::string>& headerLines)
{
    return LookupDetailed(headerLines).Text;
}

std::string TSearchAddress::QueryAddress(const std::string& ip)
{
    if (Servers_.empty())
        return "()";
    TLookupResult result;
    result.Addresses.push_back(ip);
    QueryAll(result);
    return result.Text.substr(0, result.Text.size() - 1);
}

std::string ZoneSkippedText(std::string_view zone)
{
    return "Spam database " + std::string(zone) + " does not answer correctly and was skipped.";
}

TZoneTest SelfTestZones(const std::vector<std::string>& zones)
{
    return SelfTestZones(zones, nullptr);
}

TZoneTest SelfTestZones(const std::vector<std::string>& zones, std::shared_ptr<TDnsCancel> cancel)
{
    TZoneTest test;
    if (zones.empty())
        return test;
    std::vector<std::string> names;
    for (const auto& zone : zones) {
        names.push_back("2.0.0.127." + zone);
        names.push_back("1.0.0.127." + zone);
    }
    TDnsResolver resolver(std::move(cancel));
    const std::vector<TDnsAnswer> answers = resolver.ResolveAll(names);
    if (resolver.Aborted()) {
        // Stopped before every zone had its say: judging now would blame zones for our Stop.
        test.Cancelled = true;
        return test;
    }
    for (std::size_t i = 0; i < zones.size(); ++i) {
        if (IsListingAnswer(answers[2 * i]) && !IsListingAnswer(answers[2 * i + 1]))
            test.Usable.push_back(zones[i]);
        else
            test.Errors.push_back(ZoneSkippedText(zones[i]));
    }
    return test;
}

} // namespace tarnwick::classify
