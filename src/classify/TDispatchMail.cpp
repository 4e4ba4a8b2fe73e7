#include "TDispatchMail.h"

#include <cstdint>
#include <optional>
#include <sstream>
#include <string_view>
#include <utility>

#include "TSearchAddress.h"
#include "accounts/TMailMessage.h"
#include "core/Modules.h"
#include "core/TextUtils.h"

namespace tarnwick::classify {

std::string ResultName(std::uint8_t result)
{
    switch (result) {
    case ResultGood:
        return "good";
    case ResultTrash:
        return "trash";
    case ResultSpam:
        return "spam";
    case ResultQuestionable:
        return "questionable";
    default:
        return "unknown";
    }
}

namespace {

// Where the first "1" of a lookup text stands: the index of its address (its group "( ... )") and of
// its server within the group.
std::pair<std::size_t, std::size_t> FirstListing(std::string_view text)
{
    std::size_t address = 0;
    std::size_t server = 0;
    bool inGroup = false;
    for (const char c : text) {
        if (c == '(') {
            inGroup = true;
            server = 0;
        } else if (c == ')') {
            inGroup = false;
            ++address;
        } else if (inGroup && c == '1') {
            return {address, server};
        } else if (inGroup && c == 'X') {
            ++server;
        }
    }
    return {SIZE_MAX, SIZE_MAX};
}

// What an action option does with a message, for the reason: "moves it to the trash" etc.
std::string ActionText(std::uint8_t result)
{
    switch (result) {
    case ResultTrash:
        return "moves it to the trash";
    case ResultSpam:
        return "marks it as spam";
    case ResultQuestionable:
        return "marks it questionable";
    default:
        return "keeps it as good";
    }
}

// " as \"ENTRY\"" when the matching list entry is written otherwise than the sender.
std::string EntryNote(std::string_view sender, const std::string& entry)
{
    return entry.empty() || entry == sender ? std::string() : " as \"" + entry + "\"";
}

} // namespace

TClassifySources TClassifySources::Process()
{
    return {[] { return AddressLists().Snapshot(); }, [] { return core::Options(); }};
}

TClassifySources TClassifySources::WithLists(TListsState lists)
{
    return {[lists = std::move(lists)] { return lists; }, [] { return core::Options(); }};
}

TDispatchMail::TDispatchMail(const accounts::TUserID& user)
    : TDispatchMail(user, std::make_unique<TSearchAddress>(), TClassifySources::Process())
{}

TDispatchMail::TDispatchMail(const accounts::TUserID& user, std::vector<std::string> zones)
    : TDispatchMail(user, std::make_unique<TSearchAddress>(std::move(zones)), TClassifySources::Process())
{}

TDispatchMail::TDispatchMail(const accounts::TUserID& user, std::vector<std::string> zones,
                             std::shared_ptr<TLookupCache> cache)
    : TDispatchMail(user, std::make_unique<TSearchAddress>(std::move(zones), std::move(cache)),
                    TClassifySources::Process())
{}

TDispatchMail::TDispatchMail(const accounts::TUserID& user, std::unique_ptr<TBlockListLookup> lookup,
                             TClassifySources sources)
    : User_(user)
    , Lookup_(std::move(lookup))
    , Sources_(std::move(sources))
{}

TDispatchMail::~TDispatchMail() = default;

void TDispatchMail::Abort() noexcept
{
    Aborted_.store(true, std::memory_order_release);
    Lookup_->Abort();
}

std::uint8_t TDispatchMail::ClassifyMessage(const accounts::TMailMessage& message)
{
    return Explain(message).Result;
}

TClassifyReport TDispatchMail::Explain(const accounts::TMailMessage& message)
{
    return Begin(message).Finish();
}

TPendingClassification TDispatchMail::Begin(const accounts::TMailMessage& message)
{
    // One snapshot of each per message: a change made meanwhile counts from the next message.
    TPendingClassification pending;
    pending.Lists_ = Sources_.Lists();
    pending.Options_ = Sources_.Options();

    TClassifyReport& report = pending.Report_;
    report.Sender = message.FromAddress;
    report.Servers = Lookup_->Servers();
    if (std::optional<std::string> entry =
            pending.Lists_.EnabledMemberEntry(TListKind::White, report.Sender)) {
        report.WhiteListed = true;
        report.WhiteEntry = std::move(*entry);
        report.Result = ResultGood;
        return pending;
    }
    // The spam databases are asked for every message that is not white-listed, before the black
    // list is consulted.
    pending.Lookup_ = Lookup_->StartLookup(message.Headers);
    report.LookupRan = true;
    return pending;
}

bool TPendingClassification::Ready() const
{
    return !Lookup_ || Lookup_->Ready();
}

TClassifyReport TPendingClassification::Finish() const
{
    TClassifyReport report = Report_;
    if (!Lookup_)
        return report;
    const TLookupResult& lookup = Lookup_->Result();
    report.Relays = lookup.Addresses;
    report.RelaysFound = lookup.RelaysFound;
    report.LookupText = lookup.Text;
    report.LookupAborted = lookup.Aborted;

    if (std::optional<std::string> entry = Lists_.EnabledMemberEntry(TListKind::Black, report.Sender)) {
        report.BlackListed = true;
        report.BlackEntry = std::move(*entry);
    }
    report.DatabaseHit = report.LookupText.find('1') != std::string::npos;
    if (report.DatabaseHit) {
        const auto [address, server] = FirstListing(report.LookupText);
        if (address < report.Relays.size() && server < report.Servers.size()) {
            report.HitRelay = report.Relays[address];
            report.HitZone = report.Servers[server];
        }
    }
    report.Plausible = IsPlausibleAddress(report.Sender);
    if (report.BlackListed || report.DatabaseHit || !report.Plausible) {
        report.OptionUsed = "DatabaseAction";
        report.OptionValue = Options_->DatabaseAction;
        report.Result = Options_->DatabaseAction == 0   ? ResultTrash
                        : Options_->DatabaseAction == 1 ? ResultSpam
                                                        : ResultGood;
    } else {
        report.OptionUsed = "ResponseAction";
        report.OptionValue = Options_->ResponseAction;
        report.Result = Options_->ResponseAction == 0   ? ResultTrash
                        : Options_->ResponseAction == 1 ? ResultQuestionable
                                                        : ResultGood;
    }
    return report;
}

std::string ExplainText(const TClassifyReport& report)
{
    std::ostringstream out;
    out << "Sender: " << (report.Sender.empty() ? "(none)" : report.Sender) << '\n';
    out << "White list: " << (report.WhiteListed ? "enabled entry" : "no enabled entry") << '\n';
    if (report.LookupRan) {
        out << "Spam databases:";
        if (report.Servers.empty())
            out << " (none enabled)";
        for (const auto& server : report.Servers)
            out << ' ' << server;
        out << '\n' << "Relay addresses:";
        if (report.Relays.empty())
            out << " (none)";
        for (const auto& relay : report.Relays)
            out << ' ' << relay;
        if (report.RelaysFound > report.Relays.size())
            out << " (the first " << report.Relays.size() << " of " << report.RelaysFound << ')';
        out << '\n' << "Lookup result: \"" << report.LookupText << '"';
        if (report.LookupAborted)
            out << " (stopped: unanswered queries count as not listed)";
        out << '\n';
        out << "Black list: " << (report.BlackListed ? "enabled entry" : "no enabled entry") << '\n';
        out << "Plausible sender address: " << (report.Plausible ? "yes" : "no") << '\n';
    }
    out << "Decided by: ";
    if (report.WhiteListed) {
        out << "white list";
    } else {
        std::string reasons;
        if (report.BlackListed)
            reasons += "black list, ";
        if (report.DatabaseHit)
            reasons += "spam databases, ";
        if (!report.Plausible)
            reasons += "implausible sender address, ";
        if (reasons.empty())
            out << "unknown sender";
        else
            out << reasons.substr(0, reasons.size() - 2);
        out << " (" << report.OptionUsed << " = " << report.OptionValue << ")";
    }
    out << '\n' << "Result: " << static_cast<int>(report.Result) << ' ' << ResultName(report.Result) << '\n';
    return out.str();
}

std::string ReasonText(const TClassifyReport& report)
{
    const std::string sender(core::TrimBlanksAndControls(report.Sender));
    if (report.WhiteListed)
        return "The sender " + sender + " is on the White list" + EntryNote(sender, report.WhiteEntry) + ".";

    std::string listed;
    if (report.BlackListed) {
        listed = "The sender " + sender + " is on the Black list" + EntryNote(sender, report.BlackEntry);
    } else if (report.DatabaseHit) {
        listed = report.HitRelay.empty()
                     ? std::string("A relay of the message is listed by a block list")
                     : "The relay " + report.HitRelay + " is listed by " + report.HitZone + " (query " +
                           ReversedAddress(report.HitRelay) + "." + report.HitZone + ")";
    } else if (!report.Plausible) {
        listed = sender.empty() ? std::string("The message gives no sender address")
                                : "The sender address \"" + sender + "\" is not plausible";
    }
    if (!listed.empty())
        return listed +
               (report.Result == ResultGood ? ", but the option for listed messages keeps it as good." : ".");

    if (report.LookupAborted)
        return "Not checked against the block lists: the lookup was stopped.";
    return "The sender " + (sender.empty() ? std::string() : sender + " ") +
           "is in neither list: the option for unknown senders " + ActionText(report.Result) + ".";
}

} // namespace tarnwick::classify
