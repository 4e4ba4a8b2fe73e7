// Rendering big messages for the viewer: a 5 MB HTML newsletter (text and tables, a few remote
// pictures for the sanitiser to remove), a 5 MB multipart whose 4 MB are a base64 attachment, and
// a message whose plain text is one 10 MB line. Each must render in well under 150 ms.

#include <string>

#include <benchmark/benchmark.h>

#include "BigMessages.h"
#include "mime/TRenderedMessage.h"

using namespace tarnwick;
using namespace tarnwick::bench;

namespace {

void Render(benchmark::State& state, const std::string& message)
{
    for (auto _ : state) {
        mime::TRenderedMessage rendered = mime::RenderMessage(message);
        benchmark::DoNotOptimize(rendered.Html.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(message.size()));
}

void BM_HtmlNewsletter5MB(benchmark::State& state)
{
    static const std::string message = HtmlNewsletter(5u << 20);
    Render(state, message);
}

void BM_Attachment4MBOf5MB(benchmark::State& state)
{
    static const std::string message = WithAttachment(4u << 20);
    Render(state, message);
}

void BM_SingleLine10MB(benchmark::State& state)
{
    static const std::string message = OneLongLine(10u << 20);
    Render(state, message);
}

} // namespace

BENCHMARK(BM_HtmlNewsletter5MB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Attachment4MBOf5MB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SingleLine10MB)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
