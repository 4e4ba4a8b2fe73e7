#include "ScrambleText.h"

#include <bit>
#include <cstdint>

namespace tarnwick::core {

std::string ScrambleText(std::string_view text, std::string_view key, TScrambleDirection direction)
{
    unsigned keySum = 0;
    for (const char c : key)
        keySum += static_cast<unsigned char>(c);

    std::string out(text);
    for (std::size_t i = 0; i < out.size(); ++i) {
        const std::size_t position = i + 1; // positions count from 1
        const unsigned k =
            key.empty() ? static_cast<unsigned>(position) : static_cast<unsigned char>(key[i % key.size()]);
        const int n = static_cast<int>((k + keySum) % 8);
        const bool oddPosition = position % 2 == 1;
        const bool rotateRight = (direction == TScrambleDirection::Store) == oddPosition;
        const auto byte = static_cast<std::uint8_t>(out[i]);
        out[i] = static_cast<char>(rotateRight ? std::rotr(byte, n) : std::rotl(byte, n));
    }
    return out;
}

} // namespace tarnwick::core
