#include "TAddressLists.h"

#include <filesystem>

#include "TLvfFile.h"

namespace tarnwick::classify {

namespace {

TListsState MakeState(TAddressList black, TAddressList white)
{
    black.Kind = TListKind::Black;
    white.Kind = TListKind::White;
    return {std::make_shared<const TAddressList>(std::move(black)),
            std::make_shared<const TAddressList>(std::move(white))};
}

} // namespace

TAddressLists::TAddressLists()
{
    State_.Store(MakeState({}, {}));
}

TListsState TAddressLists::Snapshot() const
{
    return *State_.Load();
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
    // A window may have edited rows in place; the white list keeps its order whatever happened.
    white.Kind = TListKind::White;
    SortRows(white);
    State_.Store(MakeState(std::move(black), std::move(white)));
}

void TAddressLists::Replace(TAddressList black, TAddressList white)
{
    std::lock_guard lock(WriteMutex_);
    white.Kind = TListKind::White;
    SortRows(white);
    State_.Store(MakeState(std::move(black), std::move(white)));
}

bool TAddressLists::Load(const std::string& folder, core::TPrompter& prompter)
{
    TAddressList black{TListKind::Black, {}};
    TAddressList white{TListKind::White, {}};
    bool whole = true;
    for (auto [list, name] : {std::pair{&black, BlackListFileName}, std::pair{&white, WhiteListFileName}}) {
        const std::string path = folder + name;
        std::error_code ec;
        if (!std::filesystem::exists(path, ec))
            continue;
        const TLoadOutcome outcome = LoadFromFile(*list, path, prompter);
        if (outcome != TLoadOutcome::Loaded) {
            whole = false;
            std::filesystem::copy_file(path, path + ".damaged",
                                       std::filesystem::copy_options::overwrite_existing, ec);
        }
    }
    Replace(std::move(black), std::move(white));
    return whole;
}

void TAddressLists::Save(const std::string& folder) const
{
    Save(folder, TListKind::Black);
    Save(folder, TListKind::White);
}

void TAddressLists::Save(const std::string& folder, TListKind kind) const
{
    const TListsState state = Snapshot();
    SaveToFile(state.Of(kind), folder + (kind == TListKind::White ? WhiteListFileName : BlackListFileName));
}

TAddressLists& AddressLists()
{
    static TAddressLists lists;
    return lists;
}

} // namespace tarnwick::classify
