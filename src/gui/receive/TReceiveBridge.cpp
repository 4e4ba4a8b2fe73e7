#include "gui/receive/TReceiveBridge.h"

#include <array>
#include <cstdio>

#include "gui/receive/TfReceivingMail.h"

namespace tarnwick::gui {

namespace {

QString Text(const std::string& text)
{
    return QString::fromStdString(text);
}

} // namespace

TReceiveBridge::TReceiveBridge(TfReceivingMail* window, TRowsSink rows, TFinishedSink finished,
                               QObject* parent)
    : QObject(parent)
    , Window_(window)
    , Rows_(std::move(rows))
    , Finished_(std::move(finished))
{}

TReceiveBridge::~TReceiveBridge() = default;

void TReceiveBridge::SetTask(const std::optional<std::string>& caption, const std::string& status,
                             std::optional<int> spamServers)
{
    std::optional<QString> text;
    if (caption)
        text = Text(*caption);
    Post({TKind::Task, [text, status = Text(status), spamServers](TfReceivingMail& w) {
              w.SetTask(text, status, spamServers);
          }});
}

void TReceiveBridge::SetOverallStatus(const std::string& text)
{
    Post({TKind::OverallStatus, [text = Text(text)](TfReceivingMail& w) { w.SetOverallStatus(text); }});
}

void TReceiveBridge::SetStatus(const std::string& text)
{
    Post({TKind::Status, [text = Text(text)](TfReceivingMail& w) { w.SetStatus(text); }});
}

void TReceiveBridge::SetProgress(int percent)
{
    Post({TKind::Progress, [percent](TfReceivingMail& w) { w.SetProgress(percent); }});
}

void TReceiveBridge::SetCaption(const std::string& text)
{
    Post({TKind::Caption, [text = Text(text)](TfReceivingMail& w) { w.SetCaption(text); }});
}

void TReceiveBridge::SetStatusBar(const std::string& text)
{
    Post({TKind::StatusBar, [text = Text(text)](TfReceivingMail& w) { w.SetStatusBar(text); }});
}

void TReceiveBridge::AddError(const std::string& text)
{
    // Every error of a receive also goes to standard error (the session's journal), so its cause is
    // still there after the window was closed.
    std::fprintf(stderr, "tarnwick: %s\n", text.c_str());
    Post({TKind::Error, [text = Text(text)](TfReceivingMail& w) { w.AddError(text); }});
}

void TReceiveBridge::AddNote(const std::string& text)
{
    std::fprintf(stderr, "tarnwick: %s\n", text.c_str());
    Post({TKind::Error, [text = Text(text)](TfReceivingMail& w) { w.AddNote(text); }});
}

void TReceiveBridge::RowAdded(std::size_t index)
{
    Post({TKind::Row, {}, index});
}

void TReceiveBridge::Finished(engine::TReceiveOutcome outcome)
{
    Post({TKind::Finished, {}, 0, outcome});
}

void TReceiveBridge::Post(TCall call)
{
    bool first = false;
    {
        std::lock_guard lock(Mutex_);
        first = Waiting_.empty();
        Waiting_.push_back(std::move(call));
    }
    if (first)
        QMetaObject::invokeMethod(this, &TReceiveBridge::Flush, Qt::QueuedConnection);
}

void TReceiveBridge::Flush()
{
    std::vector<TCall> calls;
    {
        std::lock_guard lock(Mutex_);
        calls.swap(Waiting_);
    }
    constexpr std::size_t textKinds = static_cast<std::size_t>(TKind::LastText) + 1;
    std::array<std::size_t, textKinds> newest{};
    for (std::size_t i = 0; i < calls.size(); ++i)
        if (calls[i].Kind <= TKind::LastText)
            newest[static_cast<std::size_t>(calls[i].Kind)] = i;

    std::vector<std::size_t> rows;
    const auto appendRows = [&] {
        if (!rows.empty() && Rows_)
            Rows_(rows);
        rows.clear();
    };
    for (std::size_t i = 0; i < calls.size(); ++i) {
        TCall& call = calls[i];
        if (call.Kind == TKind::Row) {
            rows.push_back(call.Row);
            continue;
        }
        if (call.Kind <= TKind::LastText && newest[static_cast<std::size_t>(call.Kind)] != i)
            continue;
        appendRows();
        if (call.Kind == TKind::Finished) {
            if (Finished_)
                Finished_(call.Outcome);
        } else if (Window_) {
            call.Apply(*Window_);
        }
    }
    appendRows();
}

} // namespace tarnwick::gui
