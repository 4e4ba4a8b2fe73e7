#include "GMimeSupport.h"

#include <mutex>
#include <string>
#include <vector>

#include <iconv.h>

namespace tarnwick::retrieval::gmime {

namespace {

std::once_flag InitOnce;
GMimeParserOptions* Options = nullptr;

// Converters held open for the whole run (see EnsureInitialized); closed when the program ends.
struct THeldConverters
{
    std::vector<iconv_t> Converters;
    ~THeldConverters()
    {
        for (const iconv_t converter : Converters)
            iconv_close(converter);
    }
};
THeldConverters HeldConverters;

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
        // modules loaded (a quarter of the time of building a record). Decoding a word in each of
        // them here also fills GMime's charset caches before any worker thread runs.
        for (const char* charset :
             {"windows-1252", "ISO-8859-1", "ISO-8859-2", "ISO-8859-15", "windows-1250", "windows-1251",
              "KOI8-R", "ISO-2022-JP", "Shift_JIS", "EUC-JP", "GB18030", "BIG5", "EUC-KR"}) {
            const iconv_t converter = iconv_open("UTF-8", charset);
            if (converter != reinterpret_cast<iconv_t>(-1))
                HeldConverters.Converters.push_back(converter);
            const std::string word = std::string("=?") + charset + "?q?a?=";
            g_free(g_mime_utils_header_decode_text(Options, word.c_str()));
        }
        // GObject creates a class on its first instance; creating the address classes here, once,
        // keeps that out of the workers' way. The references are never dropped.
        g_type_class_ref(INTERNET_ADDRESS_TYPE_MAILBOX);
        g_type_class_ref(INTERNET_ADDRESS_TYPE_GROUP);
        g_type_class_ref(INTERNET_ADDRESS_LIST_TYPE);
        if (InternetAddressList* list =
                internet_address_list_parse(Options, "A <a@example.com>, G: b@example.com;"))
            g_object_unref(list);
        if (GDateTime* date = g_mime_utils_header_decode_date("Tue, 1 Jul 2003 10:52:37 +0200"))
            g_date_time_unref(date);
    });
}

GMimeParserOptions* HeaderOptions()
{
    EnsureInitialized();
    return Options;
}

} // namespace tarnwick::retrieval::gmime
