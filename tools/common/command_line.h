// A tool's command line read one option at a time, "--name value" and
// "--name=value" alike, the way acs-doctor and acs-host both take it.
#ifndef ZORVAN_TOOLS_COMMAND_LINE_H
#define ZORVAN_TOOLS_COMMAND_LINE_H

#include <string>

class CommandLine {
 public:
  CommandLine(int argc, char **argv) : argc_(argc), argv_(argv) {}

  // Moves to the next word; false after the last.
  bool next() {
    if (++at_ >= argc_) return false;
    name_ = argv_[at_];
    std::size_t eq = name_.find('=');
    inline_ = name_.rfind("--", 0) == 0 && eq != std::string::npos;
    if (inline_) {
      value_ = name_.substr(eq + 1);
      name_.resize(eq);
    }
    return true;
  }
  // The option's name, before any "=value"; the word as given.
  const std::string &name() const { return name_; }
  const char *word() const { return argv_[at_]; }
  // Whether it is that flag, given without "=value".
  bool flag(const char *name) const { return !inline_ && name_ == name; }
  // The option's value: what follows '=', else the next word; false when
  // there is none.
  bool value(std::string &into) {
    if (inline_) {
      into = value_;
      return true;
    }
    if (at_ + 1 >= argc_) return false;
    into = argv_[++at_];
    return true;
  }

 private:
  int argc_;
  char **argv_;
  int at_ = 0;
  std::string name_, value_;
  bool inline_ = false;
};

#endif
