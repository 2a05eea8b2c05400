#include "data/json.h"

#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>
#include <string>

#include "test_util.h"

namespace {

// A value in short form (true, 1.5, 'text', [a b], {k:v}), or "!" and the error.
std::string Show(const JsonValue& v) {
  std::ostringstream out;
  switch (v.kind) {
    case JsonKind::Null: return "null";
    case JsonKind::Bool: return v.boolean ? "true" : "false";
    case JsonKind::Number: out << v.number; break;
    case JsonKind::String: return "'" + v.text + "'";
    case JsonKind::Array:
      for (const auto& item : v.items) out << (out.tellp() > 0 ? " " : "[") << Show(item);
      return out.tellp() > 0 ? out.str() + "]" : "[]";
    case JsonKind::Object:
      for (const auto& [key, value] : v.members) out << (out.tellp() > 0 ? " " : "{") << key << ":" << Show(value);
      return out.tellp() > 0 ? out.str() + "}" : "{}";
  }
  return out.str();
}

std::string Show(const std::string& text) {
  try {
    return Show(ParseJson(text));
  } catch (const std::exception& e) {
    return std::string("!") + e.what();
  }
}

// The reader is lenient where older servers relied on it, and fails cleanly elsewhere.
TEST(Json, ParsesLenientlyAndFailsWithItsMessages) {
  const std::pair<std::string, std::string> cases[] = {
      {"  true garbage", "true"},  // whatever follows the first value is ignored
      {"txyz", "true"},
      {"nul", "null"},
      {"f", "false"},  // literals run past the end safely
      {"-0.5e1", "-5"},
      {"1.2.3", "1.2"},
      {"2-1", "2"},
      {"[1 2]", "[1 2]"},  // commas are optional
      {"[ ]", "[]"},
      {"[[],[[]]]", "[[] [[]]]"},
      {R"({"b":1,"a":2})", "{a:2 b:1}"},
      {R"({"a":1,"a":2})", "{a:2}"},  // the last value wins
      {R"({"a"=7})", "{a:7}"},
      {"{\"\xC3\xA9\":1,\"z\":2}", "{z:2 \xC3\xA9:1}"},  // keys sorted byte-wise, unsigned
      {R"("a\"b\/c\\d\ne\rf\tg")", "'a\"b/c\\d\ne\rf\tg'"},
      {R"("\u0041\q\b\f")", "'?0041?\?\?'"},  // no \u decoding; unknown escapes become '?'
      {"\"never closed", "'never closed'"},
      {"\"ends in backslash\\", "'ends in backslash?'"},
      {"", "!Unexpected char: "},
      {" \t\r\n\v\f", "!Unexpected char: "},
      {"\xEF\xBB\xBF{}", "!Unexpected char: \xEF"},
      {"[1,]", "!Unexpected char: ]"},
      {"[1,", "!Unexpected char: "},
      {std::string("\0", 1), "!Unexpected char: "},
      {"-", "!invalid stod argument"},
      {"--1", "!invalid stod argument"},
      {"1e999", "!stod argument out of range"},
      {R"({"a" 1})", "!Unexpected char: }"},
  };
  for (const auto& [text, shown] : cases) EXPECT_EQ(Show(text), shown) << text;
}

TEST(Json, LookupsNeverFail) {
  const JsonValue v = ParseJson(R"({"n":1,"arr":[1,2,3],"t":true})");
  for (const JsonValue* missing : {&v.Get("missing"), &v.Get("arr").Get("x"), &v.Get("n").Get("x"),
                                   &JsonNull().Get("x"), &v.Get("arr").At(3), &v.At(0)})
    EXPECT_EQ(missing, &JsonNull());
  // Fields of another kind read as their defaults.
  EXPECT_EQ(v.Get("n").text, "");
  EXPECT_DOUBLE_EQ(v.Get("t").number, 0.0);
}

// Hostile nesting must end in an error, not a stack overflow.
TEST(Json, DeepNestingEndsInAnError) {
  std::string objects;
  for (int i = 0; i < 100000; ++i) objects += "{\"a\":";
  EXPECT_EQ(Show(std::string(100000, '[')), "!JSON nesting deeper than 512 levels");
  EXPECT_EQ(Show(objects), "!JSON nesting deeper than 512 levels");
  EXPECT_EQ(Show(std::string(100000, '{')), "!Unexpected char: ");  // a brace where a key's quote is due
  EXPECT_EQ(ParseJson(std::string(kMaxJsonDepth, '[') + std::string(kMaxJsonDepth, ']')).kind, JsonKind::Array);
}

TEST(Json, LoadJsonFile) {
  testutil::TempDir dir;
  testutil::WriteBytes(dir / "a.json", "{\"k\":\"v\"}\r\n");
  testutil::WriteBytes(dir / "empty.json", "");
  EXPECT_EQ(LoadJsonFile((dir / "a.json").wstring()).Get("k").text, "v");
  for (const auto& [name, error] :
       {std::make_pair("empty.json", "Unexpected char: "), std::make_pair("missing.json", "Cannot open JSON file")}) {
    try {
      LoadJsonFile((dir / name).wstring());
      ADD_FAILURE() << name << " read";
    } catch (const std::exception& e) {
      EXPECT_STREQ(e.what(), error);
    }
  }
}

}  // namespace
