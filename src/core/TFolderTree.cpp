#include "TFolderTree.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnwick::core {

namespace {

// Opens the folder `name` below `parent` for reading, refusing a symbolic link in its place.
int OpenFolderAt(int parent, const char* name)
{
    return ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// Deletes the contents of the open folder `folder` (which this call owns and closes).
void DeleteContents(int folder, const std::function<void()>& eachEntry)
{
    DIR* dir = ::fdopendir(folder);
    if (dir == nullptr) {
        ::close(folder);
        return;
    }
    // The names are read first: removing entries while reading the same stream may skip some.
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names.emplace_back(entry->d_name);
    }
    const int fd = ::dirfd(dir);
    for (const std::string& name : names) {
        if (eachEntry)
            eachEntry();
        struct stat st
        {};
        if (::fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (S_ISDIR(st.st_mode)) {
            const int sub = OpenFolderAt(fd, name.c_str());
            if (sub >= 0)
                DeleteContents(sub, eachEntry);
            ::unlinkat(fd, name.c_str(), AT_REMOVEDIR); // fails, harmlessly, when something stayed
        } else {
            // Files, links (never followed), sockets and the like.
            ::unlinkat(fd, name.c_str(), 0);
        }
    }
    ::closedir(dir);
}

} // namespace

void DeleteFolderTree(const std::string& given, const std::function<void()>& eachEntry)
{
    // A trailing separator would make the system follow a link standing in the folder's place.
    std::string path = given;
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    if (path.empty() || path == "/")
        return;
    struct stat st
    {};
    if (::lstat(path.c_str(), &st) != 0)
        return;
    if (!S_ISDIR(st.st_mode)) {
        // A link standing for the folder (or anything else by that name): only the name itself goes.
        if (S_ISLNK(st.st_mode))
            ::unlink(path.c_str());
        return;
    }
    const int folder = OpenFolderAt(AT_FDCWD, path.c_str());
    if (folder < 0)
        return;
    // The folder opened must be the one looked at: a link put in its place meanwhile is refused by
    // O_NOFOLLOW, a different folder by this check.
    struct stat opened
    {};
    if (::fstat(folder, &opened) != 0 || opened.st_dev != st.st_dev || opened.st_ino != st.st_ino) {
        ::close(folder);
        return;
    }
    DeleteContents(folder, eachEntry);
    ::rmdir(path.c_str());
}

} // namespace tarnwick::core
