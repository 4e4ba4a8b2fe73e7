#include "TParsedHeader.h"

#include <array>
#include <charconv>
#include <cstdio>
#include <ctime>

#include "EncodedWords.h"
#include "GMimeSupport.h"
#include "HeaderText.h"
#include "core/TextUtils.h"

namespace tarnwick::retrieval {

namespace {

// The header fields the record is built from; any other field is only kept among the lines.
enum TField : int
{
    FieldFrom,
    FieldTo,
    FieldCc,
    FieldSubject,
    FieldOrganization,
    FieldDate,
    FieldMessageId,
    FieldPriority,
    FieldXPriority,
    FieldCount,
    FieldOther = -1,
};

constexpr std::array<std::string_view, FieldCount> FieldNames = {
    "from", "to", "cc", "subject", "organization", "date", "message-id", "priority", "x-priority",
};

TField FieldOf(std::string_view name)
{
    // Obsolete syntax allows blanks between the name and the colon.
    while (!name.empty() && (name.back() == ' ' || name.back() == '\t'))
        name.remove_suffix(1);
    if (name.size() > 12)
        return FieldOther;
    for (int i = 0; i < FieldCount; ++i)
        if (core::AsciiEqualNoCase(name, FieldNames[static_cast<std::size_t>(i)]))
            return static_cast<TField>(i);
    return FieldOther;
}

// The unfolded values of the fields of interest, the first occurrence of each. A line that starts
// with a blank continues the field before it; unfolding joins the lines without their line ends
// and keeps the blanks.
struct TFieldValues
{
    std::array<std::string, FieldCount> Values;
    std::array<bool, FieldCount> Present{};

    explicit TFieldValues(const std::vector<std::string>& lines)
    {
        int current = FieldOther;
        for (const std::string& line : lines) {
            if (!line.empty() && (line[0] == ' ' || line[0] == '\t')) {
                if (current != FieldOther)
                    Values[static_cast<std::size_t>(current)] += line;
                continue;
            }
            current = FieldOther;
            const std::size_t colon = line.find(':');
            if (colon == std::string::npos)
                continue;
            const TField field = FieldOf(std::string_view(line).substr(0, colon));
            if (field == FieldOther || Present[static_cast<std::size_t>(field)])
                continue;
            current = field;
            Present[static_cast<std::size_t>(field)] = true;
            Values[static_cast<std::size_t>(field)] = line.substr(colon + 1);
        }
    }

