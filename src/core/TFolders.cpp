#include "TFolders.h"

#include <cstdlib>
#include <filesystem>

#include <sys/stat.h>

#include "TRegistry.h"

namespace tarnwick::core {

namespace {

std::string Env(const char* name)
{
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

std::string WithoutTrailingSlash(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

// Per XDG: a relative or empty value is ignored in favour of the default below $HOME.
std::string XdgOr(const std::string& value, const std::string& home, const char* fallback)
{
    if (!value.empty() && value.front() == '/')
        return WithoutTrailingSlash(value);
    return WithoutTrailingSlash(home) + fallback;
}

void MakeFolder(const std::string& path)
{
    // Failures are not reported here: the path is used all the same, and the operation that
    // writes into it reports its own error.
    std::error_code ec;
    if (std::filesystem::create_directories(path, ec))
        ::chmod(path.c_str(), 0700);
}

} // namespace

TEnvironment TEnvironment::FromProcess()
{
    return {Env("TARNWICK_HOME"), Env("XDG_CONFIG_HOME"), Env("XDG_DATA_HOME"), Env("XDG_CACHE_HOME"),
            Env("HOME")};
}

std::string TEnvironment::SettingsFile() const
{
    if (!TarnwickHome.empty())
        return WithoutTrailingSlash(TarnwickHome) + "/settings.db";
    return XdgOr(XdgConfigHome, Home, "/.config") + "/Orvalent/Tarnwick/settings.db";
}

std::string TEnvironment::AppDataBase() const
{
    if (!TarnwickHome.empty())
        return WithoutTrailingSlash(TarnwickHome) + "/data";
    return XdgOr(XdgDataHome, Home, "/.local/share");
}

std::string TEnvironment::DefaultCacheDir() const
{
    if (!TarnwickHome.empty())
        return WithoutTrailingSlash(TarnwickHome) + "/cache";
    return XdgOr(XdgCacheHome, Home, "/.cache") + "/Orvalent/Tarnwick";
}

std::string ProgramFolderOf(const std::string& executablePath)
{
    std::filesystem::path folder = std::filesystem::path(executablePath).parent_path();
    if (folder.empty())
        folder = std::filesystem::current_path();
    std::string text = WithoutTrailingSlash(folder.string());
    return text == "/" ? text : text + "/";
}

TFolders DetermineFolders(TRegistry& registry, const TEnvironment& env, const std::string& programFolder)
{
    TFolders folders;
    folders.ProgramFolder = programFolder;
    folders.ProgramFolderNoSep =
        programFolder.size() > 1 ? WithoutTrailingSlash(programFolder) : programFolder;
    folders.DefaultCacheDir = env.DefaultCacheDir();

    registry.OpenKey(ShellFoldersKey, true);
    if (!registry.ValueExists("AppData"))
        registry.WriteString("AppData", env.AppDataBase());
    // A value of another kind (a hand-edited store) is left alone; the environment's folder serves.
    const auto kind = registry.GetDataType("AppData");
    std::string appData = (kind == TRegDataType::String || kind == TRegDataType::ExpandString)
                              ? registry.ReadString("AppData")
                              : env.AppDataBase();
    registry.CloseKey();

    if (appData.empty()) {
        folders.DataFolder = programFolder;
        return folders;
    }
    if (appData.back() != '/')
        appData += '/';
    std::string folder = appData + "Orvalent/";
    MakeFolder(folder);
    folder += "Tarnwick/";
    MakeFolder(folder);
    folders.DataFolder = folder;
    return folders;
}

std::string CacheFolder(const std::string& cacheDir)
{
    return cacheDir + "/" + CacheFolderName;
}

} // namespace tarnwick::core
