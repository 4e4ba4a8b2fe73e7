#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "TAddressLists.h"
#include "accounts/TUserID.h"
#include "core/TOptionRec.h"

namespace tarnwick::accounts {
struct TMailMessage;
}

namespace tarnwick::classify {

class TBlockListLookup;
class TLookupCache;
class TPendingLookup;

// The classification result, one byte.
inline constexpr std::uint8_t ResultGood = 0;
inline constexpr std::uint8_t ResultTrash = 2;
inline constexpr std::uint8_t ResultSpam = 3;
inline constexpr std::uint8_t ResultQuestionable = 8;

// "good", "trash", "spam", "questionable".
std::string ResultName(std::uint8_t result);

// Where the classifier reads the lists and the options; each message reads them anew.
struct TClassifySources
{
    std::function<TListsState()> Lists;
    std::function<std::shared_ptr<const core::TOptionRec>()> Options;

    // The program's lists (AddressLists()) and options (core::Options()).
    static TClassifySources Process();
    // The given lists, whatever is published meanwhile (a receive's snapshot), and the program's
    // options.
    static TClassifySources WithLists(TListsState lists);
};

// How one message was classified, for the command line's explanation and the record's reason.
struct TClassifyReport
{
    std::string Sender;
    bool WhiteListed = false;
    // The enabled list entry that matched the sender (trimmed; it may differ from the sender in
    // letter case); empty when the sender is in neither list.
    std::string WhiteEntry;
    std::string BlackEntry;
    bool LookupRan = false;
    std::vector<std::string> Servers;
    std::vector<std::string> Relays; // those asked about: at most MaxRelayAddresses
    std::size_t RelaysFound = 0;     // the distinct relay addresses of the header
    std::string LookupText;
    // The lookup was stopped (Abort): the unanswered queries counted as not listed, so the result
    // may be milder than a whole lookup would give. Not a verdict to rely on.
    bool LookupAborted = false;
    bool BlackListed = false;
    bool DatabaseHit = false;
    // The first listing of the lookup, in address and server order: the relay address and the
    // zone that lists it. Empty when nothing is listed (or the lookup gave no such address).
    std::string HitRelay;
    std::string HitZone;
    bool Plausible = true;
    std::string OptionUsed; // "", "DatabaseAction" or "ResponseAction"
    std::int32_t OptionValue = 0;
    std::uint8_t Result = ResultGood;
};

// One message's classification under way (TDispatchMail::Begin): the lists and options as they
// were when it began, what the white list said, and the block-list lookup, whose answers may still
// be coming. Finish decides as TDispatchMail::Explain does. Movable; Ready and Finish from the
// thread that holds it.
class TPendingClassification
{
public:
    // The lookup is over (or there is none): Finish does not wait.
    bool Ready() const;
    // Waits for the lookup (at most its time-out, and not at all once it was stopped) and decides.
    TClassifyReport Finish() const;

private:
    friend class TDispatchMail;

    TClassifyReport Report_; // the sender, the servers and the white list's say so far
    TListsState Lists_;
    std::shared_ptr<const core::TOptionRec> Options_;
    std::shared_ptr<TPendingLookup> Lookup_; // none for a white-listed sender
};

// The download-time classifier, one per download worker: decides from the sender address, the two
// lists, the spam databases and the two actions whether a message is good, goes into the trash, or
// is shown marked as spam or questionable. It keeps nothing between messages; the answers of the
// spam databases may be shared with the other workers through a TLookupCache.
//
// Begin starts a message's classification and returns before the spam databases have answered, so
// that the worker can fetch the next message meanwhile; Finish decides once the answers are in.
// ClassifyMessage and Explain do both at once.
//
// Abort() (any thread, for the receive's Stop) ends a running spam-database lookup at once and makes
// every later one return at once. The classification still completes, deterministically: answers
// that had not arrived count as not listed, exactly like a time-out, so a message may come out as
// ResponseAction decides (good, when that is 2) where a whole lookup would have found a listing.
// Aborted() and TClassifyReport::LookupAborted say so; a caller that stops must not take such a
// result as the message's verdict (the receive is ending and its records are not kept as checked).
class TDispatchMail
{
public:
    // The enabled servers of "Databases.ini", the program's lists and options.
    explicit TDispatchMail(const accounts::TUserID& user);
    // The given spam-database zones (those that passed the receive's self-test).
    TDispatchMail(const accounts::TUserID& user, std::vector<std::string> zones);
    // The same asking through a cache of answers shared with other classifiers (and its signal).
    TDispatchMail(const accounts::TUserID& user, std::vector<std::string> zones,
                  std::shared_ptr<TLookupCache> cache);
    TDispatchMail(const accounts::TUserID& user, std::unique_ptr<TBlockListLookup> lookup,
                  TClassifySources sources);
    ~TDispatchMail();
    TDispatchMail(const TDispatchMail&) = delete;
    TDispatchMail& operator=(const TDispatchMail&) = delete;

    // 0 good, 2 trash, 3 spam or 8 questionable. Reads the message's FromAddress and Headers only.
    std::uint8_t ClassifyMessage(const accounts::TMailMessage& message);
    // The same decision with everything that went into it.
    TClassifyReport Explain(const accounts::TMailMessage& message);
    // Takes the lists and options, consults the white list and starts the lookup; returns at once.
    // The message is not needed afterwards.
    TPendingClassification Begin(const accounts::TMailMessage& message);

    // Stops the lookup now and for good (TBlockListLookup::Abort). Any thread.
    void Abort() noexcept;
    // Abort() was called on this classifier.
    bool Aborted() const noexcept { return Aborted_.load(std::memory_order_acquire); }

    const accounts::TUserID& User() const { return User_; }

private:
    accounts::TUserID User_;
    std::unique_ptr<TBlockListLookup> Lookup_;
    TClassifySources Sources_;
    std::atomic<bool> Aborted_ = false;
};

// A few lines for a person: the sender, the relay addresses, the lookup text, the test that decided
// and the result.
std::string ExplainText(const TClassifyReport& report);

// One English sentence on why the message got its class, kept on the record (TMailMessage::Reason):
// the white list; else the black list, a block-list listing (relay, zone and the query asked), an
// implausible sender, in that order; else a stopped lookup; else the option for unknown senders and
// what it does. A listed message that the option for listed messages keeps good says so.
std::string ReasonText(const TClassifyReport& report);

} // namespace tarnwick::classify
