#pragma once

#include <memory>
#include <string>
#include <string_view>

#include <gmime/gmime.h>

namespace tarnwick::retrieval::gmime {

// GMime initialised once per process; safe to call from any thread.
void EnsureInitialized();

// The parser options of every header decoding: loose RFC compliance, and 8-bit text that is not
// declared read as UTF-8 when it is valid UTF-8, else as windows-1252. Created once and never
// changed, so all threads share it.
GMimeParserOptions* HeaderOptions();

struct TGObjectDeleter
{
    void operator()(gpointer object) const { g_object_unref(object); }
};
struct TGFreeDeleter
{
    void operator()(gpointer memory) const { g_free(memory); }
};
struct TDateTimeDeleter
{
    void operator()(GDateTime* date) const { g_date_time_unref(date); }
};

using TAddressListPtr = std::unique_ptr<InternetAddressList, TGObjectDeleter>;
using TGCharPtr = std::unique_ptr<char, TGFreeDeleter>;
using TDateTimePtr = std::unique_ptr<GDateTime, TDateTimeDeleter>;

} // namespace tarnwick::retrieval::gmime
