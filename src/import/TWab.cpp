#include "TWab.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <unordered_map>
#include <unordered_set>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "TVCard.h"
#include "core/Errors.h"
#include "core/Modules.h"
#include "core/TextUtils.h"

namespace tarnwick::import {

namespace fs = std::filesystem;

namespace {

std::string CannotRead(const std::string& path, const std::string& reason)
{
    return "The address book \"" + path + "\" cannot be read: " + reason + ".";
}

// The whole file, refused past MaxAddressBookFile (checked while reading too, for a file that
// grows or a device that tells no size).
std::string ReadVCardFile(const std::string& path)
{
    // Not blocking: a FIFO named like a contact file must not hang the reader.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        throw core::TFileError(CannotRead(path, std::strerror(errno)));
    std::string bytes;
    struct stat info
    {};
    const auto fail = [&](const std::string& reason) {
        ::close(fd);
        throw core::TFileError(CannotRead(path, reason));
    };
    if (::fstat(fd, &info) != 0)
        fail(std::strerror(errno));
    if (S_ISDIR(info.st_mode))
        fail("it is a folder");
    if (!S_ISREG(info.st_mode))
        fail("it is not a regular file");
    const std::string tooLarge = "it is larger than " + std::to_string(MaxAddressBookFile >> 20) + " MB";
    if (static_cast<std::uintmax_t>(info.st_size) > MaxAddressBookFile)
        fail(tooLarge);
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            fail(std::strerror(errno));
        if (got == 0)
            break;
        if (bytes.size() + static_cast<std::size_t>(got) > MaxAddressBookFile)
            fail(tooLarge);
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return bytes;
}

bool IsVCardName(const fs::path& path)
{
    const std::string extension = core::AsciiLower(path.extension().string());
    return extension == ".vcf" || extension == ".vcard";
}

// The vCard files below a folder, at most MaxAddressBookDepth levels down; links to folders are
// not followed (they could lead in circles), links to files are.
void CollectVCardFiles(const fs::path& folder, int depth, std::vector<std::string>& files)
{
    std::error_code error;
    fs::directory_iterator it(folder, error);
    if (error)
        throw core::TFileError(CannotRead(folder.string(), error.message()));
    for (const fs::directory_iterator end; it != end; it.increment(error)) {
        if (error)
            throw core::TFileError(CannotRead(folder.string(), error.message()));
        const fs::path& path = it->path();
        std::error_code statusError;
        const fs::file_status own = it->symlink_status(statusError);
        if (statusError)
            continue;
        if (fs::is_directory(own)) {
            if (depth < MaxAddressBookDepth)
                CollectVCardFiles(path, depth + 1, files);
            continue;
        }
        if (!IsVCardName(path) || fs::is_directory(it->status(statusError)))
            continue;
        if (files.size() >= MaxAddressBookFiles)
            throw core::TFileError(
                CannotRead(folder.string(),
                           "it holds more than " + std::to_string(MaxAddressBookFiles) + " contact files"));
        files.push_back(path.string());
    }
    if (error)
        throw core::TFileError(CannotRead(folder.string(), error.message()));
}

// "mailto:" addresses as written, with their %-escapes undone and any "?..." part dropped.
std::string MailtoAddress(std::string_view uri)
{
    uri.remove_prefix(7);
    uri = uri.substr(0, uri.find('?'));
    std::string out;
    for (std::size_t i = 0; i < uri.size(); ++i) {
        if (uri[i] == '%' && i + 2 < uri.size()) {
            const int high = core::HexDigitValue(uri[i + 1]);
            const int low = core::HexDigitValue(uri[i + 2]);
            if (high >= 0 && low >= 0) {
                out += static_cast<char>(high * 16 + low);
                i += 2;
                continue;
            }
        }
        out += uri[i];
    }
    return core::Trim(out);
}

std::string ExistingOrEmpty(const std::vector<std::string>& candidates)
{
    for (const auto& candidate : candidates) {
        std::error_code error;
        if (!candidate.empty() && fs::exists(candidate, error))
            return candidate;
    }
    return {};
}

} // namespace

std::vector<TWabRow> WabRowsOf(const std::vector<TVCard>& cards)
{
    std::unordered_map<std::string, const TVCard*> people;
    for (const auto& card : cards)
        if (card.Kind == TVCard::TKind::Person && !card.Uid.empty())
            people.emplace(card.Uid, &card);

    std::vector<TWabRow> rows;
    for (const auto& card : cards) {
        if (card.Kind == TVCard::TKind::Other)
            continue;
        TWabRow row;
        row.Email = card.Emails.empty() ? std::string() : card.Emails.front();
        row.DisplayName = !card.FormattedName.empty()  ? card.FormattedName
                          : !card.ComposedName.empty() ? card.ComposedName
                          : !card.Organization.empty() ? card.Organization
                                                       : row.Email;
        row.RowNumber = static_cast<int>(rows.size());
        row.IsGroup = card.Kind == TVCard::TKind::Group;
        std::unordered_set<std::string> seen;
        // Only a group has members; MEMBER lines of another card are not listed.
        for (const auto& member : row.IsGroup ? card.Members : std::vector<std::string>{}) {
            std::string address;
            if (core::AsciiEqualNoCase(std::string_view(member).substr(0, 7), "mailto:")) {
                address = MailtoAddress(member);
            } else {
                std::string uid = core::AsciiLower(member);
                if (uid.starts_with("urn:uuid:"))
                    uid.erase(0, 9);
                if (const auto person = people.find(uid);
                    person != people.end() && !person->second->Emails.empty())
                    address = person->second->Emails.front();
            }
            // An escape may make anything of a mailto: address; one that is no text of one line is
            // left out.
            const bool oneLine =
                core::IsValidUtf8(address) && std::none_of(address.begin(), address.end(), [](char c) {
                    return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
                });
            if (!address.empty() && oneLine && seen.insert(address).second)
                row.Members.push_back(std::move(address));
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

std::string AddressBookPath(std::string_view optionPath, const core::TEnvironment& env)
{
    if (!core::Trim(optionPath).empty())
        return core::Trim(optionPath);
    if (env.Home.empty() && env.XdgDataHome.empty())
        return {};
    const std::string dataHome = !env.XdgDataHome.empty() ? env.XdgDataHome : env.Home + "/.local/share";
    std::vector<std::string> candidates{dataHome + "/contacts"};
    if (!env.Home.empty()) {
        candidates.push_back(env.Home + "/.local/share/evolution/addressbook");
        candidates.push_back(env.Home + "/.contacts");
    }
    return ExistingOrEmpty(candidates);
}

std::string AddressBookPath()
{
    const auto options = core::ModulesInitialized() ? core::Options() : nullptr;
    return AddressBookPath(options ? options->AddressBookPath : std::string(),
                           core::TEnvironment::FromProcess());
}

void TWab::Open(const std::string& path)
{
    std::vector<TVCard> cards;
    std::size_t skipped = 0;
    if (!path.empty()) {
        // Whatever is not a folder is read as a file, which names the reason when it cannot be.
        std::error_code error;
        std::vector<std::string> files;
        if (fs::is_directory(path, error)) {
            CollectVCardFiles(path, 0, files);
            std::sort(files.begin(), files.end());
        } else {
            files.push_back(path);
        }
        for (const auto& file : files) {
            TVCardText text = ParseVCards(ReadVCardFile(file), MaxVCardCards - cards.size());
            skipped += text.Skipped;
            std::move(text.Cards.begin(), text.Cards.end(), std::back_inserter(cards));
        }
    }
    Rows_ = WabRowsOf(cards);
    Skipped_ = skipped;
    Path_ = path;
}

void TWab::ListIntoRows(const std::string& path, std::vector<TWabRow>& rows)
{
    Open(path);
    rows = Rows_;
}

void TWab::ListIntoStrings(const std::string& path, std::vector<std::string>& lines)
{
    Open(path);
    lines.clear();
    for (const auto& row : Rows_)
        lines.push_back(row.DisplayName + "=" + row.Email);
}

} // namespace tarnwick::import
