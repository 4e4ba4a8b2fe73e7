#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::classify {

// The most rows a list holds and the longest text a row carries: the list file stores both as
// 16-bit counts.
inline constexpr std::size_t MaxListRows = 65535;
inline constexpr std::size_t MaxListText = 65535;

// One row of an address list: the address as entered (no normalisation), its check mark, and
// further columns that the file format carries but the address lists leave empty.
struct TAddressRow
{
    std::string Address;
    bool Enabled = true;
    std::vector<std::string> SubItems;

    bool operator==(const TAddressRow&) const = default;
};

enum class TListKind
{
    Black, // keeps insertion order
    White, // kept sorted by address in the user's locale collation
};

// One of the two address lists. The rows are public: the list windows edit them directly and call
// SortRows afterwards; the operations below keep the white list's order themselves.
struct TAddressList
{
    TListKind Kind = TListKind::Black;
    std::vector<TAddressRow> Rows;

    bool operator==(const TAddressList&) const = default;
};

// "Black" or "White", as the list's texts name it.
std::string_view ListName(TListKind kind);

// Orders the rows of a white list by address in the user's locale collation (LC_COLLATE); equal
// addresses keep their order. A black list is left alone.
void SortRows(TAddressList& list);
// Compares two addresses in the user's locale collation; bytes that are not UTF-8 compare by value.
int CollateAddresses(std::string_view a, std::string_view b);

// The one comparison of list entries with addresses, used wherever the lists are consulted (the
// classifier, adding, removing and moving rows, the list windows, the command line, the import and
// the message views):
// - A text holding an "@" splits at its last "@", so that a local part that holds "@" itself (a
//   quoted one) stays whole and the text after the last "@" is always the domain. The local part
//   compares with the letters A to Z folded and every other byte exact. The domain compares as
//   domain names do: one trailing dot (the root of a fully qualified name) is dropped, then the
//   letters A to Z are folded; a domain that is valid UTF-8 beyond ASCII is compared in Unicode lower
//   case in composed form (NFC; "ß" stays apart from "ss"), so "BÜCHER.example" and "bücher.example" are one
//   domain. A domain that is not UTF-8 folds A to Z alone.
// - A text without "@" compares with A to Z folded throughout.
// Nothing is trimmed here; the stored rows keep the address as entered.
bool SameListAddress(std::string_view a, std::string_view b);
// The form of a text under SameListAddress: two texts are the same list address exactly when their
// keys are equal, so a set of keys finds what a search with SameListAddress would.
std::string ListAddressKey(std::string_view text);

// True when some row's address is `text` under SameListAddress; no trimming; enabled and disabled
// rows alike.
bool IsListed(const TAddressList& list, std::string_view text);
// Deletes the first row that IsListed's comparison finds; true when a row was deleted.
bool RemoveListed(TAddressList& list, std::string_view text);
// Adds an enabled row for `text` when it is a plausible address, not yet listed (IsListed), and
// the list has room for it; true when a row was added. The white list inserts it in order.
bool AddListed(TAddressList& list, std::string_view text);
// Removes `text` from the other list (RemoveListed) and then adds it to this one (AddListed).
bool MoveToList(TAddressList& list, TAddressList& other, std::string_view text);
// The classifier's test: some enabled row's address, with blanks and control characters trimmed
// from both ends, is `text` trimmed the same way under SameListAddress (so in any letter case).
bool IsEnabledMember(const TAddressList& list, std::string_view text);
// The same test, giving the first enabled row's address that matched, trimmed; nothing when none.
std::optional<std::string> EnabledMemberEntry(const TAddressList& list, std::string_view text);
// False for an empty text and for a text whose first "@" is its first or its last character; true
// otherwise, a text without any "@" included.
bool IsPlausibleAddress(std::string_view text);

// What adding an address from a list window (or the command line) came to.
enum class TAddOutcome
{
    Added,
    InOtherList, // already in the other list (under SameListAddress); nothing added
    InThisList,  // already in this list (under SameListAddress); nothing added
    TooLong,     // longer than a list file can hold
    ListFull,    // the list already has MaxListRows rows
};

// The list window's "Add": the text, unchanged and without a plausibility test, is looked up with
// IsListed first in the other list, then in this one; when it is in neither an enabled row is
// added (in order for the white list).
TAddOutcome AddAddress(TAddressList& list, const TAddressList& other, std::string_view text);
// The warning shown when an address is already in a list: "This address is already in the White
// list." or "... Black list.".
std::string AlreadyInListText(TListKind foundIn);

// Inserts a row at its place: at the end of a black list, in collation order in a white list.
void InsertRow(TAddressList& list, TAddressRow row);

} // namespace tarnwick::classify
