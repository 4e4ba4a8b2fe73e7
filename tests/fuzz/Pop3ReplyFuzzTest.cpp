// Runs the fuzz target of the reply reader over its seed inputs and a fixed set of random ones, so
// that every build checks what the fuzzer once found.
#include <cstdint>
#include <filesystem>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "support/TTempHome.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

TEST(Pop3ReplyFuzzTest, SeedInputsPass)
{
    std::size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(tarnwick::test::Fixture("fuzz/pop3"))) {
        const std::string bytes = tarnwick::test::ReadFileBytes(entry.path().string());
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
        ++count;
    }
    EXPECT_GT(count, 0u);
}

TEST(Pop3ReplyFuzzTest, RandomInputsPass)
{
    std::mt19937 random(4711);
    const std::string alphabet = "+-OKERRok .\r\n\0x";
    for (int round = 0; round < 3000; ++round) {
        std::vector<std::uint8_t> input(random() % 600);
        for (auto& byte : input)
            byte = round % 2 ? static_cast<std::uint8_t>(random())
                             : static_cast<std::uint8_t>(alphabet[random() % alphabet.size()]);
        LLVMFuzzerTestOneInput(input.data(), input.size());
    }
}

} // namespace
