#include "TDispatchMail.h"

#include <sstream>

#include "TSearchAddress.h"
#include "accounts/TMailMessage.h"
#include "core/Modules.h"

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

TClassifySources TClassifySources::Process()
{
    return {[] { return AddressLists().Snapshot(); }, [] { return core::Options(); }};
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
    if (IsEnabledMember(*pending.Lists_.White, report.Sender)) {
        report.WhiteListed = true;
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

    report.BlackListed = IsEnabledMember(*Lists_.Black, report.Sender);
    report.DatabaseHit = report.LookupText.find('1') != std::string::npos;
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

} // namespace tarnwick::classify
