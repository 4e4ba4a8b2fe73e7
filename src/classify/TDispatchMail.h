#pragma once

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
};

// How one message was classified, for the command line's explanation.
struct TClassifyReport
{
    std::string Sender;
    bool WhiteListed = false;
    bool LookupRan = false;
    std::vector<std::string> Servers;
    std::vector<std::string> Relays;
    std::string LookupText;
    bool BlackListed = false;
    bool DatabaseHit = false;
    bool Plausible = true;
    std::string OptionUsed; // "", "DatabaseAction" or "ResponseAction"
    std::int32_t OptionValue = 0;
    std::uint8_t Result = ResultGood;
};

// The download-time classifier, one per download worker: decides from the sender address, the two
// lists, the spam databases and the two actions whether a message is good, goes into the trash, or
// is shown marked as spam or questionable. It keeps nothing between messages.
class TDispatchMail
{
public:
    // The enabled servers of "Databases.ini", the program's lists and options.
    explicit TDispatchMail(const accounts::TUserID& user);
    // The given spam-database zones (those that passed the receive's self-test).
    TDispatchMail(const accounts::TUserID& user, std::vector<std::string> zones);
    TDispatchMail(const accounts::TUserID& user, std::unique_ptr<TBlockListLookup> lookup,
                  TClassifySources sources);
    ~TDispatchMail();
    TDispatchMail(const TDispatchMail&) = delete;
    TDispatchMail& operator=(const TDispatchMail&) = delete;

    // 0 good, 2 trash, 3 spam or 8 questionable. Reads the message's FromAddress and Headers only.
    std::uint8_t ClassifyMessage(const accounts::TMailMessage& message);
    // The same decision with everything that went into it.
    TClassifyReport Explain(const accounts::TMailMessage& message);

    const accounts::TUserID& User() const { return User_; }

private:
    accounts::TUserID User_;
    std::unique_ptr<TBlockListLookup> Lookup_;
    TClassifySources Sources_;
};

// A few lines for a person: the sender, the relay addresses, the lookup text, the test that decided
// and the result.
std::string ExplainText(const TClassifyReport& report);

} // namespace tarnwick::classify
