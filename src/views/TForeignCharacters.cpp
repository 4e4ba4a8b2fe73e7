#include "views/TForeignCharacters.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "core/Errors.h"
#include "core/TextUtils.h"

namespace tarnwick::views {

namespace {

// The system's reason for the last failed file operation.
std::string Reason()
{
    return std::strerror(errno != 0 ? errno : EIO);
}

} // namespace

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
    const bool exists = std::filesystem::exists(path, error);
    if (error)
        throw core::TFileError("The character file \"" + path + "\" cannot be read: " + error.message());
    if (!exists)
        return std::nullopt;
    if (std::filesystem::is_directory(path, error))
        throw core::TFileError("The character file \"" + path +
                               "\" cannot be read: " + std::strerror(EISDIR));
    errno = 0;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw core::TFileError("The character file \"" + path + "\" cannot be read: " + Reason());
    std::vector<std::string> entries;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        entries.push_back(std::move(line));
    }
    if (in.bad())
        throw core::TFileError("The character file \"" + path + "\" cannot be read: " + Reason());
    return entries;
}

void TForeignCharacters::Write(const std::string& dataFolder, const std::vector<std::string>& entries)
{
    // Written beside the file and renamed over it, so a failed write leaves the old list whole.
    const std::string path = FilePath(dataFolder);
    const std::string temporary = path + ".new";
    auto fail = [&](const std::string& reason) {
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
        throw core::TFileError("The character file \"" + path + "\" cannot be written: " + reason);
    };
    errno = 0;
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out)
        fail(Reason());
    for (const auto& entry : entries)
        out << entry << "\r\n";
    out.close();
    if (!out)
        fail(Reason());
    std::error_code error;
    std::filesystem::rename(temporary, path, error);
    if (error)
        fail(error.message());
}

std::vector<std::string> TForeignCharacters::InitialSet()
{
    std::vector<std::string> entries;
    for (int code = 128; code <= 254; ++code)
        entries.push_back(core::Windows1252ToUtf8(std::string(1, static_cast<char>(code))));
    return entries;
}

} // namespace tarnwick::views
