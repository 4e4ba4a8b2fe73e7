#include "TCacheFile.h"

#include <filesystem>
#include <streambuf>

namespace tarnwick::retrieval {

namespace {

enum class TLineRead
{
    Line,    // a line, without its line end
    End,     // the end of the input, nothing read
    TooLong, // the line is longer than the limit; reading stopped inside it
};

// Reads the next line into `line`. A line longer than `limit` bytes (not counting its line end)
// stops the reading one byte past the limit, so that a line without an end costs no more than the
// line it is compared with.
TLineRead NextLine(std::streambuf& buffer, std::size_t limit, std::string& line)
{
    using Traits = std::streambuf::traits_type;
    line.clear();
    for (Traits::int_type c = buffer.sbumpc(); !Traits::eq_int_type(c, Traits::eof()); c = buffer.sbumpc()) {
        if (Traits::to_char_type(c) == '\n') {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            return TLineRead::Line;
        }
        // limit + 1 bytes may be the line and the CR of its line end.
        if (line.size() > limit)
            return TLineRead::TooLong;
        line.push_back(Traits::to_char_type(c));
    }
    if (line.empty())
        return TLineRead::End;
    if (line.back() == '\r')
        line.pop_back();
    return TLineRead::Line;
}

bool HeaderPartMatches(const std::vector<std::string>& headerLines, std::streambuf& buffer)
{
    if (headerLines.empty())
        return false;
    std::string line;
    for (const std::string& expected : headerLines) {
        if (expected.empty())
            return false;
        line.reserve(expected.size() + 1);
        if (NextLine(buffer, expected.size(), line) != TLineRead::Line || line != expected)
            return false;
    }
    // The header ends here: with an empty line, or with the end of a message without a body.
    const TLineRead after = NextLine(buffer, 0, line);
    return after == TLineRead::End || (after == TLineRead::Line && line.empty());
}

// Reads a text in memory through the same line reader as a file.
class TTextBuffer : public std::streambuf
{
public:
    explicit TTextBuffer(std::string_view text)
    {
        // The buffer is only ever read: no put area, and sputbackc is never called.
        char* begin = const_cast<char*>(text.data());
        setg(begin, begin, begin + text.size());
    }
};

} // namespace

bool HeaderPartMatches(const std::vector<std::string>& headerLines, std::istream& in)
{
    std::streambuf* buffer = in.rdbuf();
    return in.good() && buffer != nullptr && HeaderPartMatches(headerLines, *buffer);
}

bool HeaderPartMatches(const std::vector<std::string>& headerLines, std::string_view text)
{
    TTextBuffer buffer(text);
    return HeaderPartMatches(headerLines, buffer);
}

std::optional<std::ifstream> OpenCacheFile(const std::vector<std::string>& headerLines,
                                           const std::string& path)
{
    if (headerLines.empty())
        return std::nullopt;
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error))
        return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in || !HeaderPartMatches(headerLines, in))
        return std::nullopt;
    in.clear();
    in.seekg(0);
    if (!in)
        return std::nullopt;
    return in;
}

bool CacheFileHolds(const std::vector<std::string>& headerLines, const std::string& path)
{
    return OpenCacheFile(headerLines, path).has_value();
}

} // namespace tarnwick::retrieval
