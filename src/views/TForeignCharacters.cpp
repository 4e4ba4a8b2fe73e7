#include "views/TForeignCharacters.h"

#include <filesystem>
#include <fstream>
#include <iterator>

#include "core/Errors.h"
#include "core/TextUtils.h"

namespace tarnwick::views {

std::string TForeignCharacters::FilePath(const std::string& dataFolder)
{
    if (dataFolder.empty() || dataFolder.back() == '/')
        return dataFolder + CharactersFileName;
    return dataFolder + "/" + CharactersFileName;
}

std::optional<std::vector<std::string>> TForeignCharacters::Read(const std::string& dataFolder)
{
    const std::string path = FilePath(dataFolder);
    std::error_code error;
    if (!std::filesystem::exists(path, error))
        return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw core::TFileError("The character file \"" + path + "\" cannot be read.");
    std::vector<std::string> entries;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        entries.push_back(std::move(line));
    }
    return entries;
}

void TForeignCharacters::Write(const std::string& dataFolder, const std::vector<std::string>& entries)
{
    const std::string path = FilePath(dataFolder);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (const auto& entry : entries)
        out << entry << "\r\n";
    out.close();
    if (!out)
        throw core::TFileError("The character file \"" + path + "\" cannot be written.");
}

std::vector<std::string> TForeignCharacters::InitialSet()
{
    std::vector<std::string> entries;
    for (int code = 128; code <= 254; ++code)
        entries.push_back(core::Windows1252ToUtf8(std::string(1, static_cast<char>(code))));
    return entries;
}

} // namespace tarnwick::views
