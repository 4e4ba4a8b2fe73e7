// The main window during a receive, on the offscreen platform: a shown TfMain receives an account's
// maildrop through the receive command (receiving window, bridge, rows appended to lvMessages,
// scrolling following with AutoscrollonAdd "1"), while a 1 ms heartbeat timer on the user-interface
// thread records how long the event loop was ever away. Figures: time to the first row, time to the
// end, rows, the longest and 99th-percentile gaps between heartbeats, and the CPU time the
// user-interface thread spent (heartbeat included), which the machine's load does not inflate.
// Usage: receive_window_bench HOST PORT USER PASSWORD [CONNECTIONS] [REPETITIONS]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include "accounts/TAdmin.h"
#include "core/Modules.h"
#include "core/TOptionRec.h"
#include "core/TPrompter.h"
#include "engine/TDownloadMail.h"
#include "gui/main/TMessageListModel.h"
#include "gui/main/TfMain.h"

using namespace tarnwick;

namespace {

class TNoPrompter : public core::TPrompter
{
public:
    void Inform(core::TMessageKind, const std::string& text) override
    {
        std::fprintf(stderr, "receive_window_bench: %s\n", text.c_str());
    }
    core::TAnswer Ask(core::TMessageKind, const std::string&,
                      const std::vector<core::TAnswer>& buttons) override
    {
        return buttons.back();
    }
};

// CPU time (user and system) of the calling thread so far, in milliseconds.
double ThreadCpuMs()
{
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 5) {
        std::fprintf(stderr,
                     "usage: receive_window_bench HOST PORT USER PASSWORD [CONNECTIONS] [REPETITIONS]\n");
        return 2;
    }
    const int connections = argc > 5 ? std::atoi(argv[5]) : 8;
    const int repetitions = argc > 6 ? std::atoi(argv[6]) : 3;
    const std::string home =
        std::filesystem::temp_directory_path() / ("tarnwick-receive-bench-" + std::to_string(::getpid()));
    ::setenv("TARNWICK_HOME", home.c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    std::vector<std::string> notices;
    core::InitializeModules(home + "/bin/tarnwick", core::TEnvironment::FromProcess(), notices);
    core::LoadOptionsAtStart();
    {
        core::TOptionRec options = *core::Options();
        options.AutoscrollonAdd = "1";
        core::PublishOptions(options);
    }
    {
        TNoPrompter prompter;
        accounts::TAdmin admin(core::Hive(), [] { return core::Options(); });
        accounts::TUserID id;
        id.DisplayName = "Bench";
        id.Host = argv[1];
        id.Port = std::atoi(argv[2]);
        id.AccountName = argv[3];
        id.Password = argv[4];
        id.RememberPassword = true;
        admin.AddUser(id);
        admin.SaveUsers(); // the window loads the accounts from the store
        gui::TfMain window(admin, prompter);
        admin.MakeInitialCurrent();
        window.ReceiveConfigHook = [](engine::TReceiveConfig& config) {
            config.Zones = std::vector<std::string>{};
        };
        window.resize(800, 500);
        window.show();
        QApplication::processEvents();

        for (int run = 0; run < repetitions; ++run) {
            admin.CurrentUser()->Settings.Connections = connections;
            QElapsedTimer clock;
            std::vector<qint64> gaps;
            qint64 lastTick = 0;
            qint64 firstRow = -1;
            QTimer heartbeat;
            heartbeat.setTimerType(Qt::PreciseTimer);
            heartbeat.setInterval(1);
            QObject::connect(&heartbeat, &QTimer::timeout, [&] {
                const qint64 now = clock.nsecsElapsed();
                gaps.push_back(now - lastTick);
                lastTick = now;
            });
            const auto rows = QObject::connect(&window.Messages(), &QAbstractItemModel::rowsInserted, [&] {
                if (firstRow < 0)
                    firstRow = clock.nsecsElapsed();
            });
            bool ended = false;
            const auto end = QObject::connect(&window, &gui::TfMain::ReceiveEnded, [&] { ended = true; });
            const double cpuBefore = ThreadCpuMs();
            clock.start();
            heartbeat.start();
            window.ReceiveClick(-1);
            while (!ended)
                QApplication::processEvents(QEventLoop::WaitForMoreEvents);
            const qint64 total = clock.nsecsElapsed();
            const double cpu = ThreadCpuMs() - cpuBefore;
            heartbeat.stop();
            QObject::disconnect(rows);
            QObject::disconnect(end);
            std::sort(gaps.begin(), gaps.end());
            const double p99 = gaps.empty() ? 0 : gaps[gaps.size() * 99 / 100] / 1e6;
            const double longest = gaps.empty() ? 0 : gaps.back() / 1e6;
            std::printf("%d connection(s): %d rows; first row after %.1f ms, end after %.1f ms; event loop "
                        "gaps: longest %.1f ms, 99th percentile %.2f ms, %zu ticks; user-interface thread "
                        "CPU %.1f ms\n",
                        connections, window.Messages().rowCount(), firstRow / 1e6, total / 1e6, longest, p99,
                        gaps.size(), cpu);
        }
    }
    core::FinalizeModules();
    std::filesystem::remove_all(home);
    return 0;
}
