#include "GMimeSupport.h"

#include <mutex>

#include <iconv.h>

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
        // GMime opens and closes an iconv converter for every decoded text; glibc loads the
        // charset's module on the first open and unloads it with the last close, so each header
        // paid for a dlopen. One converter per common charset, held for the whole run, keeps those
        // modules loaded (a quarter of the time of building a record).
        for (const char* charset :
             {"windows-1252", "ISO-8859-1", "ISO-8859-2", "ISO-8859-15", "windows-1250", "windows-1251",
              "KOI8-R", "ISO-2022-JP", "Shift_JIS", "EUC-JP", "GB18030", "BIG5", "EUC-KR"}) {
            const iconv_t converter = iconv_open("UTF-8", charset);
            (void)converter; // never closed: it lives as long as the process
        }
    });
}

GMimeParserOptions* HeaderOptions()
{
    EnsureInitialized();
    return Options;
}

} // namespace tarnwick::retrieval::gmime
