#include "mime/DisplayAddress.h"

#include <string>

#include <gtest/gtest.h>

#include "core/TextUtils.h"

using namespace tarnwick::mime;

namespace {

struct TDomainCase
{
    const char* Input;
    const char* Shown;
};

class DisplayDomainCases : public ::testing::TestWithParam<TDomainCase>
{};

} // namespace

TEST_P(DisplayDomainCases, ShowsUnicodeOnlyWhenItCannotPassForAnother)
{
    EXPECT_EQ(DisplayDomain(GetParam().Input), GetParam().Shown);
}

INSTANTIATE_TEST_SUITE_P(
    Domains, DisplayDomainCases,
    ::testing::Values(
        TDomainCase{"example.com", "example.com"}, TDomainCase{"Mail.Example.COM", "Mail.Example.COM"},
        // Cyrillic "аррӏе": every letter looks Latin.
        TDomainCase{"xn--80ak6aa92e.example", "xn--80ak6aa92e.example"},
        TDomainCase{"\xD0\xB0\xD1\x80\xD1\x80\xD3\x8F\xD0\xB5.example", "xn--80ak6aa92e.example"},
        TDomainCase{"XN--80AK6AA92E.example", "xn--80ak6aa92e.example"},
        TDomainCase{"b\xC3\xBC"
                    "cher.example",
                    "b\xC3\xBC"
                    "cher.example"},
        TDomainCase{"xn--bcher-kva.example", "b\xC3\xBC"
                                             "cher.example"},
        TDomainCase{"mail.xn--bcher-kva.example", "mail.b\xC3\xBC"
                                                  "cher.example"},
        // "pаypal" with a Cyrillic "а": two scripts in one label.
        TDomainCase{"p\xD0\xB0ypal.example", "xn--pypal-4ve.example"},
        TDomainCase{"xn--pypal-4ve.example", "xn--pypal-4ve.example"},
        // Greek "οκ": look-alikes only.
        TDomainCase{"xn--vxaj.example", "xn--vxaj.example"},
        // Cyrillic that does not pass for Latin, and Japanese (Han with Hiragana is one writing).
        TDomainCase{"\xD0\xBF\xD1\x80\xD0\xB8\xD0\xBC\xD0\xB5\xD1\x80.\xD1\x80\xD1\x84",
                    "\xD0\xBF\xD1\x80\xD0\xB8\xD0\xBC\xD0\xB5\xD1\x80.\xD1\x80\xD1\x84"},
        TDomainCase{"\xE4\xBE\x8B\xE3\x81\x88.jp", "\xE4\xBE\x8B\xE3\x81\x88.jp"},
        // A symbol that looks like a slash: "example.com∕evil.example".
        TDomainCase{"example.com\xE2\x88\x95"
                    "evil.example",
                    "example.xn--comevil-ef0d.example"}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

TEST(DisplayDomain, ArbitraryBytesComeBackAsValidUtf8)
{
    for (const std::string& input : {std::string("\xFF\xFE.example"), std::string("a\0b.example", 11),
                                     std::string("xn--.example"), std::string("xn--zzzzzzzz-\xC3.example")})
        EXPECT_TRUE(tarnwick::core::IsValidUtf8(DisplayDomain(input))) << input;
}

TEST(DisplayAddress, AppliesToThePartAfterTheLastAt)
{
    EXPECT_EQ(DisplayAddress("info@\xD0\xB0\xD1\x80\xD1\x80\xD3\x8F\xD0\xB5.example"),
              "info@xn--80ak6aa92e.example");
    EXPECT_EQ(DisplayAddress("\"a@b\"@xn--bcher-kva.example"), "\"a@b\"@b\xC3\xBC"
                                                               "cher.example");
    EXPECT_EQ(DisplayAddress("no-domain"), "no-domain");
}