    const std::string& operator[](TField field) const { return Values[static_cast<std::size_t>(field)]; }
};

std::string MailboxText(const std::string& name, const std::string& address)
{
    if (name.empty())
        return address;
    if (address.empty())
        return name;
    return name + " <" + address + ">";
}

struct TMailbox
{
    std::string Name;
    std::string Address;
};

// Whether two parses of one address list have the same entries: as many, each a mailbox or a group
// in both, and the groups' members alike.
bool SameShape(InternetAddressList* a, InternetAddressList* b)
{
    const int countA = a ? internet_address_list_length(a) : 0;
    const int countB = b ? internet_address_list_length(b) : 0;
    if (countA != countB)
        return false;
    for (int i = 0; i < countA; ++i) {
        InternetAddress* x = internet_address_list_get_address(a, i);
        InternetAddress* y = internet_address_list_get_address(b, i);
        if (INTERNET_ADDRESS_IS_GROUP(x) != INTERNET_ADDRESS_IS_GROUP(y) ||
            INTERNET_ADDRESS_IS_MAILBOX(x) != INTERNET_ADDRESS_IS_MAILBOX(y))
            return false;
        if (INTERNET_ADDRESS_IS_GROUP(x) &&
            !SameShape(internet_address_group_get_members(INTERNET_ADDRESS_GROUP(x)),
                       internet_address_group_get_members(INTERNET_ADDRESS_GROUP(y))))
            return false;
    }
    return true;
}

// Walks an address list: every mailbox, members of groups in their place. An empty group is
// written as its name followed by ":;" (as "undisclosed-recipients:;"), so that the reader sees
// that the message named recipients it does not show. The names come from named, a parse of the
// same list with its encoded words joined (see AddressListText), when there is one.
void AppendAddresses(InternetAddressList* list, InternetAddressList* named, std::string& text,
                     TMailbox* first, bool& haveFirst)
{
    const int count = internet_address_list_length(list);
    for (int i = 0; i < count; ++i) {
        InternetAddress* address = internet_address_list_get_address(list, i);
        InternetAddress* namedAddress = named ? internet_address_list_get_address(named, i) : address;
        const char* rawName = internet_address_get_name(namedAddress);
        const std::string name = DisplayText(rawName ? rawName : "");
        if (INTERNET_ADDRESS_IS_GROUP(address)) {
            InternetAddressList* members =
                internet_address_group_get_members(INTERNET_ADDRESS_GROUP(address));
            if (members && internet_address_list_length(members) > 0) {
                AppendAddresses(members,
                                named
                                    ? internet_address_group_get_members(INTERNET_ADDRESS_GROUP(namedAddress))
                                    : nullptr,
                                text, first, haveFirst);
            } else {
                if (!text.empty())
                    text += ", ";
                text += name + ":;";
            }
            continue;
        }
        if (!INTERNET_ADDRESS_IS_MAILBOX(address))
            continue;
        const char* rawAddress = internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(address));
        const std::string mail = DisplayText(rawAddress ? rawAddress : "");
        if (name.empty() && mail.empty())
            continue;
        if (!text.empty())
            text += ", ";
        text += MailboxText(name, mail);
        if (first && !haveFirst) {
            first->Name = name;
            first->Address = mail;
            haveFirst = true;
        }
    }
}

// GMime reads C strings: a NUL byte would end the value early, so it is read as a blank.
std::string ForGMime(std::string_view value)
{
    std::string text = core::Trim(value);
    for (char& c : text)
        if (c == '\0')
            c = ' ';
    return text;
}

std::string DecodeText(std::string_view value)
{
    const std::string text = JoinEncodedWords(ForGMime(value));
    if (text.empty())
        return {};
    gmime::TGCharPtr decoded(g_mime_utils_header_decode_text(gmime::HeaderOptions(), text.c_str()));
    return core::Trim(DisplayText(decoded ? decoded.get() : ""));
}

std::string AddressListText(std::string_view value, TMailbox* first, bool& haveFirst)
{
    const std::string text = ForGMime(value);
    if (text.empty())
        return {};
    gmime::TAddressListPtr list(internet_address_list_parse(gmime::HeaderOptions(), text.c_str()));
    if (!list)
        return {};
    // The display names need the encoded words joined (see JoinEncodedWords), but an encoded word
    // can also stand where GMime takes it for an address ("<=?utf-8?q?x?=@example.com>"), and
    // addresses stay as written. So the joined text is parsed apart, and its names are taken only
    // when both parses found the same entries.
    const std::string joined = JoinEncodedWords(text);
    gmime::TAddressListPtr named;
    if (joined != text) {
        named.reset(internet_address_list_parse(gmime::HeaderOptions(), joined.c_str()));
        if (named && !SameShape(list.get(), named.get()))
            named.reset();
    }
    std::string out;
    AppendAddresses(list.get(), named.get(), out, first, haveFirst);
    return out;
}

std::int64_t DecodeDate(std::string_view value)
{
    const std::string text = ForGMime(value);
    if (text.empty())
        return TParsedHeader::NoDate;
    gmime::TDateTimePtr date(g_mime_utils_header_decode_date(text.c_str()));
    if (!date)
        return TParsedHeader::NoDate;
    // GDateTime covers the years 1 to 9999, far inside the range of milliseconds in 64 bits.
    return static_cast<std::int64_t>(g_date_time_to_unix(date.get())) * 1000 +
           g_date_time_get_microsecond(date.get()) / 1000;
}

// "dd-mm-yyyy" of a date in local time; empty for a message without a date.
std::string LocalDateText(std::int64_t date)
{
    if (date == TParsedHeader::NoDate)
        return {};
    const std::int64_t seconds = date / 1000 - (date % 1000 < 0 ? 1 : 0);
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm local{};
    if (!localtime_r(&t, &local))
        return {};
    char text[32];
    std::snprintf(text, sizeof text, "%02d-%02d-%04d", local.tm_mday, local.tm_mon + 1, local.tm_year + 1900);
    return text;
}

bool KeptInCacheName(unsigned char c)
{
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))
        return true;
    switch (c) {
    case '!':
    case '#':
    case '$':
    case '%':
    case '&':
    case '\'':
    case '(':
    case ')':
    case '-':
    case '.':
    case '^':
    case '_':
    case '`':
    case '{':
    case '}':
    case '@':
        return true;
    default:
        return false;
    }
}

