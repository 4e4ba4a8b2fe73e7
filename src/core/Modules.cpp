#include "Modules.h"

#include "Errors.h"
#include "TRegistry.h"
#include "TSnapshot.h"

namespace tarnwick::core {

namespace {

struct TModules
{
    std::shared_ptr<TSettingsStore> Hive;
    TFolders Folders;
    TSnapshot<TOptionRec> Options;
};

std::unique_ptr<TModules>& Instance()
{
    static std::unique_ptr<TModules> instance;
    return instance;
}

TModules& Require()
{
    if (!Instance())
        throw TError("The program's modules are not initialised.");
    return *Instance();
}

// Reads the options into `rec`. Without any options (first start) the defaults are stored and
// `rec` is left as it was. A value that cannot be read takes its default, in `rec` and in the store,
// while every other value keeps what the user chose; the result lists those values.
TOptionsRead LoadOrRepairOptions(TRegistry& registry, TOptionRec& rec, const std::string& defaultCacheDir)
{
    TOptionsRead read = ReadOptionsReporting(registry, rec, defaultCacheDir);
    if (!read.Found)
        WriteDefaultOptions(registry, defaultCacheDir);
    else if (!read.Unreadable.empty())
        WriteOptions(registry, rec);
    return read;
}

} // namespace

void InitializeModules(const std::string& executablePath, const TEnvironment& env,
                       std::vector<std::string>& notices)
{
    auto modules = std::make_unique<TModules>();
    std::string notice;
    modules->Hive = TSettingsStore::OpenOrRecover(env.SettingsFile(), notice);
    if (!notice.empty())
        notices.push_back(notice);

    TRegistry registry(modules->Hive);
    modules->Folders = DetermineFolders(registry, env, ProgramFolderOf(executablePath));

    registry.OpenKey(InstallPathKey, true);
    if (!registry.ValueExists("Path"))
        registry.WriteString("Path", modules->Folders.ProgramFolder + ProgramFileName);
    registry.CloseKey();

    TOptionRec options;
    for (const auto& unreadable :
         LoadOrRepairOptions(registry, options, modules->Folders.DefaultCacheDir).Unreadable)
        notices.push_back(UnreadableOptionText(unreadable));
    modules->Options.Store(std::move(options));

    Instance() = std::move(modules);
}

void LoadOptionsAtStart()
{
    TModules& modules = Require();
    TRegistry registry(modules.Hive);
    TOptionRec options = *modules.Options.Load();
    if (!LoadOrRepairOptions(registry, options, modules.Folders.DefaultCacheDir).Found)
        ReadOptions(registry, options); // the defaults just stored
    modules.Options.Store(std::move(options));
}

void FinalizeModules()
{
    Instance().reset();
}

bool ModulesInitialized()
{
    return Instance() != nullptr;
}

std::shared_ptr<TSettingsStore> Hive()
{
    return Require().Hive;
}

const TFolders& Folders()
{
    return Require().Folders;
}

std::shared_ptr<const TOptionRec> Options()
{
    return Require().Options.Load();
}

void PublishOptions(TOptionRec rec)
{
    Require().Options.Store(std::move(rec));
}

} // namespace tarnwick::core
