// tarnwick-cli receive: the same receive as the program's, for cron jobs and servers; one line or
// JSON object per message, and on request the trash emptied on the server afterwards.

#include <algorithm>
#include <iostream>

#include "TCli.h"
#include "accounts/TAdmin.h"
#include "classify/TAddressLists.h"
#include "core/Errors.h"
#include "core/Modules.h"
#include "core/TJsonWriter.h"
#include "core/TPrompter.h"
#include "engine/TDeleteMail.h"
#include "engine/TDownloadMail.h"
#include "engine/TTrash.h"

namespace tarnwick::app {

namespace {

// Errors of the receive go to standard error as they happen; the rest is for windows.
class TCliReceiveObserver : public engine::TReceiveObserver
{
public:
    explicit TCliReceiveObserver(std::ostream& err)
        : Err_(err)
    {}
    void SetTask(const std::optional<std::string>&, const std::string&, std::optional<int>) override {}
    void SetOverallStatus(const std::string&) override {}
    void SetStatus(const std::string&) override {}
    void SetProgress(int) override {}
    void SetCaption(const std::string&) override {}
    void SetStatusBar(const std::string&) override {}
    void AddError(const std::string& text) override { Err_ << "tarnwick-cli: " << text << '\n'; }
    void AddNote(const std::string& text) override { Err_ << "tarnwick-cli: " << text << '\n'; }
    void RowAdded(std::size_t) override {}
    void Finished(engine::TReceiveOutcome) override {}

private:
    std::ostream& Err_;
};

class TCliPrompter : public core::TPrompter
{
public:
    explicit TCliPrompter(std::ostream& err)
        : Err_(err)
    {}
    void Inform(core::TMessageKind, const std::string& text) override
    {
        Err_ << "tarnwick-cli: " << text << '\n';
    }
    core::TAnswer Ask(core::TMessageKind, const std::string& text, const std::vector<core::TAnswer>&) override
    {
        Err_ << "tarnwick-cli: " << text << " (answered No)\n";
        return core::TAnswer::No;
    }

private:
    std::ostream& Err_;
};

std::string ClassificationOf(const accounts::TMailMessage& record)
{
    if (record.Trashed)
        return "trash";
    if (record.Subject.starts_with(" [ Spam ] "))
        return "spam";
    if (record.Subject.starts_with(" [ Questionable ] "))
        return "questionable";
    return "good";
}

int Receive(std::span<const std::string> args, TCliStreams& io)
{
    bool json = false;
    bool deleteTrashed = false;
    const std::string* name = nullptr;
    for (const std::string& word : args) {
        if (word == "--json")
            json = true;
        else if (word == "--delete-trashed")
            deleteTrashed = true;
        else if (word.starts_with("--") || name)
            throw TUsageError("receive: unexpected \"" + word + "\".");
        else
            name = &word;
    }

    const auto options = core::Options();
    accounts::TAdmin admin(core::Hive(), [] { return core::Options(); });
    accounts::TUser& user = FindCliAccount(admin, name);
    user.Settings = accounts::TAdmin::ReceiveSettingsOf(*options);
    const int index = admin.IndexOf(&user);

    TCliPrompter prompter(io.Err);
    classify::AddressLists().Load(core::Folders().DataFolder, prompter);

    engine::TReceiveConfig config;
    config.CacheFolder = core::CacheFolder(options->CacheDir);
    config.DownloadSpeed = options->DownloadSpeed;
    // Without a remembered password the first line of standard input is the password.
    config.PasswordPrompt = [&](const accounts::TUserID&) -> std::optional<std::pair<std::string, bool>> {
        std::string password;
        std::getline(io.In, password);
        if (!password.empty() && password.back() == '\r')
            password.pop_back();
        if (password.empty())
            return std::nullopt;
        return std::make_pair(password, false);
    };
    config.SaveAccount = [&] { admin.SaveUser(static_cast<std::size_t>(index)); };
    // A server that allows one login per minute gets the deletion in the session of the receive.
    config.KeepSession = deleteTrashed;

    TCliReceiveObserver observer(io.Err);
    engine::TDownloadMail receive(user, observer, std::move(config));
    const engine::TReceiveReport report = receive.Run();
    if (report.Outcome == engine::TReceiveOutcome::Cancelled) {
        io.Err << "tarnwick-cli: the account does not remember its password and standard input gave none.\n";
        return 1;
    }

    // What was received, copied before the deletion removes and renumbers records.
    std::vector<accounts::TMailMessage> records;
    for (std::size_t i = 0; i < user.Mails.Count(); ++i)
        records.push_back(*user.Mails.At(i));
    std::sort(records.begin(), records.end(),
              [](const auto& a, const auto& b) { return a.Number < b.Number; });

    std::size_t deleted = 0;
    bool deletionFailed = false;
    if (deleteTrashed && report.Outcome == engine::TReceiveOutcome::Finished && user.TrashNotEmpty) {
        std::int32_t serverCount = report.ServerCount;
        std::unique_ptr<retrieval::TPOP3Client> session = receive.TakeSession();
        engine::TDeleteMail deletion =
            session ? engine::TDeleteMail(user, std::move(session), prompter)
                    : engine::TDeleteMail(user, core::CacheFolder(options->CacheDir), prompter);
        try {
            const engine::TEmptyTrashResult result = engine::EmptyTrash(user, deletion, serverCount);
            deleted = result.Deleted;
            deletionFailed = !result.Ran || result.Kept > 0;
            for (const std::string& error : deletion.Errors())
                io.Err << "tarnwick-cli: " << error << '\n';
        } catch (const core::TError& error) {
            io.Err << "tarnwick-cli: " << error.what() << '\n';
            deletionFailed = true;
        }
    }

    if (json) {
        core::TJsonWriter writer;
        writer.BeginObject().Key("Account").String(user.ID().DisplayName);
        writer.Key("ServerCount").Int(report.ServerCount);
        writer.Key("Messages").BeginArray();
        for (const accounts::TMailMessage& record : records) {
            writer.BeginObject()
                .Key("Number")
                .Int(record.Number)
                .Key("Classification")
                .String(ClassificationOf(record))
                .Key("From")
                .String(record.FromText)
                .Key("Subject")
                .String(record.Subject)
                .Key("Size")
                .Int(record.Size)
                .Key("Reason")
                .String(record.Reason)
                .EndObject();
        }
        writer.EndArray();
        if (deleteTrashed)
            writer.Key("DeletedOnServer").Int(static_cast<std::int64_t>(deleted));
        writer.EndObject();
        io.Out << writer.Text() << '\n';
    } else {
        for (const accounts::TMailMessage& record : records)
            io.Out << record.Number << '\t' << ClassificationOf(record) << '\t' << record.FromText << '\t'
                   << record.Subject << '\t' << record.Size << '\n';
        if (deleteTrashed)
            io.Err << "tarnwick-cli: " << deleted << " trashed message(s) deleted on the server\n";
    }
    return report.Outcome == engine::TReceiveOutcome::Finished && !deletionFailed ? 0 : 1;
}

const TCliCommand Commands[] = {
    {"receive", "download and classify the headers of an account's messages",
     "Usage: tarnwick-cli receive [ACCOUNT] [--json] [--delete-trashed]\n\n"
     "Receives the account (display name or key name; the default account when missing) as the\n"
     "program does, with its speed level, time-out and classification options, the address lists\n"
     "and the enabled spam databases. Prints one line per message, in server order:\n"
     "number, classification (good, trash, spam, questionable), sender, subject and size,\n"
     "separated by tabs; with --json one object with the messages instead, each also with the\n"
     "Reason of its classification. With\n"
     "--delete-trashed the messages classified as trash are then deleted on the server, after\n"
     "the same verification as the program's Empty Trash. When the account does not remember its\n"
     "password, the first line of standard input is taken. Exit status 1 when the receive did not\n"
     "finish or the deletion was refused; the reason goes to standard error.\n",
     Receive},
};

} // namespace

std::span<const TCliCommand> ReceiveCommands()
{
    return Commands;
}

} // namespace tarnwick::app
