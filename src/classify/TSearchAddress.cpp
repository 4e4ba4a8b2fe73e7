#include "TSearchAddress.h"

#include <algorithm>
#include <unordered_set>

#include "TDecodeIp.h"
#include "TDnsResolver.h"
#include "TLookupCache.h"
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

TPendingLookup::TPendingLookup(TLookupResult result)
    : Result_(std::move(result))
    , Done_(true)
{}

TPendingLookup::TPendingLookup(TLookupResult started, std::size_t servers)
    : Result_(std::move(started))
    , Servers_(servers)
    , Listed_(Result_.Addresses.size() * servers, false)
    , Missing_(Listed_.size())
{
    if (Missing_ == 0)
        Finish();
}

bool TPendingLookup::Ready() const
{
    std::lock_guard lock(Mutex_);
    return Done_;
}

void TPendingLookup::Wait() const
{
    std::unique_lock lock(Mutex_);
    Over_.wait(lock, [this] { return Done_; });
}

const TLookupResult& TPendingLookup::Result() const
{
    Wait();
    // Fixed from now on, so it is read without the lock.
    return Result_;
}

void TPendingLookup::Answer(std::size_t index, bool listed, bool stopped)
{
    {
        std::lock_guard lock(Mutex_);
        if (Done_ || index >= Listed_.size())
            return;
        Listed_[index] = listed;
        Stopped_ = Stopped_ || stopped;
        if (--Missing_ > 0)
            return;
        Finish();
    }
    Over_.notify_all();
}

void TPendingLookup::Stop()
{
    {
        std::lock_guard lock(Mutex_);
        if (Done_)
            return;
        Stopped_ = true;
        Finish();
    }
    Over_.notify_all();
}

void TPendingLookup::Finish()
{
    // The text is composed in address order and server order, whatever order the answers came in.
    std::size_t next = 0;
    for (std::size_t a = 0; a < Result_.Addresses.size(); ++a) {
        std::vector<bool> hits;
        std::string part = "(";
        for (std::size_t s = 0; s < Servers_; ++s) {
            const bool hit = Listed_[next++];
            hits.push_back(hit);
            part += hit ? "1 " : "X ";
        }
        part += ")";
        Result_.Hits.push_back(std::move(hits));
        Result_.Text += part + " ";
    }
    Result_.Aborted = Stopped_;
    Done_ = true;
}

std::shared_ptr<TPendingLookup> TBlockListLookup::StartLookup(const std::vector<std::string>& headerLines)
{
    return std::make_shared<TPendingLookup>(LookupDetailed(headerLines));
}

TSearchAddress::TSearchAddress()
    : TSearchAddress(EnabledServersOfDataFolder())
{}

TSearchAddress::TSearchAddress(std::vector<std::string> servers)
    : TSearchAddress(std::move(servers), std::shared_ptr<TDnsCancel>())
{}

TSearchAddress::TSearchAddress(std::vector<std::string> servers, std::shared_ptr<TDnsCancel> cancel)
    : Servers_(std::move(servers))
{
    if (!Servers_.empty()) {
        Cache_ = std::make_shared<TLookupCache>(std::move(cancel));
        Cache_->Open();
    }
}

TSearchAddress::TSearchAddress(std::vector<std::string> servers, std::shared_ptr<TLookupCache> cache)
    : Servers_(std::move(servers))
{
    if (!Servers_.empty()) {
        Cache_ = cache ? std::move(cache) : std::make_shared<TLookupCache>();
        Cache_->Open();
    }
}

TSearchAddress::~TSearchAddress() = default;

void TSearchAddress::Abort() noexcept
{
    std::vector<std::weak_ptr<TPendingLookup>> pending;
    {
        std::lock_guard lock(PendingMutex_);
        Aborted_ = true;
        pending.swap(Pending_);
    }
    for (const auto& weak : pending)
        if (const std::shared_ptr<TPendingLookup> lookup = weak.lock())
            lookup->Stop();
}

std::shared_ptr<TPendingLookup> TSearchAddress::Start(TLookupResult result)
{
    std::vector<std::string> names;
    names.reserve(result.Addresses.size() * Servers_.size());
    for (const auto& address : result.Addresses) {
        const std::string reversed = ReversedAddress(address);
        for (const auto& server : Servers_)
            names.push_back(reversed + "." + server);
    }
    auto lookup = std::make_shared<TPendingLookup>(std::move(result), Servers_.size());
    bool aborted = false;
    {
        std::lock_guard lock(PendingMutex_);
        aborted = Aborted_;
        if (!aborted && !lookup->Ready()) {
            // The lookups over are swept out now and then, so the list stays as long as the number
            // of lookups under way.
            if (Pending_.size() >= 2 * PendingKept_ + 16) {
                std::erase_if(Pending_, [](const std::weak_ptr<TPendingLookup>& weak) {
                    const std::shared_ptr<TPendingLookup> kept = weak.lock();
                    return !kept || kept->Ready();
                });
                PendingKept_ = Pending_.size();
            }
            Pending_.push_back(lookup);
        }
    }
    if (aborted || Cache_->Cancel()->Cancelled()) {
        lookup->Stop();
        return lookup;
    }
    for (std::size_t i = 0; i < names.size(); ++i)
        Cache_->Ask(names[i], [lookup, i](bool listed, bool stopped) { lookup->Answer(i, listed, stopped); });
    return lookup;
}

