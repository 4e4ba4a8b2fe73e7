#include "TAddressLists.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "TLvfFile.h"
#include "core/Errors.h"
#include "core/TextUtils.h"

namespace tarnwick::classify {

namespace {

std::size_t Slot(TListKind kind)
{
    return kind == TListKind::White ? 1 : 0;
}

// A list file as it is now, read by the saver under the file's lock.
struct TFileNow
{
    bool Exists = false;
    std::string Bytes;
};

TFileNow ReadFileNow(const std::string& path)
{
    TFileNow now;
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (ec || status.type() == std::filesystem::file_type::not_found) {
        if (ec && ec != std::errc::no_such_file_or_directory)
            throw core::TFileError("Cannot read \"" + path + "\": " + ec.message());
        return now;
    }
    if (status.type() != std::filesystem::file_type::regular)
        throw core::TFileError("Cannot read \"" + path + "\": it is not a regular file.");
    std::ifstream in(path, std::ios::binary);
    if (in)
        now.Bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (!in && !in.eof())
        throw core::TFileError("Cannot read \"" + path + "\": " + std::strerror(errno ? errno : EIO));
    now.Exists = true;
    return now;
}

// What the merge knows of one key: its rows in base and mine (the occurrences it pairs up), how many
// theirs has, and what the result takes.
struct TKeyRows
{
    std::vector<const TAddressRow*> Base;
    std::vector<const TAddressRow*> Mine;
    std::size_t Theirs = 0;
    std::size_t Keep = 0;  // rows of theirs kept, its first ones
    std::size_t Added = 0; // rows of mine appended, its last ones
    std::size_t SeenTheirs = 0;
    std::size_t SeenMine = 0;
};

std::vector<std::string> KeysOf(const std::vector<TAddressRow>& rows)
{
    std::vector<std::string> keys;
    keys.reserve(rows.size());
    for (const TAddressRow& row : rows)
        keys.push_back(ListAddressKey(row.Address));
    return keys;
}

} // namespace

const char* ListFileName(TListKind kind)
{
    return kind == TListKind::White ? WhiteListFileName : BlackListFileName;
}

// --- index -----------------------------------------------------------------------------------------

TListIndex::TListIndex(const TAddressList& list)
{
    Keys_.reserve(list.Rows.size());
    for (const TAddressRow& row : list.Rows) {
        ++Keys_[ListAddressKey(row.Address)];
        if (row.Enabled) {
            const std::string_view entry = core::TrimBlanksAndControls(row.Address);
            Enabled_.try_emplace(ListAddressKey(entry), entry);
        }
    }
}

bool TListIndex::Listed(std::string_view text) const
{
    return Keys_.contains(ListAddressKey(text));
}

std::optional<std::string> TListIndex::EnabledMemberEntry(std::string_view text) const
{
    const auto it = Enabled_.find(ListAddressKey(core::TrimBlanksAndControls(text)));
    if (it == Enabled_.end())
        return std::nullopt;
    return it->second;
}

TListsState::TListsState(std::shared_ptr<const TAddressList> black, std::shared_ptr<const TAddressList> white)
    : Black(std::move(black))
    , White(std::move(white))
    , BlackIndex_(Black ? std::make_shared<const TListIndex>(*Black) : nullptr)
    , WhiteIndex_(White ? std::make_shared<const TListIndex>(*White) : nullptr)
{}

TListsState TListsState::Indexed(TAddressList black, TAddressList white)
{
    black.Kind = TListKind::Black;
    white.Kind = TListKind::White;
    return {std::make_shared<const TAddressList>(std::move(black)),
            std::make_shared<const TAddressList>(std::move(white))};
}

void TListsState::Put(TAddressList list)
{
    auto shared = std::make_shared<const TAddressList>(std::move(list));
    auto index = std::make_shared<const TListIndex>(*shared);
    if (shared->Kind == TListKind::White) {
        White = std::move(shared);
        WhiteIndex_ = std::move(index);
    } else {
        Black = std::move(shared);
        BlackIndex_ = std::move(index);
    }
}

bool TListsState::Listed(TListKind kind, std::string_view text) const
{
    const TListIndex* index = IndexOf(kind);
    return index != nullptr && index->Listed(text);
}

bool TListsState::EnabledMember(TListKind kind, std::string_view text) const
{
    return EnabledMemberEntry(kind, text).has_value();
}

std::optional<std::string> TListsState::EnabledMemberEntry(TListKind kind, std::string_view text) const
{
    const TListIndex* index = IndexOf(kind);
    return index != nullptr ? index->EnabledMemberEntry(text) : std::nullopt;
}

// --- lock ------------------------------------------------------------------------------------------

TListFileLock::TListFileLock(const std::string& listPath, std::chrono::milliseconds timeout)
{
    const std::string path = listPath + ".lock";
    Fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (Fd_ < 0)
        throw core::TFileError("Cannot lock \"" + listPath + "\" (through \"" + path +
                               "\"): " + std::strerror(errno));
    // Polled rather than blocking, so that a program holding the lock for good cannot hang this one.
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (::flock(Fd_, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        if (error == EINTR)
            continue;
        if (error != EWOULDBLOCK || std::chrono::steady_clock::now() >= until) {
            ::close(Fd_);
            throw core::TFileError("Cannot lock \"" + listPath + "\" (through \"" + path + "\"): " +
                                   (error == EWOULDBLOCK ? std::string("another program keeps it locked")
                                                         : std::strerror(error)));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

TListFileLock::~TListFileLock()
{
    // Closing the descriptor releases the lock.
    ::close(Fd_);
}

// --- merge -----------------------------------------------------------------------------------------

std::vector<TAddressRow> MergeRows(const std::vector<TAddressRow>& base, const std::vector<TAddressRow>& mine,
                                   const std::vector<TAddressRow>& theirs)
{
    const std::vector<std::string> baseKeys = KeysOf(base);
    const std::vector<std::string> mineKeys = KeysOf(mine);
    const std::vector<std::string> theirKeys = KeysOf(theirs);
    std::unordered_map<std::string_view, TKeyRows> keys;
    keys.reserve(theirs.size() + mine.size() / 8 + 16);
    for (std::size_t i = 0; i < base.size(); ++i)
        keys[baseKeys[i]].Base.push_back(&base[i]);
    for (std::size_t i = 0; i < mine.size(); ++i)
        keys[mineKeys[i]].Mine.push_back(&mine[i]);
    for (const std::string& key : theirKeys)
        ++keys[key].Theirs;

    // How many rows of each key the result holds: the count as mine changed it, a change both sides
    // made (both added, both removed) counted once.
    for (auto& [key, rows] : keys) {
        const std::size_t b = rows.Base.size();
        const std::size_t m = rows.Mine.size();
        const std::size_t t = rows.Theirs;
        std::size_t result = t;
        if (m > b)
            result = t > b ? std::max(m, t) : t + (m - b);
        else if (m < b)
            result = t < b ? std::min(m, t) : t - std::min(t, b - m);
        rows.Keep = std::min(result, t);
        rows.Added = result > t ? std::min(result - t, m) : 0;
    }

    std::vector<TAddressRow> merged;
    merged.reserve(theirs.size() + mine.size());
    for (std::size_t i = 0; i < theirs.size(); ++i) {
        TKeyRows& rows = keys.find(theirKeys[i])->second;
        const std::size_t n = rows.SeenTheirs++;
        if (n >= rows.Keep)
            continue;
        TAddressRow row = theirs[i];
        // The n-th row of the key in all three: mine's changes against base win, field by field.
        if (n < rows.Base.size() && n < rows.Mine.size()) {
            const TAddressRow& was = *rows.Base[n];
            const TAddressRow& now = *rows.Mine[n];
            if (now.Enabled != was.Enabled)
                row.Enabled = now.Enabled;
            if (now.Address != was.Address)
                row.Address = now.Address;
            if (now.SubItems != was.SubItems)
                row.SubItems = now.SubItems;
        }
        merged.push_back(std::move(row));
    }
    for (std::size_t i = 0; i < mine.size(); ++i) {
        TKeyRows& rows = keys.find(mineKeys[i])->second;
        if (rows.SeenMine++ + rows.Added >= rows.Mine.size())
            merged.push_back(mine[i]);
    }
    return merged;
}

// --- the two lists ---------------------------------------------------------------------------------

TAddressLists::TAddressLists()
{
    State_.Store(TListsState::Indexed({}, {}));
}

TListsState TAddressLists::Snapshot() const
{
    return *State_.Load();
}

void TAddressLists::Publish(TAddressList black, TAddressList white)
{
    // A window may have edited rows in place; the white list keeps its order whatever happened.
    white.Kind = TListKind::White;
    SortRows(white);
    State_.Store(TListsState::Indexed(std::move(black), std::move(white)));
}

void TAddressLists::Change(TListKind kind,
                           const std::function<void(TAddressList& list, TAddressList& other)>& change)
{
    std::lock_guard lock(WriteMutex_);
    const TListsState now = *State_.Load();
    TAddressList black = *now.Black;
    TAddressList white = *now.White;
    if (kind == TListKind::White)
        change(white, black);
    else
        change(black, white);
    // Only a list that changed is sorted and indexed again: with tens of thousands of rows that is
    // most of the cost of one added address.
    black.Kind = TListKind::Black;
    white.Kind = TListKind::White;
    const bool blackChanged = !(black == *now.Black);
    const bool whiteChanged = !(white == *now.White);
    if (!blackChanged && !whiteChanged)
        return;
    TListsState next = now;
    if (blackChanged)
        next.Put(std::move(black));
    if (whiteChanged) {
        // A window may have edited rows in place; the white list keeps its order whatever happened.
        SortRows(white);
        next.Put(std::move(white));
    }
    State_.Store(std::move(next));
}

void TAddressLists::Replace(TAddressList black, TAddressList white)
{
    std::lock_guard lock(WriteMutex_);
    Publish(std::move(black), std::move(white));
}

bool TAddressLists::Load(const std::string& folder, core::TPrompter& prompter)
{
    TAddressList black{TListKind::Black, {}};
    TAddressList white{TListKind::White, {}};
    std::array<TBase, 2> bases;
    bool whole = true;
    for (TAddressList* list : {&black, &white}) {
        TBase& base = bases[Slot(list->Kind)];
        base.Folder = folder;
        const std::string path = folder + ListFileName(list->Kind);
        std::error_code ec;
        if (!std::filesystem::exists(path, ec))
            continue;
        const TLoadOutcome outcome = LoadFromFile(*list, path, prompter);
        if (outcome != TLoadOutcome::Loaded) {
            whole = false;
            std::filesystem::copy_file(path, path + ".damaged",
                                       std::filesystem::copy_options::overwrite_existing, ec);
        }
        base.Rows = list->Rows;
    }
    std::lock_guard lock(WriteMutex_);
    Publish(std::move(black), std::move(white));
    Bases_ = std::move(bases);
    return whole;
}

std::vector<std::string> TAddressLists::Save(const std::string& folder)
{
    std::vector<std::string> notes = Save(folder, TListKind::Black);
    for (std::string& note : Save(folder, TListKind::White))
        notes.push_back(std::move(note));
    return notes;
}

std::vector<std::string> TAddressLists::Save(const std::string& folder, TListKind kind)
{
    std::lock_guard lock(WriteMutex_);
    const std::string path = folder + ListFileName(kind);
    TBase& base = Bases_[Slot(kind)];
    const std::vector<TAddressRow> noBase;
    const std::vector<TAddressRow>& baseRows = base.Folder == folder ? base.Rows : noBase;

    const TListFileLock fileLock(path, LockTimeout_);
    const TFileNow now = ReadFileNow(path);
    const TLvfReadResult theirs = now.Exists ? ReadLvf(now.Bytes) : TLvfReadResult{};
    const TListsState state = *State_.Load();
    TAddressList merged{kind, MergeRows(baseRows, state.Of(kind).Rows, theirs.Rows)};
    SortRows(merged);

    std::vector<std::string> notes;
    // Nothing to write when the file already holds the result (a missing file holds no rows).
    if (merged.Rows != theirs.Rows) {
        if (theirs.Status != TLvfReadResult::TStatus::Ok) {
            // Kept aside before it is written over; the rows that could be read took part in the merge.
            const std::string aside = path + ".damaged";
            std::error_code ec;
            std::filesystem::copy_file(path, aside, std::filesystem::copy_options::overwrite_existing, ec);
            if (ec)
                throw core::TFileError("\"" + path + "\" is damaged and cannot be kept as \"" + aside +
                                       "\": " + ec.message() + "; the list was not saved.");
            notes.push_back("\"" + path + "\" was damaged (" +
                            (theirs.Status == TLvfReadResult::TStatus::BadSignature
                                 ? std::string("not a list file")
                                 : "it ends after " + std::to_string(theirs.Rows.size()) + " row(s)") +
                            "); it was kept as \"" + aside + "\" and the list was written over it.");
        }
        SaveToFile(merged, path);
    }

    base.Folder = folder;
    base.Rows = merged.Rows;
    TAddressList other = state.Of(kind == TListKind::White ? TListKind::Black : TListKind::White);
    if (kind == TListKind::White)
        Publish(std::move(other), std::move(merged));
    else
        Publish(std::move(merged), std::move(other));
    return notes;
}

TAddressLists& AddressLists()
{
    static TAddressLists lists;
    return lists;
}

} // namespace tarnwick::classify
