#include "TRenderedMessage.h"

#include <cstring>
#include <fstream>
#include <memory>

#include "DisplayAddress.h"
#include "HtmlSanitizer.h"
#include "ReadWholeFile.h"
#include "core/Errors.h"
#include "core/TextUtils.h"
#include "retrieval/EncodedWords.h"
#include "retrieval/GMimeSupport.h"
#include "retrieval/HeaderText.h"
#include "retrieval/TParsedHeader.h"

namespace tarnwick::mime {

namespace gmime = retrieval::gmime;

namespace {

template <typename T> using TGObject = std::unique_ptr<T, gmime::TGObjectDeleter>;

std::string PercentDecoded(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && core::HexDigitValue(text[i + 1]) >= 0 &&
            core::HexDigitValue(text[i + 2]) >= 0) {
            out +=
                static_cast<char>(core::HexDigitValue(text[i + 1]) * 16 + core::HexDigitValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string WithoutAngles(std::string_view id)
{
    const std::string trimmed = core::Trim(id);
    std::string_view view(trimmed);
    if (view.size() >= 2 && view.front() == '<' && view.back() == '>')
        view = view.substr(1, view.size() - 2);
    return std::string(view);
}

// The bytes of a leaf part with its transfer encoding undone.
std::string DecodedContent(GMimePart* part)
{
    GMimeDataWrapper* content = g_mime_part_get_content(part);
    if (!content)
        return {};
    TGObject<GMimeStream> memory(g_mime_stream_mem_new());
    g_mime_data_wrapper_write_to_stream(content, memory.get());
    GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(memory.get()));
    if (!bytes || bytes->len == 0)
        return {};
    return std::string(reinterpret_cast<const char*>(bytes->data), bytes->len);
}

// The encoded size of a part's content, -1 when unknown.
gint64 EncodedLength(GMimePart* part)
{
    GMimeDataWrapper* content = g_mime_part_get_content(part);
    GMimeStream* stream = content ? g_mime_data_wrapper_get_stream(content) : nullptr;
    return stream ? g_mime_stream_length(stream) : -1;
}

// Text in the declared charset as UTF-8. Latin-1 and ASCII are read as windows-1252 (what their
// senders mean, as browsers do); UTF-8, no charset or one that cannot be converted as UTF-8 where it
// is valid, else windows-1252. Whatever the bytes, the result is valid UTF-8.
std::string TextAsUtf8(const std::string& bytes, const char* declared)
{
    const std::string charset = declared ? core::AsciiLower(core::Trim(declared)) : std::string();
    if (charset.empty() || charset == "utf-8" || charset == "utf8" || charset == "us-ascii" ||
        charset == "ascii")
        return retrieval::Utf8Text(bytes);
    const char* canonical = g_mime_charset_canon_name(charset.c_str());
    const std::string name = canonical ? core::AsciiLower(canonical) : charset;
    if (name == "iso-8859-1" || name == "latin1" || name == "windows-1252" || name == "cp1252" ||
        name == "us-ascii" || name == "ansi_x3.4-1968")
        return core::Windows1252ToUtf8(bytes);
    if (name == "utf-8")
        return retrieval::Utf8Text(bytes);
    GMimeFilter* filter = g_mime_filter_charset_new(charset.c_str(), "UTF-8");
    if (!filter)
        return retrieval::Utf8Text(bytes);
    TGObject<GMimeStream> memory(g_mime_stream_mem_new());
    {
        TGObject<GMimeStream> filtered(g_mime_stream_filter_new(memory.get()));
        g_mime_stream_filter_add(GMIME_STREAM_FILTER(filtered.get()), filter);
        g_object_unref(filter);
        g_mime_stream_write(filtered.get(), bytes.data(), bytes.size());
        g_mime_stream_flush(filtered.get());
    }
    GByteArray* converted = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(memory.get()));
    if (!converted || converted->len == 0)
        return bytes.empty() ? std::string() : retrieval::Utf8Text(bytes);
    return retrieval::Utf8Text(
        std::string_view(reinterpret_cast<const char*>(converted->data), converted->len));
}

// The raw value of a header of the message, unfolded.
std::string RawHeader(GMimeObject* object, const char* name)
{
    GMimeHeaderList* headers = g_mime_object_get_header_list(object);
    GMimeHeader* header = headers ? g_mime_header_list_get_header(headers, name) : nullptr;
    const char* raw = header ? g_mime_header_get_raw_value(header) : nullptr;
    std::string value;
    for (const char* p = raw ? raw : ""; *p; ++p)
        if (*p != '\r' && *p != '\n')
            value += *p;
    return core::Trim(value);
}

void AppendMailboxes(InternetAddressList* list, std::string& out, int depth)
{
    const int count = internet_address_list_length(list);
    for (int i = 0; i < count; ++i) {
        InternetAddress* address = internet_address_list_get_address(list, i);
        const char* rawName = internet_address_get_name(address);
        const std::string name = core::Trim(retrieval::DisplayText(rawName ? rawName : ""));
        if (INTERNET_ADDRESS_IS_GROUP(address)) {
            if (depth > 0)
                continue;
            if (!out.empty())
                out += ", ";
            out += EscapeHtml(name) + ": ";
            std::string members;
            AppendMailboxes(internet_address_group_get_members(INTERNET_ADDRESS_GROUP(address)), members, 1);
            out += members + ";";
            continue;
        }
        const char* rawAddress = internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(address));
        const std::string mail = DisplayAddress(retrieval::DisplayText(rawAddress ? rawAddress : ""));
        if (name.empty() && mail.empty())
            continue;
        if (!out.empty())
            out += ", ";
        if (name.empty())
            out += EscapeHtml(mail);
        else if (mail.empty())
            out += EscapeHtml(name);
        else
            out += EscapeHtml(name) + " &lt;" + EscapeHtml(mail) + "&gt;";
    }
}

// An address header as HTML: each mailbox as "Name <address>" with its domain as DisplayDomain
// shows it; the decoded text when no mailbox can be read from it.
std::string AddressesHtml(GMimeObject* object, const char* name, const std::string& fallback)
{
    const std::string raw = RawHeader(object, name);
    std::string out;
    if (!raw.empty()) {
        std::string text = retrieval::JoinEncodedWords(raw);
        for (char& c : text)
            if (c == '\0')
                c = ' ';
        if (InternetAddressList* list = internet_address_list_parse(gmime::HeaderOptions(), text.c_str())) {
            AppendMailboxes(list, out, 0);
            g_object_unref(list);
        }
    }
    return out.empty() ? EscapeHtml(fallback) : out;
}

std::string DateText(std::int64_t date)
{
    if (date == retrieval::TParsedHeader::NoDate)
        return {};
    gmime::TDateTimePtr local(g_date_time_new_from_unix_local(date / 1000));
    if (!local)
        return {};
    gmime::TGCharPtr text(g_date_time_format(local.get(), "%Y-%m-%d %H:%M:%S %z"));
    return text ? text.get() : "";
}

void AppendHeaderRow(std::string& html, std::string_view label, const std::string& valueHtml)
{
    if (valueHtml.empty())
        return;
    html += "<tr><td valign=\"top\"><b>";
    html += label;
    html += "</b></td><td>";
    html += valueHtml;
    html += "</td></tr>\n";
}

std::string Document(const std::string& headerBlock, const std::string& body)
{
    std::string html;
    html.reserve(headerBlock.size() + body.size() + 128);
    html += "<html><body>\n";
    html += headerBlock;
    html += body;
    html += "\n</body></html>\n";
    return html;
}

struct TBody
{
    GMimePart* Part = nullptr;
    bool Html = false;
    int Embedded = 0; // message/rfc822 parts above it
};

struct TWalkItem
{
    GMimeObject* Object;
    int Depth;
    int Embedded;
};

// Walks the part tree without recursion: the body to show (the first text/html part that is not
// an attachment, else the first text/plain one; a message's own before an attached message's) and
// the inline images.
TBody Walk(GMimeObject* root, TRenderedMessage& rendered)
{
    TBody body;
    std::size_t inlineBytes = 0;
    std::vector<TWalkItem> stack{{root, 0, 0}};
    while (!stack.empty()) {
        const TWalkItem item = stack.back();
        stack.pop_back();
        if (!item.Object || item.Depth > MaxPartDepth)
            continue;
        if (GMIME_IS_MULTIPART(item.Object)) {
            GMimeMultipart* multipart = GMIME_MULTIPART(item.Object);
            for (int i = g_mime_multipart_get_count(multipart); i-- > 0;)
                stack.push_back({g_mime_multipart_get_part(multipart, i), item.Depth + 1, item.Embedded});
            continue;
        }
        if (GMIME_IS_MESSAGE_PART(item.Object)) {
            GMimeMessage* inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(item.Object));
            if (inner)
                stack.push_back({g_mime_message_get_mime_part(inner), item.Depth + 1, item.Embedded + 1});
            continue;
        }
        if (!GMIME_IS_PART(item.Object))
            continue;
        GMimePart* part = GMIME_PART(item.Object);
        GMimeContentType* type = g_mime_object_get_content_type(item.Object);
        if (!type)
            continue;
        const bool html = g_mime_content_type_is_type(type, "text", "html");
        const bool plain = g_mime_content_type_is_type(type, "text", "plain");
        if ((html || plain) && !g_mime_part_is_attachment(part)) {
            const bool better = !body.Part || item.Embedded < body.Embedded ||
                                (item.Embedded == body.Embedded && html && !body.Html);
            if (better)
                body = {part, html, item.Embedded};
        }
        const char* id = g_mime_object_get_content_id(item.Object);
        if (!id || !g_mime_content_type_is_type(type, "image", "*"))
            continue;
        const std::string contentId = WithoutAngles(id);
        if (contentId.empty() || rendered.InlineParts.size() >= MaxInlineParts)
            continue;
        const gint64 encoded = EncodedLength(part);
        if (encoded > 0 && static_cast<std::size_t>(encoded) / 4 * 3 > MaxInlineBytes - inlineBytes + 4)
            continue;
        std::string data = DecodedContent(part);
        if (data.empty() || data.size() > MaxInlineBytes - inlineBytes)
            continue;
        inlineBytes += data.size();
        gmime::TGCharPtr mimeType(g_mime_content_type_get_mime_type(type));
        rendered.InlineParts.push_back(
            {contentId, core::AsciiLower(mimeType ? mimeType.get() : "image/*"), std::move(data)});
    }
    return body;
}

} // namespace

