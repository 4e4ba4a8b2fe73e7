#include "TLvfFile.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include <fcntl.h>
#include <unistd.h>

#include "core/Errors.h"
#include "core/ScrambleText.h"
#include "core/TPrompter.h"
#include "core/TextUtils.h"

namespace tarnwick::classify {

namespace {

// A cursor over the file's bytes that refuses to read past their end.
class TReader
{
public:
    explicit TReader(std::string_view bytes)
        : Bytes_(bytes)
    {}

    bool U16(std::uint32_t& value)
    {
        if (Bytes_.size() - Pos_ < 2)
            return false;
        value = Byte(0) | (Byte(1) << 8);
        Pos_ += 2;
        return true;
    }
    bool U32(std::uint32_t& value)
    {
        if (Bytes_.size() - Pos_ < 4)
            return false;
        value = Byte(0) | (Byte(1) << 8) | (Byte(2) << 16) | (Byte(3) << 24);
        Pos_ += 4;
        return true;
    }
    bool Text(std::size_t length, std::string_view& text)
    {
        if (Bytes_.size() - Pos_ < length)
            return false;
        text = Bytes_.substr(Pos_, length);
        Pos_ += length;
        return true;
    }

private:
    std::uint32_t Byte(std::size_t offset) const { return static_cast<unsigned char>(Bytes_[Pos_ + offset]); }

    std::string_view Bytes_;
    std::size_t Pos_ = 0;
};

// A stored text: up to its first zero byte, as UTF-8.
std::string StoredText(std::string_view bytes)
{
    const std::size_t zero = bytes.find('\0');
    if (zero != std::string_view::npos)
        bytes = bytes.substr(0, zero);
    return core::IsValidUtf8(bytes) ? std::string(bytes) : core::Windows1252ToUtf8(bytes);
}

void PutU16(std::string& out, std::size_t value)
{
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>((value >> 8) & 0xFF);
}

void PutText(std::string& out, std::string_view text, const char* what)
{
    if (text.size() > MaxListText)
        throw core::TFileError(std::string("A list file cannot hold ") + what + " longer than 65535 bytes.");
    PutU16(out, text.size());
    out += text;
}

} // namespace

TLvfReadResult ReadLvf(std::string_view bytes)
{
    TLvfReadResult result;
    TReader reader(bytes);
    std::string_view signature;
    if (!reader.Text(LvfSignature.size(), signature) || signature != LvfSignature) {
        result.Status = TLvfReadResult::TStatus::BadSignature;
        return result;
    }
    result.Status = TLvfReadResult::TStatus::Truncated;
    std::uint32_t rowCount = 0;
    if (!reader.U16(rowCount))
        return result;
    for (std::uint32_t r = 0; r < rowCount; ++r) {
        std::uint32_t subCount = 0, check = 0, length = 0;
        std::string_view address;
        if (!reader.U16(subCount) || !reader.U32(check) || !reader.U16(length) ||
            !reader.Text(length, address))
            return result;
        TAddressRow row;
        row.Enabled = (check & 0xFF) != 0;
        row.Address = StoredText(core::ScrambleText(address, LvfScrambleKey, core::TScrambleDirection::Load));
        for (std::uint32_t s = 0; s < subCount; ++s) {
            std::uint32_t subLength = 0;
            std::string_view sub;
            if (!reader.U16(subLength) || !reader.Text(subLength, sub))
                return result;
            row.SubItems.push_back(StoredText(sub));
        }
        result.Rows.push_back(std::move(row));
    }
    result.Status = TLvfReadResult::TStatus::Ok;
    return result;
}

std::string WriteLvf(const std::vector<TAddressRow>& rows)
{
    if (rows.size() > MaxListRows)
        throw core::TFileError("A list file cannot hold more than 65535 rows.");
    std::string out(LvfSignature);
    PutU16(out, rows.size());
    for (const auto& row : rows) {
        if (row.SubItems.size() > MaxListRows)
            throw core::TFileError("A list file cannot hold more than 65535 columns in a row.");
        PutU16(out, row.SubItems.size());
        out += static_cast<char>(row.Enabled ? 1 : 0);
        out.append(3, '\0');
        PutText(out, core::ScrambleText(row.Address, LvfScrambleKey, core::TScrambleDirection::Store),
                "an address");
        for (const auto& sub : row.SubItems)
            PutText(out, sub, "a text");
    }
    return out;
}

std::string FormatMessage(std::string_view templ, std::string_view name)
{
    std::string text(templ);
    const std::size_t at = text.find("%s");
    if (at != std::string::npos)
        text.replace(at, 2, name);
    return text;
}

TLoadOutcome LoadFromFile(TAddressList& list, const std::string& path, core::TPrompter& prompter,
                          const TLvfMessages& messages)
{
    const std::string name = std::filesystem::path(path).filename().string();
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
        prompter.Inform(core::TMessageKind::Error, FormatMessage(messages.Missing, name));
        return TLoadOutcome::Missing;
    }
    std::ifstream in(path, std::ios::binary);
    std::string bytes;
    if (in)
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (!in && !in.eof()) {
        prompter.Inform(core::TMessageKind::Error,
                        "Cannot read \"" + name + "\": " + std::strerror(errno ? errno : EIO));
        return TLoadOutcome::Unreadable;
    }
    TLvfReadResult read = ReadLvf(bytes);
    if (read.Status == TLvfReadResult::TStatus::BadSignature) {
        prompter.Inform(core::TMessageKind::Error, FormatMessage(messages.Corrupted, name));
        return TLoadOutcome::Corrupted;
    }
    list.Rows = std::move(read.Rows);
    SortRows(list);
    if (read.Status == TLvfReadResult::TStatus::Truncated) {
        prompter.Inform(core::TMessageKind::Error, "\"" + name + "\" ends before all its rows; the " +
                                                       std::to_string(list.Rows.size()) +
                                                       " address(es) read before the end were kept.");
        return TLoadOutcome::Truncated;
    }
    return TLoadOutcome::Loaded;
}

void SaveToFile(const TAddressList& list, const std::string& path)
{
    WriteFileAtomically(path, WriteLvf(list.Rows));
}

void WriteFileAtomically(const std::string& path, std::string_view bytes)
{
    // One temporary name per file: the writers of a list file take its lock first, and a temporary
    // left by a crash is simply written over.
    const std::string temporary = path + ".tmp";
    const auto fail = [&](const char* what, int error) {
        ::unlink(temporary.c_str());
        throw core::TFileError(std::string(what) + " \"" + path + "\": " + std::strerror(error));
    };
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        // Not unlinked: what is in the way is not ours.
        throw core::TFileError("Cannot create \"" + path + "\" (through \"" + temporary +
                               "\"): " + std::strerror(errno));
    }
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int error = n < 0 ? errno : EIO;
            ::close(fd);
            fail("Cannot write", error);
        }
        written += static_cast<std::size_t>(n);
    }
    // The data must be on the disk before the name points at it, or a crash could leave an empty file.
    if (::fsync(fd) != 0) {
        const int error = errno;
        ::close(fd);
        fail("Cannot write", error);
    }
    if (::close(fd) != 0)
        fail("Cannot write", errno);
    if (::rename(temporary.c_str(), path.c_str()) != 0)
        fail("Cannot replace", errno);
    // The rename itself lasts once the folder is synced; a folder that cannot be opened for that is
    // no failure of the save, which has happened.
    const std::string folder = std::filesystem::path(path).parent_path().string();
    const int dir = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

} // namespace tarnwick::classify
