// Feeds arbitrary bytes as a message file through the renderer and the HTML sanitiser on their own.
// Besides the sanitizers' checks it stops at the first output that breaks what the viewer relies on:
// valid UTF-8, no element outside the allow-list, no image source but cid: and data:image/, inline
// parts within their bounds.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/TextUtils.h"
#include "mime/HtmlSanitizer.h"
#include "mime/TRenderedMessage.h"

using namespace tarnwick;

namespace {

void Require(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "render message fuzz: %s\n", what);
        std::abort();
    }
}

void CheckHtml(const std::string& html)
{
    Require(core::IsValidUtf8(html), "HTML is not valid UTF-8");
    const std::string lower = core::AsciiLower(html);
    for (const char* forbidden : {"<script", "<style", "<iframe", "<object", "<embed", "<link", "<meta",
                                  "<base", "<form", "<svg", "<!--", " on", "background="})
        Require(lower.find(forbidden) == std::string::npos, forbidden);
    for (std::size_t at = lower.find(" src=\""); at != std::string::npos;
         at = lower.find(" src=\"", at + 1)) {
        const std::string_view url = std::string_view(lower).substr(at + 6);
        Require(url.starts_with("cid:") || url.starts_with("data:image/"),
                "an image source outside the message");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const mime::TRenderedMessage rendered = mime::RenderMessage(text);
    CheckHtml(rendered.Html);
    Require(rendered.InlineParts.size() <= mime::MaxInlineParts, "too many inline parts");
    std::size_t total = 0;
    for (const mime::TInlinePart& part : rendered.InlineParts)
        total += part.Data.size();
    Require(total <= mime::MaxInlineBytes, "inline parts over their bound");
    CheckHtml(mime::SanitizeHtml(text).Html);
    return 0;
}
