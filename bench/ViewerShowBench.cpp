// The viewer showing big messages as the user meets them: TMessageBrowser::ShowFile on a cache
// file (read, rendered, set into the document) and the first paint of the visible part, on the
// offscreen platform. The messages are those of mime_render_bench.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTextDocument>

#include "BigMessages.h"
#include "gui/viewer/TMessageBrowser.h"

using namespace tarnwick;
using namespace tarnwick::bench;

namespace {

std::string WriteMessage(const std::string& name, const std::string& message)
{
    const std::string path = (std::filesystem::temp_directory_path() / ("tarnwick-viewer-" + name)).string();
    std::ofstream(path, std::ios::binary) << message;
    return path;
}

void Show(benchmark::State& state, const std::string& path, bool wholeLayout)
{
    gui::TMessageBrowser browser;
    browser.resize(800, 600);
    browser.show();
    const QString file = QString::fromStdString(path);
    for (auto _ : state) {
        browser.ShowFile(file);
        // What the user waits for: the visible part painted; or the whole document laid out.
        if (wholeLayout)
            benchmark::DoNotOptimize(browser.document()->size());
        else
            benchmark::DoNotOptimize(browser.grab());
        state.PauseTiming();
        browser.ShowBlank();
        QApplication::processEvents();
        state.ResumeTiming();
    }
    std::filesystem::remove(path);
}

void BM_ShowHtmlNewsletter5MB(benchmark::State& state)
{
    Show(state, WriteMessage("news.eml", HtmlNewsletter(5u << 20)), state.range(0) != 0);
}

void BM_ShowAttachment4MBOf5MB(benchmark::State& state)
{
    Show(state, WriteMessage("attachment.eml", WithAttachment(4u << 20)), state.range(0) != 0);
}

void BM_ShowSingleLine10MB(benchmark::State& state)
{
    Show(state, WriteMessage("line.eml", OneLongLine(10u << 20)), state.range(0) != 0);
}

} // namespace

// Argument 0: the first paint; 1: the whole document laid out.
BENCHMARK(BM_ShowHtmlNewsletter5MB)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ShowAttachment4MBOf5MB)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ShowSingleLine10MB)->Arg(0)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
