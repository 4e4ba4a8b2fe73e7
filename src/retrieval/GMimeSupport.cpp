#include "GMimeSupport.h"

#include <mutex>

namespace tarnwick::retrieval::gmime {

namespace {

std::once_flag InitOnce;
GMimeParserOptions* Options = nullptr;

} // namespace

void EnsureInitialized()
{
    std::call_once(InitOnce, [] {
        g_mime_init();
        Options = g_mime_parser_options_new();
        const char* charsets[] = {"UTF-8", "windows-1252", nullptr};
        g_mime_parser_options_set_fallback_charsets(Options, charsets);
        g_mime_parser_options_set_address_compliance_mode(Options, GMIME_RFC_COMPLIANCE_LOOSE);
        g_mime_parser_options_set_rfc2047_compliance_mode(Options, GMIME_RFC_COMPLIANCE_LOOSE);
    });
}

GMimeParserOptions* HeaderOptions()
{
    EnsureInitialized();
    return Options;
}

} // namespace tarnwick::retrieval::gmime
