#pragma once

#include <iosfwd>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::accounts {
class TAdmin;
class TUser;
} // namespace tarnwick::accounts

namespace tarnwick::app {

struct TCliStreams
{
    std::istream& In;
    std::ostream& Out;
    std::ostream& Err;
};

// A wrong command line: the message is shown with the command's usage, exit status 2.
class TUsageError : public std::exception
{
public:
    explicit TUsageError(std::string text)
        : Text_(std::move(text))
    {}
    const char* what() const noexcept override { return Text_.c_str(); }

private:
    std::string Text_;
};

// One command of tarnwick-cli: its name, a line for the overview, its full help, and the code
// that runs it with the words after its name. It returns the exit status.
struct TCliCommand
{
    std::string_view Name;
    std::string_view Summary;
    std::string_view Help;
    int (*Run)(std::span<const std::string> args, TCliStreams& io);
};

// The commands of each area, gathered by the dispatcher.
std::span<const TCliCommand> SettingsCommands();
std::span<const TCliCommand> InspectCommands();
std::span<const TCliCommand> ListCommands();
std::span<const TCliCommand> RulesCommands();
std::span<const TCliCommand> AccountCommands();
std::span<const TCliCommand> ReceiveCommands();

// The account named by display name or key name; the default account (else the first) when no
// name is given. Loads the accounts; throws core::TError when there is no such account.
accounts::TUser& FindCliAccount(accounts::TAdmin& admin, const std::string* name,
                                const char* noAccountText = nullptr);

// Runs the command line (without the program name); returns the exit status.
int RunCli(std::span<const std::string> args, const std::string& executablePath, TCliStreams& io);

bool IsHelpWord(std::string_view word);

} // namespace tarnwick::app
