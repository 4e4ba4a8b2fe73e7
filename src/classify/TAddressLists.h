#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "TAddressList.h"
#include "core/TSnapshot.h"

namespace tarnwick::core {
class TPrompter;
}

namespace tarnwick::classify {

inline constexpr const char* BlackListFileName = "BlackList.scl";
inline constexpr const char* WhiteListFileName = "WhiteList.scl";

// Both lists as one immutable value: a reader sees them from the same moment, so a move from one
// list to the other is never seen half done.
struct TListsState
{
    std::shared_ptr<const TAddressList> Black;
    std::shared_ptr<const TAddressList> White;

    const TAddressList& Of(TListKind kind) const { return kind == TListKind::White ? *White : *Black; }
};

// The program's two address lists. The user-interface thread changes them (copy, change,
// publish); the receive workers read immutable snapshots and never wait for a change to finish.
class TAddressLists
{
public:
    TAddressLists();

    // Both lists as they are now; the snapshot never changes afterwards.
    TListsState Snapshot() const;
    std::shared_ptr<const TAddressList> Black() const { return Snapshot().Black; }
    std::shared_ptr<const TAddressList> White() const { return Snapshot().White; }

    // Runs `change` on copies of the lists (the one named first, and the other one) and publishes
    // both afterwards. Changes are serialised; when `change` throws, nothing is published.
    void Change(TListKind kind, const std::function<void(TAddressList& list, TAddressList& other)>& change);
    // Replaces both lists at once.
    void Replace(TAddressList black, TAddressList white);

    // Reads "BlackList.scl" and "WhiteList.scl" from the folder (ending in "/"); a missing file gives
    // an empty list without a message, a damaged one is reported through the prompter and copied to
    // "<name>.damaged" first, so that saving the list later loses nothing. True when neither file
    // was damaged.
    bool Load(const std::string& folder, core::TPrompter& prompter);
    // Writes both files into the folder. Throws TFileError; the lists stay in memory either way.
    void Save(const std::string& folder) const;
    // Writes one list's file.
    void Save(const std::string& folder, TListKind kind) const;

private:
    std::mutex WriteMutex_; // serialises the copy-change-publish of writers
    core::TSnapshot<TListsState> State_;
};

// The process-wide lists the program, the command line and the download engine share.
TAddressLists& AddressLists();

} // namespace tarnwick::classify
