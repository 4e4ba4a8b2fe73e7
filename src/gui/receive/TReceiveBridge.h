#pragma once

#include <cstddef>
#include <functional>
#include <mutex>
#include <vector>

#include <QObject>
#include <QPointer>

#include "engine/TReceiveObserver.h"

namespace tarnwick::gui {

class TfReceivingMail;

// Hands a receive's observer calls from the engine's threads to the user-interface thread, in the
// order they were made. Calls wait in a queue; one queued event per burst empties it, so a fast
// receive costs the event loop a few events per batch instead of several per message. In a batch,
// the rows of consecutive RowAdded calls reach the list in one append, and of repeated status,
// progress and caption texts only the newest is shown.
class TReceiveBridge : public QObject, public engine::TReceiveObserver
{
    Q_OBJECT

public:
    using TRowsSink = std::function<void(const std::vector<std::size_t>& indices)>;
    using TFinishedSink = std::function<void(engine::TReceiveOutcome outcome)>;

    TReceiveBridge(TfReceivingMail* window, TRowsSink rows, TFinishedSink finished,
                   QObject* parent = nullptr);
    ~TReceiveBridge() override;

    void SetTask(const std::optional<std::string>& caption, const std::string& status,
                 std::optional<int> spamServers) override;
    void SetOverallStatus(const std::string& text) override;
    void SetStatus(const std::string& text) override;
    void SetProgress(int percent) override;
    void SetCaption(const std::string& text) override;
    void SetStatusBar(const std::string& text) override;
    void AddError(const std::string& text) override;
    void AddNote(const std::string& text) override;
    void RowAdded(std::size_t index) override;
    void Finished(engine::TReceiveOutcome outcome) override;

    // Runs every waiting call now (the queued event does this by itself).
    void Flush();

private:
    // What a waiting call changes; calls of the kinds up to LastText replace each other.
    enum class TKind
    {
        OverallStatus,
        Status,
        Progress,
        Caption,
        StatusBar,
        LastText = StatusBar,
        Task,
        Error,
        Row,
        Finished,
    };
    struct TCall
    {
        TKind Kind;
        std::function<void(TfReceivingMail&)> Apply; // not for rows and the end
        std::size_t Row = 0;
        engine::TReceiveOutcome Outcome = engine::TReceiveOutcome::Finished;
    };
    void Post(TCall call);

    QPointer<TfReceivingMail> Window_;
    TRowsSink Rows_;
    TFinishedSink Finished_;
    std::mutex Mutex_;
    std::vector<TCall> Waiting_;
};

} // namespace tarnwick::gui
