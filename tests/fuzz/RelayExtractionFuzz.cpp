// Relay extraction on arbitrary header lines: every address found is a valid IPv4 text, found once.

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
        if (!IsValidIPv4(address) || address.find_first_not_of("0123456789.") != std::string::npos)
            std::abort();
        ReversedAddress(address);
    }
    return 0;
}
