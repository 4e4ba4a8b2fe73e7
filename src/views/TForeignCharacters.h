#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tarnwick::views {

inline constexpr const char* CharactersFileName = "Characters.dat";
inline constexpr const char* NoForeignCharactersText =
    "Cannot apply this filter until you define your special characters ! ";

// The foreign character set: "Characters.dat" in the data folder, one entry per line ended by CR LF,
// each entry normally one character (UTF-8 on this system).
class TForeignCharacters
{
public:
    // The entries of the file, or nothing when it does not exist. Throws core::TFileError when it
    // exists but cannot be read.
    static std::optional<std::vector<std::string>> Read(const std::string& dataFolder);
    // Writes the entries, one per line. Throws core::TFileError.
    static void Write(const std::string& dataFolder, const std::vector<std::string>& entries);
    // The list the character dialog starts with when there is no file: the characters of the codes
    // 128 to 254 of Windows-1252.
    static std::vector<std::string> InitialSet();
    static std::string FilePath(const std::string& dataFolder);
};

} // namespace tarnwick::views
