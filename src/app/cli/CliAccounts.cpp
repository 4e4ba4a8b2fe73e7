// tarnwick-cli accounts / add-account: the accounts of the settings store, for headless setups.
// The password is read from standard input only, so it never shows in a process list or a shell
// history.

#include <iostream>

#include "TCli.h"
#include "accounts/TAdmin.h"
#include "core/Errors.h"
#include "core/Modules.h"
#include "core/TextUtils.h"

namespace tarnwick::app {

namespace {

const char* SecurityName(accounts::TConnectionSecurity security)
{
    switch (security) {
    case accounts::TConnectionSecurity::StartTls:
        return "starttls";
    case accounts::TConnectionSecurity::Tls:
        return "tls";
    default:
        return "none";
    }
}

int Accounts(std::span<const std::string> args, TCliStreams& io)
{
    if (!args.empty())
        throw TUsageError("accounts takes no arguments.");
    accounts::TAdmin admin(core::Hive(), [] { return core::Options(); });
    admin.LoadUsers();
    for (std::size_t i = 0; i < admin.Count(); ++i) {
        const accounts::TUserID& id = admin.UserAt(i).ID();
        io.Out << id.KeyName << '\t' << id.DisplayName << '\t' << id.AccountName << '@' << id.Host << ':'
               << id.Port << '\t' << SecurityName(id.Security) << (id.IsDefault ? "\tdefault" : "") << '\n';
    }
    return 0;
}

int AddAccount(std::span<const std::string> args, TCliStreams& io)
{
    accounts::TUserID id;
    id.ShortVis = true;
    id.RememberPassword = true;
    bool portGiven = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& option = args[i];
        if (option == "--default") {
            id.IsDefault = true;
            continue;
        }
        if (option == "--no-remember") {
            id.RememberPassword = false;
            continue;
        }
        if (i + 1 >= args.size())
            throw TUsageError("add-account: " + option + " needs a value.");
        const std::string& value = args[++i];
        if (option == "--name") {
            id.DisplayName = value;
        } else if (option == "--host") {
            id.Host = value;
        } else if (option == "--user") {
            id.AccountName = value;
        } else if (option == "--organization") {
            id.Organization = value;
        } else if (option == "--port") {
            const std::optional<std::int32_t> port = core::ParseInt32(value);
            if (!port || *port < 1 || *port > 65535)
                throw TUsageError("add-account: the port must be a number from 1 to 65535.");
            id.Port = *port;
            portGiven = true;
        } else if (option == "--security") {
            if (value == "none")
                id.Security = accounts::TConnectionSecurity::None;
            else if (value == "starttls")
                id.Security = accounts::TConnectionSecurity::StartTls;
            else if (value == "tls")
                id.Security = accounts::TConnectionSecurity::Tls;
            else
                throw TUsageError("add-account: the security is none, starttls or tls.");
        } else {
            throw TUsageError("add-account: unknown option " + option + ".");
        }
    }
    if (id.DisplayName.empty() || id.Host.empty() || id.AccountName.empty())
        throw TUsageError("add-account needs --name, --host and --user.");
    if (!portGiven && id.Security == accounts::TConnectionSecurity::Tls)
        id.Port = accounts::DefaultPop3sPort;
    if (id.RememberPassword) {
        std::string password;
        std::getline(io.In, password);
        if (!password.empty() && password.back() == '\r')
            password.pop_back();
        if (password.empty())
            throw core::TError("add-account reads the password from standard input, and it gave none.");
        id.Password = password;
    }

    accounts::TAdmin admin(core::Hive(), [] { return core::Options(); });
    admin.LoadUsers();
    for (std::size_t i = 0; i < admin.Count(); ++i)
        if (admin.UserAt(i).ID().DisplayName == id.DisplayName)
            throw core::TError("There is already an account named \"" + id.DisplayName + "\".");
    if (id.IsDefault)
        for (std::size_t i = 0; i < admin.Count(); ++i)
            admin.UserAt(i).MutableID().IsDefault = false;
    const std::size_t index = admin.AddUser(id);
    admin.SaveUsers();
    io.Out << admin.UserAt(index).ID().KeyName << '\n';
    return 0;
}

const TCliCommand Commands[] = {
    {"accounts", "list the accounts",
     "Usage: tarnwick-cli accounts\n\n"
     "Lists the accounts, one per line: key name, display name, user@host:port, security\n"
     "(none, starttls, tls) and \"default\" for the default account.\n",
     Accounts},
    {"add-account", "add a POP3 account (password from standard input)",
     "Usage: tarnwick-cli add-account --name NAME --host HOST --user USER\n"
     "                                [--port PORT] [--security none|starttls|tls]\n"
     "                                [--organization TEXT] [--default] [--no-remember]\n\n"
     "Adds an account and prints its key name. The password is the first line of standard input\n"
     "(for example: printf '%s\\n' \"$PASSWORD\" | tarnwick-cli add-account ...); it is never taken\n"
     "from the command line. With --no-remember no password is stored and each receive reads it\n"
     "from standard input. The port is 110, or 995 with --security tls, unless given.\n",
     AddAccount},
};

} // namespace

std::span<const TCliCommand> AccountCommands()
{
    return Commands;
}

accounts::TUser& FindCliAccount(accounts::TAdmin& admin, const std::string* name, const char* noAccountText)
{
    admin.LoadUsers();
    if (!admin.HasUsers())
        throw core::TError(noAccountText
                               ? noAccountText
                               : "There is no account yet. Add one with \"tarnwick-cli add-account\".");
    if (name == nullptr) {
        const int index = admin.DefaultIndex();
        return admin.UserAt(index >= 0 ? static_cast<std::size_t>(index) : 0);
    }
    for (std::size_t i = 0; i < admin.Count(); ++i)
        if (admin.UserAt(i).ID().DisplayName == *name)
            return admin.UserAt(i);
    for (std::size_t i = 0; i < admin.Count(); ++i)
        if (admin.UserAt(i).ID().KeyName == *name)
            return admin.UserAt(i);
    throw core::TError("There is no account named \"" + *name + "\".");
}

} // namespace tarnwick::app
