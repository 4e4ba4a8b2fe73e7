#include "core/TJsonWriter.h"

#include <stdexcept>

#include <gtest/gtest.h>

using namespace tarnwick::core;

TEST(JsonQuoted, EscapesWhatJsonRequires)
{
    struct
    {
        std::string Text;
        std::string Expected;
    } cases[] = {
        {"", R"("")"},
        {"plain", R"("plain")"},
        {R"(say "hi" \ bye)", R"("say \"hi\" \\ bye")"},
        {"\b\f\n\r\t", R"("\b\f\n\r\t")"},
        {std::string("\0\x01\x1f\x7f", 4), R"("\u0000\u0001\u001f\u007f")"},
        {"/ stays", R"("/ stays")"},
        {"gr\xc3\xbc\xc3\x9f \xf0\x9f\x93\xa7", "\"gr\xc3\xbc\xc3\x9f \xf0\x9f\x93\xa7\""},
        {"\xe2\x80\xa8\xe2\x80\xa9", R"("\u2028\u2029")"},
        {"a\xff"
         "b\xc3",
         "\"a\xef\xbf\xbd"
         "b\xef\xbf\xbd\""},
        {"\xed\xa0\x80", "\"\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(JsonQuoted(c.Text), c.Expected) << c.Expected;
}

TEST(JsonWriter, WritesIndentedDocuments)
{
    TJsonWriter json;
    json.BeginObject();
    json.Key("n").Int(-9007199254740993);
    json.Key("s\"k").String("v");
    json.Key("list")
        .BeginArray()
        .Bool(true)
        .Null()
        .BeginObject()
        .EndObject()
        .BeginArray()
        .EndArray()
        .EndArray();
    json.Key("last").Bool(false);
    json.EndObject();
    EXPECT_TRUE(json.Complete());
    EXPECT_EQ(json.Text(), R"({
  "n": -9007199254740993,
  "s\"k": "v",
  "list": [
    true,
    null,
    {},
    []
  ],
  "last": false
}
)");
    TJsonWriter scalar;
    scalar.String("x");
    EXPECT_EQ(scalar.Text(), "\"x\"\n");
}

TEST(JsonWriter, RefusesMisuse)
{
    const auto misuses = {
        +[](TJsonWriter& j) { j.BeginObject().Int(1); },
        +[](TJsonWriter& j) { j.BeginArray().Key("k"); },
        +[](TJsonWriter& j) { j.BeginObject().EndArray(); },
        +[](TJsonWriter& j) { j.BeginObject().Key("k").EndObject(); },
        +[](TJsonWriter& j) { j.Int(1).Int(2); },
        +[](TJsonWriter& j) { j.EndObject(); },
    };
    for (const auto misuse : misuses) {
        TJsonWriter json;
        EXPECT_THROW(misuse(json), std::logic_error);
    }
}
