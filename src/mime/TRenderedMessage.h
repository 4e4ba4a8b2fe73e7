#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::mime {

// A part of the message that the body's cid: URLs may name.
struct TInlinePart
{
    std::string ContentId; // without < >
    std::string MimeType;  // "image/png"
    std::string Data;      // decoded bytes
};

// A message made ready to show: HTML that names nothing outside the message.
struct TRenderedMessage
{
    std::string Html;                     // a whole HTML document: the header block, then the sanitised body
    std::vector<TInlinePart> InlineParts; // parts a cid: URL of the body may name
    std::size_t BlockedRemote = 0;        // remote/local references the sanitiser removed

    // Finds an inline part by content id: a cid: URL's part after "cid:" (the prefix may be given
    // too), %-decoded as RFC 2392 writes it; compared exactly, then without regard to ASCII case.
    const TInlinePart* FindInline(std::string_view contentId) const;
};

// At most this many inline parts, of at most this many bytes together, are kept.
inline constexpr std::size_t MaxInlineParts = 256;
inline constexpr std::size_t MaxInlineBytes = 32u << 20;
// Multiparts nested deeper than this are not looked into.
inline constexpr int MaxPartDepth = 64;

// Renders a whole message text (the cache file's bytes). Never throws on any input except
// std::bad_alloc; broken MIME is rendered best-effort.
TRenderedMessage RenderMessage(std::string_view message);

// Reads the file and renders it; throws core::TFileError naming the file and the system's reason.
TRenderedMessage RenderMessageFile(const std::string& path);

// Renders a local HTML page of the program (the "Wait.html" placeholder) through the same
// sanitiser. Throws core::TFileError.
TRenderedMessage RenderHtmlFile(const std::string& path);

} // namespace tarnwick::mime
