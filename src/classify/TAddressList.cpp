#include "TAddressList.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include <glib.h>

#include "core/TextUtils.h"

namespace tarnwick::classify {

namespace {

struct TGFree
{
    void operator()(gchar* p) const { g_free(p); }
};
using TGString = std::unique_ptr<gchar, TGFree>;

// The collation key of a text in the current LC_COLLATE. Bytes that are not UTF-8 are replaced for
// the key only; the raw bytes break ties, so the order is total and repeatable.
std::string CollationKey(std::string_view text)
{
    const std::string owned(text);
    TGString valid(g_utf8_make_valid(owned.data(), static_cast<gssize>(owned.size())));
    TGString key(g_utf8_collate_key(valid.get(), -1));
    return key ? std::string(key.get()) : std::string();
}

// A text split as the lists compare it: at its last "@", the domain without one trailing dot.
struct TAddressParts
{
    std::string_view Local;
    std::string_view Domain;
    bool HasAt = false;
};

TAddressParts SplitAddress(std::string_view text)
{
    const std::size_t at = text.rfind('@');
    if (at == std::string_view::npos)
        return {text, {}, false};
    std::string_view domain = text.substr(at + 1);
    if (domain.size() > 1 && domain.back() == '.')
        domain.remove_suffix(1);
    return {text.substr(0, at), domain, true};
}

bool IsAscii(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// The domain as it compares: lower case in composed form for UTF-8 beyond ASCII (as international
// domain names map letters; full case folding would also make "ß" equal to "ss", another domain),
// A to Z folded otherwise. GLib's validation refuses zero bytes, which its mapping would stop at.
std::string FoldDomain(std::string_view domain)
{
    if (IsAscii(domain) || !g_utf8_validate(domain.data(), static_cast<gssize>(domain.size()), nullptr))
        return core::AsciiLower(domain);
    TGString folded(g_utf8_strdown(domain.data(), static_cast<gssize>(domain.size())));
    TGString composed(g_utf8_normalize(folded.get(), -1, G_NORMALIZE_NFC));
    return std::string(composed ? composed.get() : folded.get());
}

std::vector<TAddressRow>::iterator FindListed(std::vector<TAddressRow>& rows, std::string_view text)
{
    return std::find_if(rows.begin(), rows.end(),
                        [&](const TAddressRow& row) { return SameListAddress(row.Address, text); });
}

} // namespace

std::string_view ListName(TListKind kind)
{
    return kind == TListKind::White ? "White" : "Black";
}

int CollateAddresses(std::string_view a, std::string_view b)
{
    const int byKey = CollationKey(a).compare(CollationKey(b));
    if (byKey != 0)
        return byKey < 0 ? -1 : 1;
    const int raw = a.compare(b);
    return raw < 0 ? -1 : (raw > 0 ? 1 : 0);
}

void SortRows(TAddressList& list)
{
    if (list.Kind != TListKind::White)
        return;
    std::vector<std::pair<std::string, TAddressRow>> keyed;
    keyed.reserve(list.Rows.size());
    for (auto& row : list.Rows)
        keyed.emplace_back(CollationKey(row.Address), std::move(row));
    std::stable_sort(keyed.begin(), keyed.end(), [](const auto& x, const auto& y) {
        if (x.first != y.first)
            return x.first < y.first;
        return x.second.Address < y.second.Address;
    });
    for (std::size_t i = 0; i < keyed.size(); ++i)
        list.Rows[i] = std::move(keyed[i].second);
}

void InsertRow(TAddressList& list, TAddressRow row)
{
    if (list.Kind != TListKind::White) {
        list.Rows.push_back(std::move(row));
        return;
    }
    // After every row that sorts before or equal to it, so equal addresses keep insertion order.
    const std::string key = CollationKey(row.Address);
    const auto at = std::upper_bound(list.Rows.begin(), list.Rows.end(), row,
                                     [&](const TAddressRow& value, const TAddressRow& element) {
                                         const std::string other = CollationKey(element.Address);
                                         if (key != other)
                                             return key < other;
                                         return value.Address < element.Address;
                                     });
    list.Rows.insert(at, std::move(row));
}

bool SameListAddress(std::string_view a, std::string_view b)
{
    const TAddressParts x = SplitAddress(a);
    const TAddressParts y = SplitAddress(b);
    if (x.HasAt != y.HasAt || !core::AsciiEqualNoCase(x.Local, y.Local))
        return false;
    if (!x.HasAt)
        return true;
    // Most domains are ASCII; those compare without building their folded forms.
    if (IsAscii(x.Domain) && IsAscii(y.Domain))
        return core::AsciiEqualNoCase(x.Domain, y.Domain);
    return FoldDomain(x.Domain) == FoldDomain(y.Domain);
}

std::string ListAddressKey(std::string_view text)
{
    const TAddressParts parts = SplitAddress(text);
    std::string key = core::AsciiLower(parts.Local);
    if (parts.HasAt)
        key += '@' + FoldDomain(parts.Domain);
    return key;
}

bool IsListed(const TAddressList& list, std::string_view text)
{
    return std::any_of(list.Rows.begin(), list.Rows.end(),
                       [&](const TAddressRow& row) { return SameListAddress(row.Address, text); });
}

bool RemoveListed(TAddressList& list, std::string_view text)
{
    const auto it = FindListed(list.Rows, text);
    if (it == list.Rows.end())
        return false;
    list.Rows.erase(it);
    return true;
}

bool AddListed(TAddressList& list, std::string_view text)
{
    if (!IsPlausibleAddress(text) || IsListed(list, text) || text.size() > MaxListText ||
        list.Rows.size() >= MaxListRows)
        return false;
    InsertRow(list, TAddressRow{std::string(text), true, {}});
    return true;
}

bool MoveToList(TAddressList& list, TAddressList& other, std::string_view text)
{
    RemoveListed(other, text);
    return AddListed(list, text);
}

bool IsEnabledMember(const TAddressList& list, std::string_view text)
{
    return EnabledMemberEntry(list, text).has_value();
}

std::optional<std::string> EnabledMemberEntry(const TAddressList& list, std::string_view text)
{
    const std::string_view wanted = core::TrimBlanksAndControls(text);
    for (const TAddressRow& row : list.Rows)
        if (const std::string_view entry = core::TrimBlanksAndControls(row.Address);
            row.Enabled && SameListAddress(entry, wanted))
            return std::string(entry);
    return std::nullopt;
}

bool IsPlausibleAddress(std::string_view text)
{
    if (text.empty())
        return false;
    const std::size_t at = text.find('@');
    if (at == std::string_view::npos)
        return true;
    return at != 0 && at != text.size() - 1;
}

TAddOutcome AddAddress(TAddressList& list, const TAddressList& other, std::string_view text)
{
    if (IsListed(other, text))
        return TAddOutcome::InOtherList;
    if (IsListed(list, text))
        return TAddOutcome::InThisList;
    if (text.size() > MaxListText)
        return TAddOutcome::TooLong;
    if (list.Rows.size() >= MaxListRows)
        return TAddOutcome::ListFull;
    InsertRow(list, TAddressRow{std::string(text), true, {}});
    return TAddOutcome::Added;
}

std::string AlreadyInListText(TListKind foundIn)
{
    return "This address is already in the " + std::string(ListName(foundIn)) + " list.";
}

} // namespace tarnwick::classify
