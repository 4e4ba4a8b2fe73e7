#pragma once

#include <memory>
#include <string>
#include <vector>

#include "TFolders.h"
#include "TOptionRec.h"
#include "TSettingsStore.h"

// The process-wide state that every part of the program starts from: the user's settings store,
// the folders, and the options. InitializeModules runs once before any window exists.
namespace tarnwick::core {

inline constexpr const char* InstallPathKey = "\\Software\\Orvalent\\Tarnwick\\InstallPath";
inline constexpr const char* ProgramFileName = "tarnwick";

// Opens the settings store, determines the folders, records the program's path and loads the
// options, writing their defaults when there are none yet. Texts for the user about what happened
// on the way (a damaged settings file kept aside) are added to `notices`. Throws TStoreError when
// the settings file cannot be used at all.
void InitializeModules(const std::string& executablePath, const TEnvironment& env,
                       std::vector<std::string>& notices);
// Loads the options once more, writing the defaults first when they cannot be read; from then on
// the options hold the stored values. Runs when the options window is made (or, headless, right
// after InitializeModules).
void LoadOptionsAtStart();
// Releases the process-wide state (program end, and between tests).
void FinalizeModules();
bool ModulesInitialized();

std::shared_ptr<TSettingsStore> Hive();
const TFolders& Folders();

// The current options: an immutable snapshot, safe to read from any thread.
std::shared_ptr<const TOptionRec> Options();
// Replaces the current options (in memory only; WriteOptions stores them).
void PublishOptions(TOptionRec rec);

} // namespace tarnwick::core
