#include "fix.h"

#include <stdio.h>
#include <string.h>

namespace fix {

namespace {

// The code point of the UTF-8 sequence at text[at], and its length; a
// length of 0 for a byte that starts no valid sequence.
unsigned long decode(const std::string &text, std::size_t at, std::size_t &length) {
  unsigned char lead = static_cast<unsigned char>(text[at]);
  length = lead < 0x80 ? 1 : lead >= 0xc2 && lead < 0xe0 ? 2 : lead >= 0xe0 && lead < 0xf0 ? 3
           : lead >= 0xf0 && lead < 0xf5                  ? 4
                                                          : 0;
  if (length == 0 || at + length > text.size()) return length = 0;
  unsigned long point = length == 1 ? lead : lead & (0x7f >> length);
  for (std::size_t i = 1; i < length; ++i) {
    unsigned char next = static_cast<unsigned char>(text[at + i]);
    if ((next & 0xc0) != 0x80) return length = 0;
    point = point << 6 | (next & 0x3f);
  }
  static const unsigned long kShortest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (point < kShortest[length] || point > 0x10ffff || (point >= 0xd800 && point < 0xe000)) length = 0;
  return point;
}

// Control characters, and the marks that reorder or hide the text around
// them (zero-width and bidirectional controls): a terminal would act on
// them, or show other text than the bytes hold.
bool invisible(unsigned long point) {
  return point < 0x20 || (point >= 0x7f && point < 0xa0) || (point >= 0x200b && point <= 0x200f) ||
         (point >= 0x202a && point <= 0x202e) || (point >= 0x2060 && point <= 0x2069) || point == 0xfeff;
}

// In a sed s command's pattern (or replacement) inside s|...|...|.
std::string sedEscaped(const std::string &text, bool replacement) {
  std::string out;
  for (char ch : text) {
    if (ch == '|' || ch == '\\' || strchr(replacement ? "&" : ".*[]^$", ch) != nullptr) out += '\\';
    out += ch;
  }
  return out;
}

}  // namespace

Fix command(const std::string &who, const std::vector<std::string> &argv) { return {who, argv, "", ""}; }

Fix advice(const std::string &text) { return {"", {}, "", text}; }

Fix editLine(const std::string &who, const std::string &file, int number, const std::string &from,
             const std::string &to) {
  std::string script = std::to_string(number) + (from.empty() && to.empty() ? "d"
                                                  : "s|" + (from.empty() ? ".*" : sedEscaped(from, false)) + "|" +
                                                        sedEscaped(to, true) + "|");
  return command(who, {"sed", "-i", script, file});
}

Fix replaceLine(const std::string &who, const std::string &file, int number, const std::string &text) {
  return editLine(who, file, number, "", text);
}

Fix appendLine(const std::string &who, const std::string &file, const std::string &text) {
  Fix fix = command(who, {"printf", "%s\\n", text});
  fix.appendTo = file;
  return fix;
}

std::string render(const Fix &fix) {
  if (fix.argv.empty()) return visible(fix.advice);
  std::string line;
  std::vector<std::string> words = fix.argv;
  if (!fix.appendTo.empty()) words.push_back(fix.appendTo);
  for (const std::string &word : words)
    if (!printable(word))
      return "No command is offered: " + visible(word) +
             " holds a control character or a byte that is not printable, which a pasted command would "
             "carry unseen; correct it by hand.";
  // A word such as <home directory> is for the reader to fill in: the
  // command says so before it, and quoted as it is, pasted unfilled, it
  // names nothing that exists.
  std::string blanks;
  for (const std::string &word : words)
    for (std::size_t open = word.find('<'); open != std::string::npos; open = word.find('<', open + 1)) {
      std::size_t close = word.find('>', open);
      std::string blank = close == std::string::npos ? "" : word.substr(open, close + 1 - open);
      if (!blank.empty() && blanks.find(blank) == std::string::npos) blanks += (blanks.empty() ? "" : " and ") + blank;
    }
  for (std::size_t i = 0; i < fix.argv.size(); ++i) line += (i == 0 ? "" : " ") + shellQuote(fix.argv[i]);
  if (!fix.appendTo.empty()) line += " >> " + shellQuote(fix.appendTo);
  return "As " + fix.who + (blanks.empty() ? "" : ", with " + blanks + " filled in") + ": " + line;
}

std::string shellQuote(const std::string &word) {
  static const char kPlain[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789@%+=:,./_-";
  if (!word.empty() && word.find_first_not_of(kPlain) == std::string::npos) return word;
  std::string quoted = "'";
  for (char ch : word) quoted += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
  return quoted + "'";
}

bool printable(const std::string &text) {
  for (std::size_t at = 0, length = 0; at < text.size(); at += length)
    if (invisible(decode(text, at, length)) || length == 0) return false;
  return true;
}

std::string visible(const std::string &text) {
  std::string out;
  for (std::size_t at = 0, length = 0; at < text.size(); at += length) {
    unsigned long point = decode(text, at, length);
    char escaped[32];
    if (length == 0) {
      length = 1;
      snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned char>(text[at]));
    } else if (!invisible(point)) {
      out.append(text, at, length);
      continue;
    } else if (point == '\r' || point == '\n' || point == '\t' || point == 0x1b) {
      snprintf(escaped, sizeof escaped, "\\%c", point == '\r' ? 'r' : point == '\n' ? 'n' : point == '\t' ? 't' : 'e');
    } else if (point < 0x80) {
      snprintf(escaped, sizeof escaped, "\\x%02lx", point);
    } else {
      snprintf(escaped, sizeof escaped, "\\u{%04lx}", point);
    }
    out += escaped;
  }
  return out;
}

}  // namespace fix
