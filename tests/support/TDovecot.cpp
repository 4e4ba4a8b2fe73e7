#include "TDovecot.h"

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>

#include <fcntl.h>
#include <sys/stat.h>
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
    // Dovecot looks at a passwd-file at most once a second and reloads it only when its size or its
    // mtime in whole seconds changed. A user created again (a repeated test) with another password
    // of the same length could keep the old one: the new file's mtime is made later than the old
    // one's, and the call returns only once the second in which Dovecot may have looked is over.
    struct stat old
    {};
    const bool replaced = ::stat(file.c_str(), &old) == 0;
    if (replaced) {
        const timespec times[2] = {{0, UTIME_OMIT}, {std::max(old.st_mtime + 1, ::time(nullptr)), 0}};
        ::utimensat(AT_FDCWD, temporary.c_str(), times, 0);
    }
    fs::rename(temporary, file);
    if (replaced) {
        const std::time_t renamed = ::time(nullptr);
        while (::time(nullptr) <= renamed)
            ::usleep(20000);
    }
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
