// The JSON writer behind --json: every string it writes is valid UTF-8 JSON
// whatever bytes a name holds, and numbers stay numbers.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>

#include "cli/Json.h"

namespace velk::cli {
namespace {

TEST(JsonWriterTest, StringsAreEscapedAndStrayBytesBecomeReplacementCharacters) {
    struct Case {
        std::string in;
        std::string out;
    };
    const Case cases[] = {
        {"plain", "\"plain\""},
        {"say \"hi\" \\ bye", R"("say \"hi\" \\ bye")"},
        {"a\nb\tc\rd", R"("a\nb\tc\rd")"},
        {std::string("nul\0bell\a\x1f\x7f", 11), R"("nul\u0000bell\u0007\u001f\u007f")"},
        {"Grüße €𝄞", "\"Grüße €𝄞\""},                           // 2-, 3- and 4-byte sequences kept
        {"Latin-1 \xE9t\xE9", "\"Latin-1 \uFFFDt\uFFFD\""},    // a name in another encoding
        {"cut \xE2\x82", "\"cut \uFFFD\uFFFD\""},              // a sequence cut short
        {"overlong \xC0\xAF \xE0\x80\xAF", "\"overlong \uFFFD\uFFFD \uFFFD\uFFFD\uFFFD\""},
        {"surrogate \xED\xA0\x80", "\"surrogate \uFFFD\uFFFD\uFFFD\""},
        {"past the end \xF4\x90\x80\x80", "\"past the end \uFFFD\uFFFD\uFFFD\uFFFD\""},
        {"lone \x80 continuation", "\"lone \uFFFD continuation\""},
    };
    for (const Case& c : cases) EXPECT_EQ(jsonString(c.in), c.out) << c.in;
}

TEST(JsonWriterTest, NestingPutsTheCommasAndNumbersStayNumbers) {
    JsonWriter json;
    json.beginObject().field("name", "disc").field("blocks", 320u).field("big", 18446744073709551615ULL);
    json.field("negative", -5).field("ready", true).field("rate", 22.44449, 2).field("rounded", 2.0, 3);
    json.field("minus zero", -0.0001, 2);
    json.field("missing", std::optional<int>()).field("there", std::optional<int>(7));
    json.key("nan").value(std::nan(""));
    json.key("infinite").value(std::numeric_limits<double>::infinity());
    json.key("list").beginArray().beginObject().endObject().beginArray().endArray().value(1).endArray();
    json.field("words", std::vector<std::string>{"a", "b"}).endObject();
    EXPECT_EQ(json.text(),
              R"({"name":"disc","blocks":320,"big":18446744073709551615,"negative":-5,"ready":true,"rate":22.44,)"
              R"("rounded":2,"minus zero":0,"missing":null,"there":7,"nan":null,"infinite":null,)"
              R"("list":[{},[],1],"words":["a","b"]})");
}

}  // namespace
}  // namespace velk::cli
