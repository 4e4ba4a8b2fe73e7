#include "TDovecot.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>

#include <unistd.h>

#include "TTempHome.h"

namespace fs = std::filesystem;

namespace tarnwick::test {

TDovecot::TDovecot(const std::string& stateFile)
{
    std::ifstream in(stateFile);
    if (!in)
        throw std::runtime_error("the test Dovecot is not running (no " + stateFile + ")");
    std::map<std::string, std::string> values;
    for (std::string line; std::getline(in, line);) {
        const std::size_t equals = line.find('=');
        if (equals != std::string::npos)
            values[line.substr(0, equals)] = line.substr(equals + 1);
    }
    Dir_ = values["DOVECOT_DIR"];
    Users_ = values["DOVECOT_USERS"];
    CaFile_ = values["DOVECOT_CA_FILE"];
    Pop3Port_ = std::stoi(values["DOVECOT_POP3_PORT"]);
    Pop3sPort_ = std::stoi(values["DOVECOT_POP3S_PORT"]);
    MailUid_ = static_cast<unsigned>(std::stoul(values["DOVECOT_MAIL_UID"]));
    MailGid_ = static_cast<unsigned>(std::stoul(values["DOVECOT_MAIL_GID"]));
}

void TDovecot::CreateUser(const std::string& name, const std::string& password,
                          const std::vector<std::string>& messages) const
{
    const fs::path home = fs::path(Dir_) / "home" / name;
    fs::remove_all(home);
    for (const char* sub : {"cur", "new", "tmp"})
        fs::create_directories(home / "Maildir" / sub);
    // Maildir names sort in delivery order, and Dovecot numbers the messages in that order.
    for (std::size_t i = 0; i < messages.size(); ++i) {
        const std::string file = std::to_string(1000000 + i) + ".M" + std::to_string(i) + ".tarnwick-test";
        WriteFileBytes((home / "Maildir" / "new" / file).string(), messages[i]);
    }
    for (const auto& entry : fs::recursive_directory_iterator(home))
        if (::chown(entry.path().c_str(), MailUid_, MailGid_) != 0)
            throw std::runtime_error("cannot hand " + entry.path().string() + " to the mail user");
    if (::chown(home.c_str(), MailUid_, MailGid_) != 0)
        throw std::runtime_error("cannot hand " + home.string() + " to the mail user");

    // The user's own passwd-file, written through a new file so that Dovecot never reads half.
    const std::string file = Users_ + "/" + name;
    const std::string temporary = file + ".new";
    WriteFileBytes(temporary, name + ":{PLAIN}" + password + ":" + std::to_string(MailUid_) + ":" +
                                  std::to_string(MailGid_) + "::" + home.string() + "::\n");
    fs::permissions(temporary, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                                   fs::perms::others_read);
    fs::rename(temporary, file);
}

void TDovecot::DeliverMessage(const std::string& name, const std::string& message) const
{
    const fs::path folder = fs::path(Dir_) / "home" / name / "Maildir";
    // Written in tmp and moved into new, as a delivery agent does, under a name that sorts last.
    static int delivered = 0;
    const std::string file =
        std::to_string(2000000 + ++delivered) + ".D" + std::to_string(::getpid()) + ".tarnwick-test";
    WriteFileBytes((folder / "tmp" / file).string(), message);
    if (::chown((folder / "tmp" / file).c_str(), MailUid_, MailGid_) != 0)
        throw std::runtime_error("cannot hand the delivered message to the mail user");
    fs::rename(folder / "tmp" / file, folder / "new" / file);
}

std::vector<std::string> TDovecot::MaildropFiles(const std::string& name) const
{
    std::vector<std::string> files;
    for (const char* sub : {"cur", "new"})
        for (const auto& entry : fs::directory_iterator(fs::path(Dir_) / "home" / name / "Maildir" / sub))
            files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

} // namespace tarnwick::test
