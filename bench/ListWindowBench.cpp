// A list window on a big list: the window made and shown with its first paint, the window kept
// for the run shown again after the list changed, and an address added while it is open, on the
// offscreen platform.

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QLineEdit>

#include "classify/TAddressLists.h"
#include "core/Modules.h"
#include "core/TPrompter.h"
#include "gui/lists/TfAddressList.h"

using namespace tarnwick;

namespace {

class TSilentPrompter : public core::TPrompter
{
public:
    void Inform(core::TMessageKind, const std::string&) override {}
    core::TAnswer Ask(core::TMessageKind, const std::string&, const std::vector<core::TAnswer>&) override
    {
        return core::TAnswer::No;
    }
};

void PublishRows(std::size_t count)
{
    classify::TAddressList black{classify::TListKind::Black, {}};
    classify::TAddressList white{classify::TListKind::White, {}};
    for (std::size_t i = 0; i < count; ++i) {
        const std::string address =
            "sender" + std::to_string(i * 7919 % count) + "@host" + std::to_string(i % 97) + ".example";
        black.Rows.push_back({address, i % 3 != 0, {}});
        white.Rows.push_back({address, i % 3 != 0, {}});
    }
    classify::AddressLists().Replace(std::move(black), std::move(white));
}

std::unique_ptr<gui::TfAddressList> Make(classify::TListKind kind, core::TPrompter& prompter)
{
    if (kind == classify::TListKind::Black)
        return std::make_unique<gui::TfBlackList>(prompter);
    return std::make_unique<gui::TfWhiteList>(prompter);
}

// Argument: 0 the black list, 1 the white list.
void BM_OpenListWindow50000(benchmark::State& state)
{
    const auto kind = state.range(0) == 0 ? classify::TListKind::Black : classify::TListKind::White;
    PublishRows(50000);
    TSilentPrompter prompter;
    for (auto _ : state) {
        auto window = Make(kind, prompter);
        window->show();
        benchmark::DoNotOptimize(window->grab());
        state.PauseTiming();
        window.reset();
        QApplication::processEvents();
        state.ResumeTiming();
    }
}

// The window kept for the run, shown again after a row was added while it was closed.
void BM_ShowAgainAfterAChange50000(benchmark::State& state)
{
    const auto kind = state.range(0) == 0 ? classify::TListKind::Black : classify::TListKind::White;
    PublishRows(50000);
    TSilentPrompter prompter;
    auto window = Make(kind, prompter);
    std::size_t added = 0;
    for (auto _ : state) {
        state.PauseTiming();
        window->hide();
        classify::AddressLists().Change(kind, [&](classify::TAddressList& list, classify::TAddressList&) {
            classify::InsertRow(list, {"added" + std::to_string(added++) + "@new.example", true, {}});
        });
        state.ResumeTiming();
        window->show();
        benchmark::DoNotOptimize(window->grab());
    }
}

// One address added with the window open: the look-up in both lists, the copy-change-publish of
// both and the model showing the new list, painted.
void BM_AddInOpenWindow50000(benchmark::State& state)
{
    const auto kind = state.range(0) == 0 ? classify::TListKind::Black : classify::TListKind::White;
    PublishRows(50000);
    TSilentPrompter prompter;
    auto window = Make(kind, prompter);
    window->show();
    auto* field = window->findChild<QLineEdit*>(QStringLiteral("edAddress"));
    std::size_t added = 0;
    for (auto _ : state) {
        state.PauseTiming();
        field->setText(QStringLiteral("added%1@new.example").arg(added++));
        state.ResumeTiming();
        window->buAddClick();
        benchmark::DoNotOptimize(window->grab());
    }
}

} // namespace

BENCHMARK(BM_AddInOpenWindow50000)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenListWindow50000)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ShowAgainAfterAChange50000)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // A home of its own: Add reads the options.
    const std::string home = (std::filesystem::temp_directory_path() / "tarnwick-list-window-bench").string();
    std::filesystem::remove_all(home);
    ::setenv("TARNWICK_HOME", home.c_str(), 1);
    QApplication app(argc, argv);
    std::vector<std::string> notices;
    core::InitializeModules(home + "/bin/tarnwick", core::TEnvironment::FromProcess(), notices);
    core::LoadOptionsAtStart();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    core::FinalizeModules();
    std::filesystem::remove_all(home);
    return 0;
}
