// Relay extraction on arbitrary header lines: every address found passes the IPv4 test, is a single
// token (a whole token may pass with text after a fourth dot, which the test does not examine) and
// is found once.

#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "classify/TDecodeIp.h"
#include "classify/TSearchAddress.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace tarnwick::classify;
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    TDecodeIp decoder(lines);
    std::vector<std::string> addresses;
    decoder.ExtractAddresses(addresses);
    const std::set<std::string> unique(addresses.begin(), addresses.end());
    if (unique.size() != addresses.size())
        std::abort();
    for (const auto& address : addresses) {
        if (!IsValidIPv4(address) || address.find_first_of(" ()[]") != std::string::npos)
            std::abort();
        ReversedAddress(address);
    }
    return 0;
}
