#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "TAddressList.h"
#include "core/TSnapshot.h"

namespace tarnwick::core {
class TPrompter;
}

namespace tarnwick::classify {

inline constexpr const char* BlackListFileName = "BlackList.scl";
inline constexpr const char* WhiteListFileName = "WhiteList.scl";

// The file name of a list in the data folder.
const char* ListFileName(TListKind kind);

// Hash indexes of one list, built once per published state, so that the classifier's test and the
// "already listed" test cost one key instead of a scan of up to 65535 rows. They answer exactly as
// IsListed and EnabledMemberEntry do on the same rows (ListAddressKey is SameListAddress as a key).
class TListIndex
{
public:
    explicit TListIndex(const TAddressList& list);

    // IsListed: some row, enabled or not, untrimmed.
    bool Listed(std::string_view text) const;
    // EnabledMemberEntry: the first enabled row whose trimmed address matches the trimmed text.
    std::optional<std::string> EnabledMemberEntry(std::string_view text) const;

private:
    std::unordered_map<std::string, std::size_t> Keys_;    // every row's key: how many rows have it
    std::unordered_map<std::string, std::string> Enabled_; // trimmed key: the first enabled entry
};

// Both lists as one immutable value: a reader sees them from the same moment, so a move from one
// list to the other is never seen half done. Each list comes with its index, built when the state is
// made; a state is made anew for every change rather than changed.
struct TListsState
{
    TListsState() = default; // no lists: nothing is listed
    TListsState(std::shared_ptr<const TAddressList> black, std::shared_ptr<const TAddressList> white);
    static TListsState Indexed(TAddressList black, TAddressList white);
    // Puts `list` in the place of its kind with a new index; the other list and its index stay.
    void Put(TAddressList list);

    std::shared_ptr<const TAddressList> Black;
    std::shared_ptr<const TAddressList> White;

    const TAddressList& Of(TListKind kind) const { return kind == TListKind::White ? *White : *Black; }
    // IsListed, IsEnabledMember and EnabledMemberEntry of one list, through its index.
    bool Listed(TListKind kind, std::string_view text) const;
    bool EnabledMember(TListKind kind, std::string_view text) const;
    std::optional<std::string> EnabledMemberEntry(TListKind kind, std::string_view text) const;

private:
    const TListIndex* IndexOf(TListKind kind) const
    {
        return (kind == TListKind::White ? WhiteIndex_ : BlackIndex_).get();
    }

    std::shared_ptr<const TListIndex> BlackIndex_;
    std::shared_ptr<const TListIndex> WhiteIndex_;
};

// The lock that makes the read-merge-write of one list file one step among programs: an exclusive
// flock on "<file>.lock" beside it. The constructor waits up to `timeout` for another holder and
// then throws TFileError naming the lock file; the destructor releases it.
class TListFileLock
{
public:
    TListFileLock(const std::string& listPath, std::chrono::milliseconds timeout);
    ~TListFileLock();
    TListFileLock(const TListFileLock&) = delete;
    TListFileLock& operator=(const TListFileLock&) = delete;

private:
    int Fd_ = -1;
};

// The three-way merge of one list on save: the rows of this session (`mine`) against those it last
// read or wrote (`base`), applied to the file's rows as they are now (`theirs`). Rows are matched by
// ListAddressKey, occurrence by occurrence, so that duplicates (an in-place edit can make them) are
// counted rather than lost or multiplied:
// - per key, the number of rows changes as mine changed it; when both sides added (or both removed)
//   rows of a key, that is one change and the larger (smaller) count is kept, never the sum;
// - added rows are appended in mine's order, removed ones are the last rows of that key in theirs;
// - the n-th row of a key that is in all three takes mine's check mark when mine changed it against
//   base, and mine's text (the same key written otherwise) when mine changed that; theirs otherwise.
// An edit that changes a row's key is a removal of the old key and an addition of the new one.
// Theirs' order is kept; a white list is sorted afterwards.
std::vector<TAddressRow> MergeRows(const std::vector<TAddressRow>& base, const std::vector<TAddressRow>& mine,
                                   const std::vector<TAddressRow>& theirs);

// The program's two address lists. The user-interface thread changes them (copy, change,
// publish); the receive workers read immutable snapshots and never wait for a change to finish.
// Saving merges: another program (tarnwick-cli from cron, a second window) may have written the file
// since it was read, and its changes stay.
class TAddressLists
{
public:
    // How long Save waits for another program's lock on a list file by default.
    static constexpr std::chrono::milliseconds DefaultLockTimeout{10000};

    TAddressLists();

    // Both lists as they are now, with their indexes; the snapshot never changes afterwards.
    TListsState Snapshot() const;
    std::shared_ptr<const TAddressList> Black() const { return Snapshot().Black; }
    std::shared_ptr<const TAddressList> White() const { return Snapshot().White; }

    // Runs `change` on copies of the lists (the one named first, and the other one) and publishes
    // both afterwards. Changes are serialised; when `change` throws, nothing is published.
    void Change(TListKind kind, const std::function<void(TAddressList& list, TAddressList& other)>& change);
    // Replaces both lists at once (what was last read from the files stays the base of a merge).
    void Replace(TAddressList black, TAddressList white);

    // Reads "BlackList.scl" and "WhiteList.scl" from the folder (ending in "/"); a missing file gives
    // an empty list without a message, a damaged one is reported through the prompter and copied to
    // "<name>.damaged" first, so that saving the list later loses nothing. True when neither file
    // was damaged. The rows read are the base of the next save's merge.
    bool Load(const std::string& folder, core::TPrompter& prompter);
    // Saves both lists (see the other Save); the notes of both.
    std::vector<std::string> Save(const std::string& folder);
    // Saves one list: under the list file's lock, reads the file as it is now, merges this
    // session's changes since the last load or save into it (MergeRows), writes the result through
    // a temporary file in the same folder (written, synced, renamed over the file) and publishes it,
    // so that the program also sees what another program added. Throws TFileError naming the file and
    // the system's reason; on failure the old file, the lists in memory and the base stay.
    // A damaged file is copied to "<name>.damaged" first and the rows that could be read from it are
    // merged into; the returned notes say so (empty otherwise), for the caller to show.
    std::vector<std::string> Save(const std::string& folder, TListKind kind);

    void SetLockTimeout(std::chrono::milliseconds timeout) { LockTimeout_ = timeout; }

private:
    // What a list's file held when this object last read or wrote it.
    struct TBase
    {
        std::string Folder; // the folder it was read from or written to; another folder has no base
        std::vector<TAddressRow> Rows;
    };

    void Publish(TAddressList black, TAddressList white);

    std::mutex WriteMutex_; // serialises the copy-change-publish of writers, and the saves
    core::TSnapshot<TListsState> State_;
    std::array<TBase, 2> Bases_; // black, white
    std::chrono::milliseconds LockTimeout_ = DefaultLockTimeout;
};

// The process-wide lists the program, the command line and the download engine share.
TAddressLists& AddressLists();

} // namespace tarnwick::classify
