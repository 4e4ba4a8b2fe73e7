#pragma once

#include <memory>
#include <thread>

#include <QObject>
#include <QString>

#include "gui/message/TRecordRef.h"

namespace tarnwick::core {
class TPrompter;
}
namespace tarnwick::engine {
class TFetchMessage;
struct TFetchOutcome;
} // namespace tarnwick::engine

namespace tarnwick::gui {

class TMessageBrowser;

// Shows a record's whole message in a browser: at once from the cache when the cache file holds
// it, otherwise after downloading it through a short POP3 session of its own. The download runs on
// a thread, so the windows stay usable; meanwhile the browser shows the waiting page. The session
// stores the message only when the server's message of that number is still the record's (its
// header and unique id), and is always closed.
//
// What the user is told: a server that cannot be reached or refuses the login gives the question
// whether to try again (with the cause); a server whose message is no longer the record's gives the
// message to download again and an empty page; any other failure is shown as an error after the
// clean-up, with the waiting page left in the browser.
class TFullMessageLoader : public QObject
{
    Q_OBJECT

public:
    TFullMessageLoader(core::TPrompter& prompter, TMessageBrowser& browser, QObject* parent = nullptr);
    ~TFullMessageLoader() override;

    // Shows the record's message. A download still running for an earlier call is abandoned first.
    void Show(accounts::TUser& user, const TRecordRef& ref);
    // Ends a running download; its message is not shown. Done follows when one ran.
    void Abandon();
    bool Downloading() const { return Fetch_ != nullptr; }

signals:
    // A download begins (the owner shows "Downloading mail...please wait.").
    void DownloadStarted();
    // The show is over: the message is shown, or the download ended or was abandoned, and its
    // session is closed. Emitted once for every Show, at once when the cache held the message.
    void Done();

private:
    void StartDownload();
    void DownloadOver(unsigned download, const engine::TFetchOutcome& outcome);
    void Join();
    // The record's message is in the cache: marks its record (when still in the list) as fetched.
    void MarkFetched();

    core::TPrompter& Prompter_;
    TMessageBrowser& Browser_;
    accounts::TUser* User_ = nullptr;
    TRecordRef Ref_;
    std::string CacheFolder_;
    std::unique_ptr<engine::TFetchMessage> Fetch_;
    std::thread Thread_;
    // Counts the downloads started, so that the answer of an abandoned one, still queued when the
    // next one starts, is not taken for the answer of the next.
    unsigned Download_ = 0;
};

// The file name of the record's cache file in the cache folder of the options.
QString CachePathOf(const accounts::TMailMessage& record);
// The page shown while a message downloads, in the program folder ("Wait.html").
QString WaitPagePath();

} // namespace tarnwick::gui
