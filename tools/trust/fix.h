// A fix is data until it is printed: one command for one named person, its
// arguments quoted for the shell in one place, or advice in words where no
// command does it. Whoever pastes a printed command runs exactly what it
// says: every word is quoted, and a word that holds a control character,
// a newline or a byte that is not printable is never printed raw, so such
// a command is not offered at all.
#ifndef ZORVAN_TRUST_FIX_H
#define ZORVAN_TRUST_FIX_H

#include <string>
#include <vector>

namespace fix {

struct Fix {
  std::string who;                // whose command it is ("root", "db2inst1"); empty for advice
  std::vector<std::string> argv;  // the command, a word each; empty for advice
  std::string appendTo;           // a file the command's output is appended to (">>"), or empty
  std::string advice;             // words, for a fix that is no command
};
using Fixes = std::vector<Fix>;

Fix command(const std::string &who, const std::vector<std::string> &argv);
Fix advice(const std::string &text);
// An edit of line number of file (sed -i): the text from, as written,
// replaced by to; the whole line when from is empty, removed when both are.
Fix editLine(const std::string &who, const std::string &file, int number, const std::string &from,
             const std::string &to);
Fix replaceLine(const std::string &who, const std::string &file, int number, const std::string &text);
// text appended to file as a line of its own.
Fix appendLine(const std::string &who, const std::string &file, const std::string &text);

// "As root: chmod 755 /x"; "As root, with <back end> filled in: install
// ..." for a command with a blank for the reader; the advice; or, for a
// command with a word that cannot be shown as it is, why no command is
// offered.
std::string render(const Fix &fix);

// A word quoted for a POSIX shell: as it is when it holds only characters
// no shell treats specially, else in single quotes ('it'\''s').
std::string shellQuote(const std::string &word);
// Whether text shows as it is: valid UTF-8 without control characters
// (C0, DEL, C1) or the invisible marks that reorder or hide text.
bool printable(const std::string &text);
// text with every character that is not printable escaped (\r, \n, \t,
// \e, \xNN, \u{NNNN}), so that it reaches a terminal as plain characters.
std::string visible(const std::string &text);

}  // namespace fix

#endif
