// The main window's two speed goals, measured on the offscreen platform:
//  - cold start: the `tarnwick` program started until its main window is shown (it quits there
//    when TARNWICK_EXIT_WHEN_SHOWN is set), in a fresh home each time;
//  - "All messages" for N records: from the click to the painted rows, with the process's memory.
// Usage: main_window_bench TARNWICK_PROGRAM [RECORDS] [REPETITIONS]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <QApplication>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTreeView>

#include "accounts/TAdmin.h"
#include "core/Modules.h"
#include "core/TPrompter.h"
#include "gui/main/TMessageListModel.h"
#include "gui/main/TfMain.h"
#include "views/TAbstractFiltering.h"

using namespace tarnwick;
using Clock = std::chrono::steady_clock;

namespace {

class TNoPrompter : public core::TPrompter
{
public:
    void Inform(core::TMessageKind, const std::string&) override {}
    core::TAnswer Ask(core::TMessageKind, const std::string&,
                      const std::vector<core::TAnswer>& buttons) override
    {
        return buttons.back();
    }
};

double Ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Resident memory in MiB, and its peak.
std::pair<double, double> Memory()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    double rss = 0, hwm = 0;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            rss = std::atof(line.c_str() + 6) / 1024;
        if (line.rfind("VmHWM:", 0) == 0)
            hwm = std::atof(line.c_str() + 6) / 1024;
    }
    return {rss, hwm};
}

// A fresh home with one saved account: a start without any account would wait in the first-start
// wizard instead of showing the main window.
void SeedAccount(const std::string& home)
{
    ::setenv("TARNWICK_HOME", home.c_str(), 1);
    std::vector<std::string> notices;
    core::InitializeModules(home + "/bin/tarnwick", core::TEnvironment::FromProcess(), notices);
    {
        accounts::TAdmin admin(core::Hive(), [] { return core::Options(); });
        accounts::TUserID id;
        id.AccountName = "bench";
        id.DisplayName = "Bench";
        id.Host = "pop.example.org";
        admin.AddUser(id);
        admin.SaveUsers();
    }
    core::FinalizeModules();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: main_window_bench TARNWICK_PROGRAM [RECORDS] [REPETITIONS]\n");
        return 2;
    }
    const int records = argc > 2 ? std::atoi(argv[2]) : 100000;
    const int repetitions = argc > 3 ? std::atoi(argv[3]) : 7;
    const std::string base =
        std::filesystem::temp_directory_path() / ("tarnwick-bench-" + std::to_string(::getpid()));
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);

    std::vector<double> starts;
    for (int i = 0; i < repetitions; ++i) {
        const std::string home = base + "/start" + std::to_string(i);
        std::filesystem::create_directories(home + "/run");
        std::filesystem::permissions(home + "/run", std::filesystem::perms::owner_all);
        SeedAccount(home);
        QProcess process;
        auto env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TARNWICK_HOME"), QString::fromStdString(home));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), QString::fromStdString(home + "/run"));
        env.insert(QStringLiteral("TARNWICK_EXIT_WHEN_SHOWN"), QStringLiteral("1"));
        process.setProcessEnvironment(env);
        const auto t0 = Clock::now();
        process.start(QString::fromLocal8Bit(argv[1]), {});
        process.waitForFinished(30000);
        starts.push_back(Ms(Clock::now() - t0));
    }
    std::printf("cold start to shown window: median %.1f ms (min %.1f, max %.1f, %d runs)\n", Median(starts),
                *std::min_element(starts.begin(), starts.end()),
                *std::max_element(starts.begin(), starts.end()), repetitions);

    const std::string home = base + "/fill";
    ::setenv("TARNWICK_HOME", home.c_str(), 1);
    std::vector<std::string> notices;
    core::InitializeModules(home + "/bin/tarnwick", core::TEnvironment::FromProcess(), notices);
    core::LoadOptionsAtStart();
    const auto before = Memory();
    {
        TNoPrompter prompter;
        accounts::TAdmin admin(core::Hive(), [] { return core::Options(); });
        accounts::TUserID id;
        id.DisplayName = "Bench";
        id.Host = "pop.example.org";
        admin.AddUser(id);
        admin.SaveUsers();
        gui::TfMain window(admin, prompter);
        admin.MakeInitialCurrent();
        accounts::TUser& user = admin.UserAt(0);
        for (int i = 0; i < records; ++i) {
            accounts::TMailMessage m;
            m.Number = i + 1;
            m.FromName = "Sender " + std::to_string(i % 997);
            m.FromAddress = "sender" + std::to_string(i % 997) + "@example.org";
            m.FromText = m.FromName + " <" + m.FromAddress + ">";
            m.Subject = "Subject line of message number " + std::to_string(i);
            m.ToText = "Bench <bench@example.org>";
            m.Size = 1000 + i;
            m.Sent = 1765000000000LL + i * 60000LL;
            m.Headers = {"From: " + m.FromText, "To: " + m.ToText, "Subject: " + m.Subject};
            user.Mails.Add(m);
        }
        window.show();
        QApplication::processEvents();
        const auto loaded = Memory();
        auto* list = window.findChild<QTreeView*>(QStringLiteral("lvMessages"));
        std::vector<double> fills;
        for (int i = 0; i < repetitions; ++i) {
            window.SelectPosition(views::ViewTrash);
            window.tvFiltersClick();
            const auto t0 = Clock::now();
            window.SelectPosition(views::ViewAllMessages);
            window.tvFiltersClick();
            list->viewport()->repaint();
            fills.push_back(Ms(Clock::now() - t0));
            if (window.Messages().rowCount() != records)
                std::fprintf(stderr, "unexpected row count %d\n", window.Messages().rowCount());
        }
        const auto after = Memory();
        std::printf(
            "\"All messages\", %d records, click to painted rows: median %.1f ms (min %.1f, max %.1f)\n",
            records, Median(fills), *std::min_element(fills.begin(), fills.end()),
            *std::max_element(fills.begin(), fills.end()));
        std::printf("memory: %.0f MiB before the records, %.0f MiB with them, %.0f MiB after the fills (peak "
                    "%.0f MiB)\n",
                    before.first, loaded.first, after.first, after.second);
    }
    core::FinalizeModules();
    std::filesystem::remove_all(base);
    return 0;
}
