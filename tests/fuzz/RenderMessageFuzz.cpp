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
                                  "<base", "<form", "<svg", "<!--"})
        Require(lower.find(forbidden) == std::string::npos, forbidden);
    // Text is escaped, so every "<" begins a tag, and values hold no raw quote: a tag is its name
    // and name="value" pairs. None may be a handler or a background, and a source must be the
    // message's own.
    for (std::size_t lt = lower.find('<'); lt != std::string::npos; lt = lower.find('<', lt + 1)) {
        const std::size_t gt = lower.find('>', lt);
        Require(gt != std::string::npos, "a tag without its end");
        const std::string_view tag = std::string_view(lower).substr(lt, gt - lt);
        for (std::size_t blank = tag.find(' '); blank != std::string_view::npos;) {
            const std::size_t open = tag.find("=\"", blank);
            Require(open != std::string_view::npos, "an attribute without a quoted value");
            const std::size_t close = tag.find('"', open + 2);
            Require(close != std::string_view::npos, "an unterminated value");
            const std::string_view name = tag.substr(blank + 1, open - blank - 1);
            const std::string_view value = tag.substr(open + 2, close - open - 2);
            Require(!name.starts_with("on"), "an event handler");
            Require(name != "background" && name != "srcset", "a background or source set");
            Require(name != "src" || value.starts_with("cid:") || value.starts_with("data:image/"),
                    "an image source outside the message");
            blank = close + 1 < tag.size() ? close + 1 : std::string_view::npos;
        }
        lt = gt;
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
