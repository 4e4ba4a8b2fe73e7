#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "engine/TReceiveObserver.h"

namespace tarnwick::test {

// Records what a receive shows, each call as one line ("status: Connecting ..."), and can act on a
// line as it arrives (a Stop pressed at a given moment).
class TReceiveRecorder : public engine::TReceiveObserver
{
public:
    void SetTask(const std::optional<std::string>& caption, const std::string& status,
                 std::optional<int> spamServers) override
    {
        Add("task: " + caption.value_or("-") + " | " + status + " | " +
            (spamServers ? std::to_string(*spamServers) + " server(s)" : ""));
    }
    void SetOverallStatus(const std::string& text) override { Add("overall: " + text); }
    void SetStatus(const std::string& text) override { Add("status: " + text); }
    void SetProgress(int percent) override { Add("progress: " + std::to_string(percent)); }
    void SetCaption(const std::string& text) override { Add("caption: " + text); }
    void SetStatusBar(const std::string& text) override { Add("statusbar: " + text); }
    void AddError(const std::string& text) override { Add("error: " + text); }
    void AddNote(const std::string& text) override { Add("note: " + text); }
    void RowAdded(std::size_t index) override
    {
        std::lock_guard lock(Mutex_);
        Rows.push_back(index);
    }
    void Finished(engine::TReceiveOutcome outcome) override
    {
        {
            std::lock_guard lock(Mutex_);
            ++FinishedCalls;
            Outcome = outcome;
        }
        Add("finished");
    }

    std::vector<std::string> Lines() const
    {
        std::lock_guard lock(Mutex_);
        return Lines_;
    }
    // The lines that start with `prefix`.
    std::vector<std::string> LinesStarting(const std::string& prefix) const
    {
        std::vector<std::string> found;
        for (const std::string& line : Lines())
            if (line.starts_with(prefix))
                found.push_back(line);
        return found;
    }

    std::function<void(const std::string&)> OnLine;
    std::vector<std::size_t> Rows;
    int FinishedCalls = 0;
    engine::TReceiveOutcome Outcome = engine::TReceiveOutcome::Disconnected;

private:
    void Add(const std::string& line)
    {
        {
            std::lock_guard lock(Mutex_);
            Lines_.push_back(line);
        }
        if (OnLine)
            OnLine(line);
    }

    mutable std::mutex Mutex_;
    std::vector<std::string> Lines_;
};

} // namespace tarnwick::test
