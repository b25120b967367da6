#include "json_reader.h"

#include <cstdlib>
#include <stdexcept>

namespace doctortest {

namespace {

class Parser {
 public:
  explicit Parser(const std::string &s) : s_(s) {}

  JsonValue document() {
    JsonValue v = value();
    space();
    if (at_ != s_.size()) fail("trailing text");
    return v;
  }

 private:
  [[noreturn]] void fail(const std::string &what) {
    throw std::runtime_error("JSON: " + what + " at offset " + std::to_string(at_));
  }
  void space() {
    while (at_ < s_.size() && (s_[at_] == ' ' || s_[at_] == '\n' || s_[at_] == '\r' || s_[at_] == '\t'))
      ++at_;
  }
  bool take(char ch) {
    space();
    if (at_ < s_.size() && s_[at_] == ch) {
      ++at_;
      return true;
    }
    return false;
  }
  void expect(char ch) {
    if (!take(ch)) fail(std::string("expected '") + ch + "'");
  }
  bool word(const char *w) {
    std::string text(w);
    if (s_.compare(at_, text.size(), text) != 0) return false;
    at_ += text.size();
    return true;
  }

  JsonValue value() {
    space();
    if (at_ >= s_.size()) fail("unexpected end");
    JsonValue v;
    char ch = s_[at_];
    if (ch == '{') {
      v.type = JsonValue::Type::Object;
      ++at_;
      if (take('}')) return v;
      do {
        space();
        std::string name = string();
        expect(':');
        if (!v.members.emplace(name, value()).second) fail("duplicate member " + name);
      } while (take(','));
      expect('}');
    } else if (ch == '[') {
      v.type = JsonValue::Type::Array;
      ++at_;
      if (take(']')) return v;
      do v.items.push_back(value());
      while (take(','));
      expect(']');
    } else if (ch == '"') {
      v.type = JsonValue::Type::String;
      v.text = string();
    } else if (word("true")) {
      v.type = JsonValue::Type::Bool;
      v.boolean = true;
    } else if (word("false")) {
      v.type = JsonValue::Type::Bool;
    } else if (word("null")) {
      v.type = JsonValue::Type::Null;
    } else {
      const char *start = s_.c_str() + at_;
      char *end = nullptr;
      if (!(ch == '-' || (ch >= '0' && ch <= '9'))) fail("unexpected character");
      v.type = JsonValue::Type::Number;
      v.number = std::strtod(start, &end);
      at_ += static_cast<std::size_t>(end - start);
    }
    return v;
  }

  std::string string() {
    if (at_ >= s_.size() || s_[at_] != '"') fail("expected a string");
    ++at_;
    std::string out;
    while (at_ < s_.size() && s_[at_] != '"') {
      unsigned char ch = static_cast<unsigned char>(s_[at_++]);
      if (ch < 0x20) fail("raw control character in a string");
      if (ch != '\\') {
        out += static_cast<char>(ch);
        continue;
      }
      if (at_ >= s_.size()) fail("unfinished escape");
      char e = s_[at_++];
      switch (e) {
        case '"': case '\\': case '/': out += e; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'u': {
          if (at_ + 4 > s_.size()) fail("short \\u escape");
          unsigned long code = std::strtoul(s_.substr(at_, 4).c_str(), nullptr, 16);
          at_ += 4;
          out += code < 0x80 ? static_cast<char>(code) : '?';
          break;
        }
        default: fail("bad escape");
      }
    }
    if (at_ >= s_.size()) fail("unterminated string");
    ++at_;
    return out;
  }

  const std::string &s_;
  std::size_t at_ = 0;
};

}  // namespace

const JsonValue &JsonValue::at(const std::string &name) const {
  auto it = members.find(name);
  if (type != Type::Object || it == members.end())
    throw std::runtime_error("JSON: no member " + name);
  return it->second;
}

JsonValue parseJson(const std::string &document) { return Parser(document).document(); }

}  // namespace doctortest
