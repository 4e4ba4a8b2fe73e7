// Whole-run driver of a receive: TDownloadMail with the given number of connections against a POP3
// server, headers only, with the program's classification (no spam databases). Prints one line
// with the time and the rate. bench/pop3/run-engine-bench runs it beside the reference clients.
//
//   engine_receive_bench HOST PORT USER PASSWORD CONNECTIONS
//
// TARNWICK_HOME should name an empty folder: the options and lists are read from there.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/Modules.h"
#include "engine/TDownloadMail.h"

using namespace tarnwick;

namespace {

class TQuietObserver : public engine::TReceiveObserver
{
public:
    void SetTask(const std::optional<std::string>&, const std::string&, std::optional<int>) override {}
    void SetOverallStatus(const std::string&) override {}
    void SetStatus(const std::string& text) override
    {
        if (Timeline_ && text.find(" received message(s) of ") == std::string::npos)
            std::printf("  %.3f s  %s\n",
                        std::chrono::duration<double>(std::chrono::steady_clock::now() - Start_).count(),
                        text.c_str());
    }
    bool Timeline_ = std::getenv("TARNWICK_BENCH_TIMELINE") != nullptr;
    std::chrono::steady_clock::time_point Start_ = std::chrono::steady_clock::now();
    void SetProgress(int) override {}
    void SetCaption(const std::string&) override {}
    void SetStatusBar(const std::string&) override {}
    void AddError(const std::string& text) override { std::fprintf(stderr, "error: %s\n", text.c_str()); }
    void AddNote(const std::string& text) override { std::fprintf(stderr, "note: %s\n", text.c_str()); }
    void RowAdded(std::size_t) override
    {
        // Rows arrive one at a time (the engine serialises observer calls).
        if (++Rows_ % 1000 == 1)
            Marks_.push_back(std::chrono::steady_clock::now());
    }
    std::vector<std::chrono::steady_clock::time_point> Marks_;
    std::size_t Rows_ = 0;
    void Finished(engine::TReceiveOutcome) override {}
};

} // namespace

int main(int argc, char** argv)
{
    if (argc != 6) {
        std::fprintf(stderr, "usage: engine_receive_bench HOST PORT USER PASSWORD CONNECTIONS\n");
        return 2;
    }
    std::vector<std::string> notices;
    core::InitializeModules(argv[0], core::TEnvironment::FromProcess(), notices);
    core::LoadOptionsAtStart();

    accounts::TUser user;
    accounts::TUserID id;
    id.Host = argv[1];
    id.Port = std::atoi(argv[2]);
    id.AccountName = argv[3];
    id.Password = argv[4];
    id.RememberPassword = true;
    id.DisplayName = "bench";
    user.SetID(id);
    user.Settings.Connections = std::atoi(argv[5]);

    engine::TReceiveConfig config;
    config.CacheFolder = core::CacheFolder(core::Options()->CacheDir);
    config.Zones = std::vector<std::string>{};
    TQuietObserver observer;
    const auto start = std::chrono::steady_clock::now();
    engine::TDownloadMail receive(user, observer, config);
    const engine::TReceiveReport report = receive.Run();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("tarnwick TDownloadMail (%d connections): %d headers in %.3f s, %.0f headers/s%s\n",
                user.Settings.Connections, report.Listed, seconds, report.Listed / seconds,
                report.Outcome == engine::TReceiveOutcome::Finished ? "" : " (NOT FINISHED)");
    if (std::getenv("TARNWICK_BENCH_TIMELINE") != nullptr)
        for (std::size_t i = 0; i < observer.Marks_.size(); ++i)
            std::printf("  row %zu at %.3f s\n", i * 1000 + 1,
                        std::chrono::duration<double>(observer.Marks_[i] - start).count());
    core::FinalizeModules();
    return report.Outcome == engine::TReceiveOutcome::Finished ? 0 : 1;
}
