// Fuzz target of the POP3 reply reader: arbitrary bytes, split into reads at arbitrary places, go
// through the line splitter, the status line parser and the multi-line unstuffing. Nothing may
// crash, read past a buffer or hold more than the line bound; every error is the project's own.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "retrieval/Pop3Errors.h"
#include "retrieval/Pop3Reply.h"
#include "retrieval/TPOP3Client.h"

using namespace tarnwick::retrieval;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    // The first byte picks the size of the reads, the second the line bound.
    const std::size_t chunk = 1 + data[0] % 64;
    const std::size_t bound = 1 + data[1] * 4;
    const char* bytes = reinterpret_cast<const char*>(data + 2);
    size -= 2;

    TLineSplitter splitter(bound);
    std::size_t handedOut = 0;
    bool first = true;
    std::string line;
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < size; at += chunk) {
        splitter.Feed(bytes + at, std::min(chunk, size - at));
        for (;;) {
            const TLineSplitter::TResult result = splitter.Next(line);
            if (result == TLineSplitter::TResult::TooLong)
                return 0;
            if (result == TLineSplitter::TResult::NeedMore)
                break;
            if (line.size() > bound || line.find('\n') != std::string::npos)
                std::abort();
            handedOut += line.size() + 1;
            if (handedOut > size)
                std::abort();
            if (first) {
                first = false;
                try {
                    const TPop3Reply reply = ParseStatusLine(line);
                    if (reply.Text.size() >= line.size())
                        std::abort();
                    if (ResponseCodeOf(reply.Text).size() > reply.Text.size())
                        std::abort();
                } catch (const TUnrecognizedReplyError& e) {
                    if (std::string(e.what()).find(UnrecognizedReplyText) != 0)
                        std::abort();
                }
                continue;
            }
            const auto unstuffed = UnstuffLine(line);
            if (!unstuffed) {
                // The lines of a reply read as a capability list.
                if (ParseCapabilities(lines).LoginDelaySeconds < 0)
                    std::abort();
                lines.clear();
                first = true; // the next reply begins
                continue;
            }
            lines.emplace_back(*unstuffed);
            if (unstuffed->size() + 1 < line.size() || unstuffed->size() > line.size())
                std::abort();
        }
        if (splitter.Buffered() > bound + chunk)
            std::abort();
    }
    return 0;
}
