#include "data/json.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "test_util.h"

namespace {

std::string ErrorOf(const std::string& text) {
  try {
    ParseJson(text);
  } catch (const std::exception& e) {
    return e.what();
  }
  return "(no error)";
}

TEST(Json, ScalarsAndLeniency) {
  EXPECT_EQ(ParseJson("  true garbage").kind, JsonKind::Bool);
  EXPECT_TRUE(ParseJson("  true garbage").boolean);
  EXPECT_EQ(ParseJson("nul").kind, JsonKind::Null);
  const JsonValue t = ParseJson("txyz");
  EXPECT_EQ(t.kind, JsonKind::Bool);
  EXPECT_TRUE(t.boolean);
  EXPECT_FALSE(ParseJson("false").boolean);
  EXPECT_EQ(ParseJson("f").kind, JsonKind::Bool);  // literals run past the end safely
  EXPECT_DOUBLE_EQ(ParseJson("-0.5e1").number, -5.0);
  EXPECT_DOUBLE_EQ(ParseJson("1.2.3").number, 1.2);
  EXPECT_DOUBLE_EQ(ParseJson("2-1").number, 2.0);
  EXPECT_DOUBLE_EQ(ParseJson("42").number, 42.0);
}

TEST(Json, ErrorsCarryTheirMessages) {
  EXPECT_EQ(ErrorOf(""), "Unexpected char: ");
  EXPECT_EQ(ErrorOf(" \t\r\n\v\f"), "Unexpected char: ");
  EXPECT_EQ(ErrorOf("\xEF\xBB\xBF{}"), "Unexpected char: \xEF");
  EXPECT_EQ(ErrorOf("[1,]"), "Unexpected char: ]");
  EXPECT_EQ(ErrorOf("[1,"), "Unexpected char: ");
  EXPECT_EQ(ErrorOf("x"), "Unexpected char: x");
  EXPECT_EQ(ErrorOf(std::string("\0", 1)), "Unexpected char: ");
  EXPECT_EQ(ErrorOf("-"), "invalid stod argument");
  EXPECT_EQ(ErrorOf("-."), "invalid stod argument");
  EXPECT_EQ(ErrorOf("--1"), "invalid stod argument");
  EXPECT_EQ(ErrorOf("1e999"), "stod argument out of range");
  EXPECT_EQ(ErrorOf("{\"a\" 1}"), "Unexpected char: }");
}

TEST(Json, ArraysWithOptionalCommas) {
  const JsonValue a = ParseJson("[1 2]");
  ASSERT_EQ(a.kind, JsonKind::Array);
  ASSERT_EQ(a.items.size(), 2u);
  EXPECT_DOUBLE_EQ(a.At(0).number, 1.0);
  EXPECT_DOUBLE_EQ(a.At(1).number, 2.0);
  EXPECT_TRUE(ParseJson("[ ]").items.empty());
  EXPECT_EQ(ParseJson("[[],[[]]]").At(1).At(0).kind, JsonKind::Array);
}

TEST(Json, ObjectsAreKeyedByteWiseAndLastValueWins) {
  const JsonValue o = ParseJson("{\"b\":1,\"a\":2}");
  ASSERT_EQ(o.members.size(), 2u);
  EXPECT_EQ(o.members.begin()->first, "a");
  const JsonValue dup = ParseJson("{\"a\":1,\"a\":2}");
  ASSERT_EQ(dup.members.size(), 1u);
  EXPECT_DOUBLE_EQ(dup.Get("a").number, 2.0);
  EXPECT_DOUBLE_EQ(ParseJson("{\"a\"=7}").Get("a").number, 7.0);
  // Bytes above 0x7F sort after ASCII (unsigned comparison).
  const JsonValue high = ParseJson("{\"\xC3\xA9\":1,\"z\":2}");
  EXPECT_EQ(high.members.begin()->first, "z");
  EXPECT_EQ(ParseJson("{}").kind, JsonKind::Object);
}

TEST(Json, StringEscapes) {
  EXPECT_EQ(ParseJson("\"a\\\"b\\/c\\\\d\\ne\\rf\\tg\"").text, "a\"b/c\\d\ne\rf\tg");
  EXPECT_EQ(ParseJson("\"\\u0041\"").text, "?0041");
  EXPECT_EQ(ParseJson("\"\\q\\b\\f\"").text, "???");
  EXPECT_EQ(ParseJson("\"never closed").text, "never closed");
  EXPECT_EQ(ParseJson("\"ends in backslash\\").text, "ends in backslash?");
  EXPECT_EQ(ParseJson("\"caf\xC3\xA9\"").text, "caf\xC3\xA9");
}

TEST(Json, LookupsNeverFail) {
  const JsonValue v = ParseJson("{\"n\":1,\"s\":\"x\",\"arr\":[1,2,3],\"t\":true}");
  EXPECT_EQ(&v.Get("missing"), &JsonNull());
  EXPECT_EQ(&v.Get("arr").Get("x"), &JsonNull());
  EXPECT_EQ(&v.Get("n").Get("x"), &JsonNull());
  EXPECT_EQ(&JsonNull().Get("x"), &JsonNull());
  EXPECT_EQ(&v.Get("arr").At(3), &JsonNull());
  EXPECT_EQ(&v.At(0), &JsonNull());
  // Fields of another kind read as their defaults.
  EXPECT_EQ(v.Get("n").text, "");
  EXPECT_DOUBLE_EQ(v.Get("t").number, 0.0);
  EXPECT_FALSE(v.Get("n").boolean);
  // A true-by-default flag: a present non-boolean reads false, absence reads true.
  auto flag_default_true = [](const JsonValue& f) { return f.kind != JsonKind::Null ? f.boolean : true; };
  EXPECT_FALSE(flag_default_true(ParseJson("{\"f\":1}").Get("f")));
  EXPECT_TRUE(flag_default_true(ParseJson("{}").Get("f")));
}

TEST(Json, DeepNestingEndsInAnError) {
  const std::string deep(100000, '[');
  EXPECT_EQ(ErrorOf(deep), "JSON nesting deeper than 512 levels");
  std::string objects;
  for (int i = 0; i < 100000; ++i) objects += "{\"a\":";
  EXPECT_EQ(ErrorOf(objects), "JSON nesting deeper than 512 levels");
  // A brace where a key is due is read as the key's opening quote.
  EXPECT_EQ(ErrorOf(std::string(100000, '{')), "Unexpected char: ");
  std::string ok = std::string(kMaxJsonDepth, '[') + std::string(kMaxJsonDepth, ']');
  EXPECT_EQ(ParseJson(ok).kind, JsonKind::Array);
}

TEST(Json, LoadJsonFile) {
  testutil::TempDir dir;
  testutil::WriteBytes(dir / "a.json", "{\"k\":\"v\"}\r\n");
  EXPECT_EQ(LoadJsonFile((dir / "a.json").wstring()).Get("k").text, "v");
  testutil::WriteBytes(dir / "empty.json", "");
  try {
    LoadJsonFile((dir / "empty.json").wstring());
    FAIL() << "empty file parsed";
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "Unexpected char: ");
  }
  try {
    LoadJsonFile((dir / "missing.json").wstring());
    FAIL() << "missing file opened";
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "Cannot open JSON file");
  }
}

}  // namespace
