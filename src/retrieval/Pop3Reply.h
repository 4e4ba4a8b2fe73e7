#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// The pure parts of reading POP3 replies: the status line and the lines of a multi-line reply.
// They work on complete lines (without the line end) and never touch a socket, so the fuzz target
// and the unit tests exercise exactly what the session uses.
namespace tarnwick::retrieval {

inline constexpr const char* UnrecognizedReplyText = "Unrecognized POP3 Response Header:";

struct TPop3Reply
{
    bool Ok = false;  // "+OK" (any case); false for "-ERR" (any case)
    std::string Text; // the rest of the line after the status word and one blank
};

// Classifies a status line. The status word is everything up to the first blank; "+OK" and "-ERR"
// are compared without regard to case. Any other status word throws TUnrecognizedReplyError.
TPop3Reply ParseStatusLine(std::string_view line);

// One line of a multi-line reply: nothing for the terminating "." alone, otherwise the line with a
// leading stuffed dot removed (".." at the start becomes ".", any other line is unchanged).
std::optional<std::string_view> UnstuffLine(std::string_view line);

// Splits a byte stream into lines ending in LF; a CR right before the LF is dropped. A line longer
// than the bound is reported instead of being collected, so a server that never sends a line end
// cannot make the reader hold more than the bound.
class TLineSplitter
{
public:
    explicit TLineSplitter(std::size_t maxLineLength);

    enum class TResult
    {
        Line,     // `line` holds one complete line
        NeedMore, // all buffered bytes are consumed; feed more
        TooLong,  // the current line exceeds the bound; the splitter is unusable afterwards
    };

    // Takes bytes read from the connection.
    void Feed(const char* data, std::size_t size);
    TResult Next(std::string& line);
    // Bytes fed but not yet handed out as lines.
    std::size_t Buffered() const { return Buffer_.size() - Start_; }

private:
    std::size_t MaxLineLength_;
    std::string Buffer_;
    std::size_t Start_ = 0;
    std::size_t Scanned_ = 0; // bytes after Start_ known to hold no line feed
};

} // namespace tarnwick::retrieval
