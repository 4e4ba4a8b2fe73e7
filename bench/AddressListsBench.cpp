// The address lists at their largest practical size: 50,000 addresses. Loading a list file and
// publishing it with its hash indexes (what start-up and every change cost), one lookup through the
// index against the scan of the rows it replaces, and a save that merges with a file another
// program changed meanwhile.

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>

#include <benchmark/benchmark.h>
#include <unistd.h>

#include "classify/TAddressLists.h"
#include "classify/TLvfFile.h"
#include "core/TPrompter.h"

using namespace tarnwick::classify;

namespace {

constexpr int Rows = 50000;

std::string Address(int i)
{
    return "user" + std::to_string(i) + "@domain" + std::to_string(i % 700) + ".example";
}

std::vector<TAddressRow> ManyRows()
{
    std::vector<TAddressRow> rows;
    rows.reserve(Rows);
    for (int i = 0; i < Rows; ++i)
        rows.push_back({Address(i), i % 10 != 0, {}});
    return rows;
}

class TQuiet : public tarnwick::core::TPrompter
{
public:
    void Inform(tarnwick::core::TMessageKind, const std::string& text) override { std::cerr << text << '\n'; }
    tarnwick::core::TAnswer Ask(tarnwick::core::TMessageKind, const std::string&,
                                const std::vector<tarnwick::core::TAnswer>&) override
    {
        return tarnwick::core::TAnswer::No;
    }
};

std::string Folder()
{
    static const std::string folder = [] {
        char pattern[] = "/tmp/address-lists-bench-XXXXXX";
        const char* made = ::mkdtemp(pattern);
        if (made == nullptr)
            std::abort();
        return std::string(made) + "/";
    }();
    return folder;
}

void WriteList(TListKind kind, const std::vector<TAddressRow>& rows)
{
    SaveToFile({kind, rows}, Folder() + ListFileName(kind));
}

// state.range(0): 0 the black list (file order), 1 the white list (sorted in the locale's collation).
void LoadAndPublish(benchmark::State& state)
{
    const TListKind kind = state.range(0) == 1 ? TListKind::White : TListKind::Black;
    std::filesystem::remove(Folder() + BlackListFileName);
    std::filesystem::remove(Folder() + WhiteListFileName);
    WriteList(kind, ManyRows());
    TQuiet quiet;
    for (auto _ : state) {
        TAddressLists lists;
        lists.Load(Folder(), quiet);
        benchmark::DoNotOptimize(lists.Snapshot().Listed(kind, Address(Rows - 1)));
    }
}

// state.range(0): 0 through the index, 1 the scan of the rows (the free functions).
void Listed(benchmark::State& state)
{
    const TListsState lists = TListsState::Indexed({TListKind::Black, ManyRows()}, {});
    const std::string hit =
        "USER" + std::to_string(Rows - 7) + "@Domain" + std::to_string((Rows - 7) % 700) + ".example.";
    const std::string miss = "nobody@nowhere.example";
    for (auto _ : state) {
        if (state.range(0) == 0) {
            benchmark::DoNotOptimize(lists.Listed(TListKind::Black, hit));
            benchmark::DoNotOptimize(lists.Listed(TListKind::Black, miss));
        } else {
            benchmark::DoNotOptimize(IsListed(*lists.Black, hit));
            benchmark::DoNotOptimize(IsListed(*lists.Black, miss));
        }
    }
    state.SetItemsProcessed(state.iterations() * 2);
}

void EnabledMember(benchmark::State& state)
{
    const TListsState lists = TListsState::Indexed({TListKind::Black, ManyRows()}, {});
    const std::string hit = " " + Address(Rows - 3) + "\r\n";
    const std::string miss = "nobody@nowhere.example";
    for (auto _ : state) {
        if (state.range(0) == 0) {
            benchmark::DoNotOptimize(lists.EnabledMember(TListKind::Black, hit));
            benchmark::DoNotOptimize(lists.EnabledMember(TListKind::Black, miss));
        } else {
            benchmark::DoNotOptimize(IsEnabledMember(*lists.Black, hit));
            benchmark::DoNotOptimize(IsEnabledMember(*lists.Black, miss));
        }
    }
    state.SetItemsProcessed(state.iterations() * 2);
}

// The merge alone: a removal, a tick and an addition here, an addition there.
void Merge(benchmark::State& state)
{
    const std::vector<TAddressRow> base = ManyRows();
    std::vector<TAddressRow> mine = base;
    mine.erase(mine.begin() + 100);
    mine[5].Enabled = !mine[5].Enabled;
    mine.push_back({"mine@x.example", true, {}});
    std::vector<TAddressRow> theirs = base;
    theirs.push_back({"theirs@x.example", true, {}});
    for (auto _ : state)
        benchmark::DoNotOptimize(MergeRows(base, mine, theirs));
}

// One address added here and one by another program meanwhile; the save reads the file, merges,
// writes and publishes.
void SaveWithMerge(benchmark::State& state)
{
    std::filesystem::remove(Folder() + WhiteListFileName);
    std::vector<TAddressRow> rows = ManyRows();
    TQuiet quiet;
    int added = 0;
    for (auto _ : state) {
        state.PauseTiming();
        WriteList(TListKind::Black, rows);
        TAddressLists lists;
        lists.Load(Folder(), quiet);
        lists.Change(TListKind::Black, [&](TAddressList& black, TAddressList&) {
            AddListed(black, "mine" + std::to_string(added) + "@x.example");
        });
        std::vector<TAddressRow> theirs = rows;
        theirs.push_back({"theirs" + std::to_string(added++) + "@x.example", true, {}});
        WriteList(TListKind::Black, theirs);
        state.ResumeTiming();
        lists.Save(Folder(), TListKind::Black);
        benchmark::DoNotOptimize(lists.Black()->Rows.size());
    }
}

BENCHMARK(LoadAndPublish)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(Listed)->Arg(0)->Arg(1)->Unit(benchmark::kNanosecond);
BENCHMARK(EnabledMember)->Arg(0)->Arg(1)->Unit(benchmark::kNanosecond);
BENCHMARK(Merge)->Unit(benchmark::kMillisecond);
BENCHMARK(SaveWithMerge)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::filesystem::remove_all(Folder());
    return 0;
}
