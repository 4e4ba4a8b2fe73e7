#pragma once

#include <string>
#include <string_view>

namespace tarnwick::core {

enum class TScrambleDirection
{
    Store, // scramble before writing
    Load   // unscramble after reading
};

// The byte-rotation scrambler of stored passwords ("Vorn") and of the address-list files. Each byte
// is rotated within its eight bits by a count taken from the key, right or left by its position's
// parity; the result has the same length and keeps zero bytes zero. It hides a text from a casual
// look, nothing more.
std::string ScrambleText(std::string_view text, std::string_view key, TScrambleDirection direction);

} // namespace tarnwick::core