const TInlinePart* TRenderedMessage::FindInline(std::string_view contentId) const
{
    if (contentId.size() >= 4 && core::AsciiEqualNoCase(contentId.substr(0, 4), "cid:"))
        contentId.remove_prefix(4);
    const std::string id = WithoutAngles(PercentDecoded(contentId));
    for (const TInlinePart& part : InlineParts)
        if (part.ContentId == id)
            return &part;
    for (const TInlinePart& part : InlineParts)
        if (core::AsciiEqualNoCase(part.ContentId, id))
            return &part;
    return nullptr;
}

TRenderedMessage RenderMessage(std::string_view message)
{
    gmime::EnsureInitialized();
    TRenderedMessage rendered;
    const retrieval::TParsedHeader header = retrieval::ParseMessageText(message);

    TGObject<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(message.data(), message.size()));
    TGObject<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
    g_mime_parser_set_format(parser.get(), GMIME_FORMAT_MESSAGE);
    TGObject<GMimeMessage> parsed(g_mime_parser_construct_message(parser.get(), gmime::HeaderOptions()));

    std::string block = "<table cellspacing=\"0\" cellpadding=\"1\">\n";
    GMimeObject* object = parsed ? GMIME_OBJECT(parsed.get()) : nullptr;
    if (object) {
        AppendHeaderRow(block, "From:", AddressesHtml(object, "From", header.FromText));
        AppendHeaderRow(block, "To:", AddressesHtml(object, "To", header.ToText));
        AppendHeaderRow(block, "Cc:", AddressesHtml(object, "Cc", header.CcText));
    }
    AppendHeaderRow(block, "Date:", EscapeHtml(DateText(header.Date)));
    AppendHeaderRow(block, "Subject:", EscapeHtml(header.Subject));
    block += "</table>\n<hr>\n";

    std::string body;
    GMimeObject* root = parsed ? g_mime_message_get_mime_part(parsed.get()) : nullptr;
    if (!parsed) {
        body = PlainTextToHtml(message);
    } else if (root) {
        const TBody chosen = Walk(root, rendered);
        if (chosen.Part) {
            const std::string text =
                TextAsUtf8(DecodedContent(chosen.Part),
                           g_mime_object_get_content_type_parameter(GMIME_OBJECT(chosen.Part), "charset"));
            if (chosen.Html) {
                TSanitizedHtml sanitized = SanitizeHtml(text);
                rendered.BlockedRemote = sanitized.BlockedRemote;
                body = std::move(sanitized.Html);
            } else {
                body = PlainTextToHtml(text);
            }
        }
    }
    rendered.Html = Document(block, body);
    return rendered;
}

TRenderedMessage RenderMessageFile(const std::string& path)
{
    return RenderMessage(ReadWholeFile(path, "message file"));
}

TRenderedMessage RenderHtmlFile(const std::string& path)
{
    TSanitizedHtml sanitized = SanitizeHtml(ReadWholeFile(path, "page"));
    TRenderedMessage rendered;
    rendered.BlockedRemote = sanitized.BlockedRemote;
    rendered.Html = Document({}, sanitized.Html);
    return rendered;
}

} // namespace tarnwick::mime
