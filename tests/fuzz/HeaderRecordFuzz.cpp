// Feeds arbitrary bytes as a message file through everything that builds a header record: the
// header parser, the record decoder and the cache name. Besides the sanitizers' checks it stops at
// the first record that breaks the promises the rest of the program relies on.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "core/TJsonWriter.h"
#include "core/TextUtils.h"
#include "retrieval/TDecodeMail.h"
#include "retrieval/TParsedHeader.h"

using namespace tarnwick;

namespace {

void Require(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "header record fuzz: %s\n", what);
        std::abort();
    }
}

bool OneLine(const std::string& text)
{
    for (const char c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return false;
    return true;
}

bool CacheNameChars(const std::string& name)
{
    for (const char c : name)
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
              std::string_view("!#$%&'()-.^_`{}@~").find(c) != std::string_view::npos))
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const retrieval::TParsedHeader parsed = retrieval::ParseMessageText(text);
    const std::string cacheName = retrieval::CacheNameOf(parsed);
    retrieval::TDecodeMail decoder;
    const accounts::TMailMessage& record =
        decoder.Decode(parsed, static_cast<std::int32_t>(size), 1, cacheName);

    for (const std::string* field : {&record.FromName, &record.FromAddress, &record.FromText, &record.ToText,
                                     &record.CcText, &record.Subject, &record.Organization}) {
        Require(core::IsValidUtf8(*field), "a display field is not valid UTF-8");
        Require(OneLine(*field), "a display field holds a control character");
        Require(core::IsValidUtf8(core::JsonQuoted(*field)), "JSON text is not valid UTF-8");
    }
    Require(core::IsValidUtf8(parsed.MessageId) && core::IsValidUtf8(parsed.Priority),
            "message id or priority is not valid UTF-8");
    Require(!cacheName.empty() && cacheName.size() <= retrieval::MaxCacheNameLength &&
                CacheNameChars(cacheName),
            "cache name unusable as a file name");
    Require(record.Priority >= accounts::PriorityLow && record.Priority <= accounts::PriorityHigh,
            "priority out of range");
    Require(record.Headers.size() == parsed.Lines.size(), "header lines lost");
    return 0;
}
