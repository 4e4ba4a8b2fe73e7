#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::classify {

// True when the text, trimmed, starts with four dot-separated decimal numbers of 0 to 255. Whatever
// follows a fourth "." is not examined, so "1.2.3.4.5" passes and "1.2.3" does not.
bool IsValidIPv4(std::string_view text);

// Finds the relay addresses of a message in its "Received" header lines. Only physical lines that
// start with "Received" and contain ": from" are used, so continuation lines of a folded header
// never count. From each such line the text after ": from" is cut at the first "by" into the
// sending part and the receiving part (up to a ";"); their tokens (split at blanks, parentheses and
// square brackets) that are IPv4 addresses, or whose digits and dots are, are the addresses.
class TDecodeIp
{
public:
    explicit TDecodeIp(std::vector<std::string> headerLines);

    // The relay addresses in order of appearance, each once.
    void ExtractAddresses(std::vector<std::string>& out);
    // The text segments the last extraction cut out of the header lines.
    const std::vector<std::string>& Segments() const { return Segments_; }

private:
    std::vector<std::string> Lines_;
    std::vector<std::string> Segments_;
};

} // namespace tarnwick::classify
