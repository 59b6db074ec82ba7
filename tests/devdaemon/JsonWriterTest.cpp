#include "devdaemon/JsonWriter.h"

#include <gtest/gtest.h>

namespace tw {
namespace {

TEST(JsonWriter, PlacesCommasBetweenMembersAndElementsAtEveryDepth) {
    JsonWriter json;
    json.beginObject().key("a").number(-1).key("b").beginArray();
    json.beginObject().endObject().beginArray().endArray().boolean(true).endArray();
    json.key("c").strings({"x", "y"}).key("d").beginObject().key("e").boolean(false).endObject();
    json.endObject();
    EXPECT_EQ(json.text(), R"({"a":-1,"b":[{},[],true],"c":["x","y"],"d":{"e":false}})");
}

TEST(JsonWriter, EscapesQuotesBackslashesAndControlCharactersInKeysAndValues) {
    JsonWriter json;
    json.beginObject().key("k\"ey").string(std::string("a\\b\n\r\t\x01\x1f\0z", 10)).endObject();
    EXPECT_EQ(json.text(), R"({"k\"ey":"a\\b\n\r\t\u0001\u001f\u0000z"})");
}

TEST(JsonWriter, LeavesUtf8Untouched) {
    JsonWriter json;
    json.string("Zürich ✓");
    EXPECT_EQ(json.text(), "\"Zürich ✓\"");
}

}  // namespace
}  // namespace tw
