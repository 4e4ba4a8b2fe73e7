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

void TAddressLists::Load(const std::string& folder, core::TPrompter& prompter)
{
    TAddressList black{TListKind::Black, {}};
    TAddressList white{TListKind::White, {}};
    std::error_code ec;
    if (std::filesystem::exists(folder + BlackListFileName, ec))
        LoadFromFile(black, folder + BlackListFileName, prompter);
    if (std::filesystem::exists(folder + WhiteListFileName, ec))
        LoadFromFile(white, folder + WhiteListFileName, prompter);
    Replace(std::move(black), std::move(white));
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
