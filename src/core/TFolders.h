#pragma once

#include <string>

namespace tarnwick::core {

class TRegistry;

// Where the settings file and the per-user folders live by default, from the environment.
// TARNWICK_HOME, when set, puts all of them below one folder (tests and portable use).
struct TEnvironment
{
    std::string TarnwickHome;
    std::string XdgConfigHome;
    std::string XdgDataHome;
    std::string XdgCacheHome;
    std::string Home;

    static TEnvironment FromProcess();

    std::string SettingsFile() const;
    // Seed of the "AppData" value: the folder below which "Orvalent/Tarnwick/" is made.
    std::string AppDataBase() const;
    // Default of the cache directory option, without a trailing separator.
    std::string DefaultCacheDir() const;
};

// The folders fixed for the whole run.
struct TFolders
{
    std::string ProgramFolder;      // ends in "/"
    std::string ProgramFolderNoSep; // the same without the trailing "/"
    std::string DataFolder;         // ends in "/"
    std::string DefaultCacheDir;    // no trailing "/"
};

inline constexpr const char* ShellFoldersKey =
    "\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
inline constexpr const char* CacheFolderName = "VedOzurCache";

// The program folder of an executable path: its folder with a trailing "/".
std::string ProgramFolderOf(const std::string& executablePath);

// Determines the folders: the data folder is the "AppData" value of the shell folders key (seeded
// from the environment when missing) followed by "Orvalent/Tarnwick/", each level created when
// missing; an empty "AppData" puts the data into the program folder.
TFolders DetermineFolders(TRegistry& registry, const TEnvironment& env, const std::string& programFolder);

// The message cache folder below a cache directory option value.
std::string CacheFolder(const std::string& cacheDir);

} // namespace tarnwick::core
