// Runs the fuzz target of the vCard reader over the vCard fixtures and a fixed set of random
// inputs made of vCard pieces, so that every build checks what the fuzzer once found.
#include <cstdint>
#include <filesystem>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "support/TTempHome.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

void RunTarget(const std::string& bytes)
{
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

TEST(VCardFuzzTest, FixturesPass)
{
    // The vCard fixtures, and in fuzz/vcard the inputs the fuzzer once failed on.
    for (const char* folder : {"vcard", "fuzz/vcard"})
        for (const auto& entry :
             std::filesystem::recursive_directory_iterator(tarnwick::test::Fixture(folder)))
            if (entry.is_regular_file())
                RunTarget(tarnwick::test::ReadFileBytes(entry.path().string()));
}

TEST(VCardFuzzTest, RandomPiecesPass)
{
    const char* pieces[] = {"BEGIN:VCARD",
                            "END:VCARD",
                            "\r\n",
                            "\n",
                            " ",
                            "\t",
                            "FN:",
                            "N:",
                            "EMAIL;PREF=",
                            "1",
                            ":",
                            ";",
                            "=",
                            "=C3",
                            "=\r\n",
                            "\\",
                            "\\n",
                            "\"",
                            ";QUOTED-PRINTABLE",
                            ";CHARSET=SHIFT_JIS",
                            "\x82",
                            "\xE9",
                            "KIND:group",
                            "MEMBER:urn:uuid:",
                            "UID:",
                            "mailto:",
                            "%4",
                            "a@b",
                            "item1."};
    std::mt19937 random(1234);
    for (int round = 0; round < 3000; ++round) {
        std::string input;
        const std::size_t count = random() % 60;
        for (std::size_t i = 0; i < count; ++i)
            input += pieces[random() % std::size(pieces)];
        RunTarget(input);
    }
}

} // namespace