void AppendCacheNameByte(std::string& out, unsigned char c)
{
    if (KeptInCacheName(c)) {
        out += static_cast<char>(c);
        return;
    }
    char escape[4] = {'~'};
    const auto end = std::to_chars(escape + 1, escape + sizeof escape, static_cast<unsigned>(c)).ptr;
    out.append(escape, static_cast<std::size_t>(end - escape));
}

std::uint64_t Fnv1a64(std::string_view text)
{
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (const char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3ULL;
    }
    return hash;
}

} // namespace

TParsedHeader ParseHeader(std::vector<std::string> lines, bool hasBody)
{
    TParsedHeader header;
    header.HasBody = hasBody;
    const TFieldValues fields(lines);
    header.Lines = std::move(lines);

    TMailbox sender;
    bool haveSender = false;
    if (fields.Present[FieldFrom]) {
        AddressListText(fields[FieldFrom], &sender, haveSender);
        if (haveSender) {
            header.FromName = sender.Name;
            header.FromAddress = sender.Address;
            header.FromText = MailboxText(sender.Name, sender.Address);
        } else {
            // No mailbox to be found ("From: John Smith"): the text is all there is to show.
            header.FromName = DecodeText(fields[FieldFrom]);
            header.FromText = header.FromName;
        }
    }
    bool unused = false;
    header.ToText = AddressListText(fields[FieldTo], nullptr, unused);
    header.CcText = AddressListText(fields[FieldCc], nullptr, unused);
    header.Subject = DecodeText(fields[FieldSubject]);
    header.Organization = DecodeText(fields[FieldOrganization]);
    header.Date = DecodeDate(fields[FieldDate]);
    header.MessageId = Utf8Text(core::Trim(fields[FieldMessageId]));
    const std::string priority = core::Trim(fields[FieldPriority]);
    header.Priority = Utf8Text(priority.empty() ? core::Trim(fields[FieldXPriority]) : priority);
    return header;
}

TParsedHeader ParseMessageText(std::string_view text)
{
    std::vector<std::string> lines;
    bool hasBody = false;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        const std::size_t next = end == std::string_view::npos ? text.size() : end + 1;
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        pos = next;
        if (line.empty()) {
            hasBody = pos < text.size();
            break;
        }
        lines.emplace_back(line);
    }
    return ParseHeader(std::move(lines), hasBody);
}

std::string CacheNameOf(const TParsedHeader& header)
{
    const std::string source =
        !header.MessageId.empty()
            ? header.MessageId
            : "MsgIDPrefix" + header.FromName + header.FromAddress + LocalDateText(header.Date);
    std::string name;
    name.reserve(source.size());
    for (const char c : source)
        AppendCacheNameByte(name, static_cast<unsigned char>(c));
    if (name.size() <= MaxCacheNameLength)
        return name;

    // Too long for a file name: a prefix of whole escapes and a hash of everything. "~~" never
    // occurs otherwise, since "~" always stands before digits.
    constexpr std::size_t HashLength = 2 + 16;
    std::string shortName;
    for (const char c : source) {
        std::string piece;
        AppendCacheNameByte(piece, static_cast<unsigned char>(c));
        if (shortName.size() + piece.size() > MaxCacheNameLength - HashLength)
            break;
        shortName += piece;
    }
    char hash[HashLength + 1];
    std::snprintf(hash, sizeof hash, "~~%016llx", static_cast<unsigned long long>(Fnv1a64(source)));
    return shortName + hash;
}

} // namespace tarnwick::retrieval
