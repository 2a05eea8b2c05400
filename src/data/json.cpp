#include "data/json.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace {

bool IsJsonSpace(unsigned char c) { return c == ' ' || (c >= 0x09 && c <= 0x0D); }

bool IsNumberByte(char c) { return (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.' || c == 'e' || c == 'E'; }

struct JsonCursor {
  const char* pos;
  const char* end;
  int depth = 0;

  bool AtEnd() const { return pos >= end; }
  // At the end the current byte counts as NUL.
  char Current() const { return AtEnd() ? '\0' : *pos; }
  void Step(std::size_t n = 1) { pos = (static_cast<std::size_t>(end - pos) <= n) ? end : pos + n; }
  void SkipSpace() {
    while (!AtEnd() && IsJsonSpace(static_cast<unsigned char>(*pos))) ++pos;
  }
};

[[noreturn]] void ThrowUnexpected(char c) {
  std::string message = "Unexpected char: ";
  if (c != '\0') message += c;  // a NUL ends the message
  throw std::runtime_error(message);
}

JsonValue ReadValue(JsonCursor& cur);

// Also reads object keys: the first byte is stepped over whatever it is.
JsonValue ReadString(JsonCursor& cur) {
  JsonValue value;
  value.kind = JsonKind::String;
  cur.Step();
  while (!cur.AtEnd() && *cur.pos != '"') {
    const char c = *cur.pos++;
    if (c != '\\') {
      value.text += c;
      continue;
    }
    const char escaped = cur.Current();
    cur.Step();
    switch (escaped) {
      case '"': value.text += '"'; break;
      case '/': value.text += '/'; break;
      case '\\': value.text += '\\'; break;
      case 'n': value.text += '\n'; break;
      case 'r': value.text += '\r'; break;
      case 't': value.text += '\t'; break;
      default: value.text += '?'; break;  // \b, \f and \u are not decoded
    }
  }
  cur.Step();
  return value;
}

JsonValue ReadNumber(JsonCursor& cur) {
  const char* start = cur.pos;
  if (cur.Current() == '-') cur.Step();
  while (!cur.AtEnd() && IsNumberByte(*cur.pos)) ++cur.pos;

  // strtod in the default "C" locale (the launcher never changes the locale):
  // the longest convertible prefix counts, the rest of the scan is ignored.
  const std::string digits(start, cur.pos);
  char* stop = nullptr;
  errno = 0;
  const double number = std::strtod(digits.c_str(), &stop);
  if (stop == digits.c_str()) throw std::invalid_argument("invalid stod argument");
  if (errno == ERANGE) throw std::out_of_range("stod argument out of range");

  JsonValue value;
  value.kind = JsonKind::Number;
  value.number = number;
  return value;
}

// Guards the recursion of arrays and objects.
struct DepthGuard {
  JsonCursor& cur;
  explicit DepthGuard(JsonCursor& c) : cur(c) {
    if (++cur.depth > kMaxJsonDepth)
      throw std::runtime_error("JSON nesting deeper than " + std::to_string(kMaxJsonDepth) + " levels");
  }
  ~DepthGuard() { --cur.depth; }
  DepthGuard(const DepthGuard&) = delete;
  DepthGuard& operator=(const DepthGuard&) = delete;
};

JsonValue ReadArray(JsonCursor& cur) {
  DepthGuard guard(cur);
  JsonValue value;
  value.kind = JsonKind::Array;
  cur.Step();
  cur.SkipSpace();
  if (cur.Current() == ']') {
    cur.Step();
    return value;
  }
  for (;;) {
    value.items.push_back(ReadValue(cur));
    cur.SkipSpace();
    if (cur.Current() == ']') {
      cur.Step();
      return value;
    }
    if (cur.Current() == ',') cur.Step();  // commas are optional
  }
}

JsonValue ReadObject(JsonCursor& cur) {
  DepthGuard guard(cur);
  JsonValue value;
  value.kind = JsonKind::Object;
  cur.Step();
  cur.SkipSpace();
  if (cur.Current() == '}') {
    cur.Step();
    return value;
  }
  for (;;) {
    cur.SkipSpace();
    std::string key = ReadString(cur).text;
    cur.SkipSpace();
    cur.Step();  // the separator, whatever byte it is
    value.members[std::move(key)] = ReadValue(cur);
    cur.SkipSpace();
    if (cur.Current() == '}') {
      cur.Step();
      return value;
    }
    if (cur.Current() == ',') cur.Step();
  }
}

JsonValue ReadLiteral(JsonCursor& cur, std::size_t length, JsonKind kind, bool boolean) {
  cur.Step(length);  // the letters are not checked
  JsonValue value;
  value.kind = kind;
  value.boolean = boolean;
  return value;
}

JsonValue ReadValue(JsonCursor& cur) {
  cur.SkipSpace();
  const char c = cur.Current();
  switch (c) {
    case '"': return ReadString(cur);
    case '{': return ReadObject(cur);
    case '[': return ReadArray(cur);
    case 't': return ReadLiteral(cur, 4, JsonKind::Bool, true);
    case 'f': return ReadLiteral(cur, 5, JsonKind::Bool, false);
    case 'n': return ReadLiteral(cur, 4, JsonKind::Null, false);
    default: break;
  }
  if (c == '-' || (c >= '0' && c <= '9')) return ReadNumber(cur);
  ThrowUnexpected(c);
}

}  // namespace

const JsonValue& JsonNull() {
  static const JsonValue null_value;
  return null_value;
}

const JsonValue& JsonValue::Get(const std::string& key) const {
  if (kind != JsonKind::Object) return JsonNull();
  const auto found = members.find(key);
  return found == members.end() ? JsonNull() : found->second;
}

const JsonValue& JsonValue::At(std::size_t index) const {
  if (kind != JsonKind::Array || index >= items.size()) return JsonNull();
  return items[index];
}

JsonValue ParseJson(const std::string& text) {
  JsonCursor cur{text.data(), text.data() + text.size()};
  return ReadValue(cur);
}

JsonValue LoadJsonFile(const std::wstring& path) {
  // Text mode: on Windows CR LF pairs read as line feeds.
  std::ifstream file(std::filesystem::path(path), std::ios::in);
  if (!file) throw std::runtime_error("Cannot open JSON file");
  const std::string content((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  return ParseJson(content);
}
