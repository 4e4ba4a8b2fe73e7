#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tarnwick::mime {

struct TSanitizedHtml
{
    std::string Html;              // a body fragment: allowed markup only, well-formed, valid UTF-8
    std::size_t BlockedRemote = 0; // references to anything outside the message that were removed
};

// Reduces an HTML text (any bytes; what is not UTF-8 is read as windows-1252) to markup that can
// show nothing but the message itself: an allow-list of formatting elements and attributes, links
// only to http, https, mailto and ftp, images only from cid: and data:image/ URLs. Scripts, style
// sheets, frames, objects, forms, meta and link elements go, with the content of script, style,
// title and head; other unknown elements go with their content kept as text. Every image source,
// background, CSS url() and other reference that would load something is removed and counted. Text
// and attribute values are decoded and escaped again, so whatever the input the output is well
// formed. Linear in the input: nothing is read twice beyond a bounded look-back of open elements.
TSanitizedHtml SanitizeHtml(std::string_view html);

// A CSS declaration list (a style attribute's value) without any url(), image-set(), @import,
// expression() and the like; the references removed are added to `blocked`.
std::string SanitizeStyle(std::string_view style, std::size_t& blocked);

// Plain text as HTML: escaped, line breaks and runs of blanks kept, and http, https, ftp, mailto
// and "www." links made into anchors.
std::string PlainTextToHtml(std::string_view text);

// Text escaped for HTML element content and double-quoted attribute values.
std::string EscapeHtml(std::string_view text);

// Where the sanitised HTML `html` may be cut so that its first part, at most `limit` bytes, is
// still whole markup: never inside a tag, an entity or a UTF-8 sequence. The elements still open
// there are left open (an HTML reader closes them). `html.size()` when it is no longer than
// `limit`.
std::size_t ClipPosition(std::string_view html, std::size_t limit);

} // namespace tarnwick::mime
