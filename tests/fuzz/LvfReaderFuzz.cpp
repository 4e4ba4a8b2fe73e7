// The address-list file reader on arbitrary bytes: it never reads past them, and whatever it reads
// is written and read back unchanged.

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "classify/TLvfFile.h"
#include "core/Errors.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace tarnwick::classify;
    const TLvfReadResult read = ReadLvf(std::string_view(reinterpret_cast<const char*>(data), size));
    if (read.Status == TLvfReadResult::TStatus::BadSignature && !read.Rows.empty())
        std::abort();
    try {
        const TLvfReadResult again = ReadLvf(WriteLvf(read.Rows));
        if (again.Status != TLvfReadResult::TStatus::Ok || again.Rows != read.Rows)
            std::abort();
    } catch (const tarnwick::core::TFileError&) {
        // Windows-1252 texts grow when converted; one may then be too long to write, which is said.
    }
    return 0;
}