std::shared_ptr<TPendingLookup> TSearchAddress::StartLookup(const std::vector<std::string>& headerLines)
{
    TLookupResult result;
    if (Servers_.empty())
        return std::make_shared<TPendingLookup>(std::move(result));
    TDecodeIp decoder(headerLines);
    std::vector<std::string> relays;
    decoder.ExtractAddresses(relays);
    result.RelaysFound = relays.size();
    result.Addresses = RelayAddressesToLookUp(relays);
    return Start(std::move(result));
}

TLookupResult TSearchAddress::LookupDetailed(const std::vector<std::string>& headerLines)
{
    return StartLookup(headerLines)->Result();
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
    const std::string text = Start(std::move(result))->Result().Text;
    return text.substr(0, text.size() - 1);
}

std::string ZoneSkippedText(std::string_view zone)
{
    return "Spam database " + std::string(zone) + " does not answer correctly and was skipped.";
}

TZoneTest SelfTestZones(const std::vector<std::string>& zones)
{
    return SelfTestZones(zones, nullptr);
}

namespace {

// The error answers 127.255.255.252 to 127.255.255.255.
bool HasErrorCode(const TDnsAnswer& answer)
{
    return answer.Resolved &&
           std::any_of(answer.Addresses.begin(), answer.Addresses.end(), [](std::uint32_t address) {
               return address >= 0x7FFFFFFCu && address <= 0x7FFFFFFFu;
           });
}

} // namespace

TZoneVerdict JudgeZone(const TDnsAnswer& listedPoint, const TDnsAnswer& unlistedPoint)
{
    const bool listed = IsListingAnswer(listedPoint);
    const bool listsAll = IsListingAnswer(unlistedPoint);
    if (listed && !listsAll)
        return TZoneVerdict::Works;
    if (HasErrorCode(listedPoint) || HasErrorCode(unlistedPoint))
        return TZoneVerdict::RefusesPublicResolvers;
    if (listsAll)
        return TZoneVerdict::ListsEverything;
    return TZoneVerdict::NoAnswer;
}

std::string_view ZoneVerdictText(TZoneVerdict verdict)
{
    switch (verdict) {
    case TZoneVerdict::Works:
        return "works";
    case TZoneVerdict::NoAnswer:
        return "no answer";
    case TZoneVerdict::RefusesPublicResolvers:
        return "refuses public resolvers";
    case TZoneVerdict::ListsEverything:
        return "lists everything";
    }
    return "no answer";
}

TZoneCheck CheckZones(const std::vector<std::string>& zones, std::shared_ptr<TDnsCancel> cancel)
{
    TZoneCheck check;
    if (zones.empty())
        return check;
    std::vector<std::string> names;
    for (const auto& zone : zones) {
        names.push_back("2.0.0.127." + zone);
        names.push_back("1.0.0.127." + zone);
    }
    TDnsResolver resolver(std::move(cancel));
    const std::vector<TDnsAnswer> answers = resolver.ResolveAll(names);
    if (resolver.Aborted()) {
        // Stopped before every zone had its say: judging now would blame zones for our stop.
        check.Cancelled = true;
        return check;
    }
    for (std::size_t i = 0; i < zones.size(); ++i)
        check.Verdicts.push_back(JudgeZone(answers[2 * i], answers[2 * i + 1]));
    return check;
}

TZoneTest SelfTestZones(const std::vector<std::string>& zones, std::shared_ptr<TDnsCancel> cancel)
{
    TZoneTest test;
    const TZoneCheck check = CheckZones(zones, std::move(cancel));
    if (check.Cancelled) {
        test.Cancelled = true;
        return test;
    }
    for (std::size_t i = 0; i < check.Verdicts.size(); ++i) {
        if (check.Verdicts[i] == TZoneVerdict::Works)
            test.Usable.push_back(zones[i]);
        else
            test.Errors.push_back(ZoneSkippedText(zones[i]));
    }
    return test;
}

} // namespace tarnwick::classify
