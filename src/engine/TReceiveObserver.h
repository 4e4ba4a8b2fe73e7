#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace tarnwick::engine {

// How a receive ended.
enum class TReceiveOutcome
{
    Finished,     // every message of the maildrop is in the list
    Interrupted,  // Stop
    Disconnected, // login refused, connection lost, or messages missing
    FailedToConnect,
    Cancelled, // the password prompt was cancelled; nothing happened
};

// Everything the receiving window shows of a receive. The engine calls it from the thread that
// started the receive and from its own threads, one call at a time and in the order the events
// happened; the GUI forwards each call to its thread, tests record them.
class TReceiveObserver
{
public:
    virtual ~TReceiveObserver() = default;
    // The task row: a caption (the host in single quotes, shown with the working icon) or none
    // (the ended icon), the status, and the number of spam servers or none (an empty cell).
    virtual void SetTask(const std::optional<std::string>& caption, const std::string& status,
                         std::optional<int> spamServers) = 0;
    virtual void SetOverallStatus(const std::string& text) = 0;
    virtual void SetStatus(const std::string& text) = 0;
    virtual void SetProgress(int percent) = 0;
    // The whole window caption.
    virtual void SetCaption(const std::string& text) = 0;
    virtual void SetStatusBar(const std::string& text) = 0;
    virtual void AddError(const std::string& text) = 0;
    // Something the user should know about how the receive goes that is not a failure (the server
    // allows only one session); shown beside the errors with an information icon.
    virtual void AddNote(const std::string& text) = 0;
    // A record at this index of the account's Mails is to be shown (good, spam or questionable).
    // The list may grow meanwhile: read it under DownloadLock().
    virtual void RowAdded(std::size_t index) = 0;
    // The receive is over; Stop is to be disabled and the animation stopped. The window closes
    // itself only after Finished.
    virtual void Finished(TReceiveOutcome outcome) = 0;
};

} // namespace tarnwick::engine
