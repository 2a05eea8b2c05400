// A small, lenient JSON reader for the update server's replies and the
// launcher's settings file. Lookups (Get, At) never fail: anything missing
// reads as the shared null value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

enum class JsonKind : std::int32_t { Null = 0, Bool = 1, Number = 2, String = 3, Array = 4, Object = 5 };

// Every field is present whatever the kind; only the one matching `kind`
// carries content, so reading another kind's field gives its default.
struct JsonValue {
  JsonKind kind = JsonKind::Null;
  bool boolean = false;
  double number = 0.0;
  std::string text;
  std::vector<JsonValue> items;
  std::map<std::string, JsonValue> members;  // byte-wise key order

  // The member under `key` of an Object, else the shared null value.
  const JsonValue& Get(const std::string& key) const;
  // The element at `index` of an Array, else the shared null value.
  const JsonValue& At(std::size_t index) const;
};

// The process's one immutable null value.
const JsonValue& JsonNull();

// Deeper nesting than this ends in an error instead of exhausting the stack.
constexpr int kMaxJsonDepth = 512;

// Parses the first value in `text`; whatever follows it is ignored. Throws
// std::runtime_error on malformed input.
JsonValue ParseJson(const std::string& text);

// Reads a whole file and parses it; throws "Cannot open JSON file".
JsonValue LoadJsonFile(const std::wstring& path);
