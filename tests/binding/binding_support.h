// Helpers shared by the binding tests: the back-end entry points in the
// order the loader must resolve them, installed copies of back-end
// variants, and what the dynamic loader says about a back end.
#ifndef ZORVAN_TEST_BINDING_SUPPORT_H
#define ZORVAN_TEST_BINDING_SUPPORT_H

#include <stddef.h>

#include <string>
#include <vector>

namespace binding {

// A back-end symbol and the loader's diagnostic line for its pointer.
struct EntryPoint {
  const char *symbol;
  const char *label;
};

// All fourteen, in resolution order (Partition before Prepare).
extern const EntryPoint kEntryPoints[14];
constexpr size_t kEntryPointCount = 14;

// "%p" as glibc prints it: "0x..." or "(nil)".
std::string pointerText(const void *p);

// Copies a file and gives the copy the mode (chmod, so umask is no factor);
// an existing target is replaced by a new file, never rewritten.
void copyFile(const std::string &from, const std::string &to, unsigned mode = 0755);

// The handle of a library that is already loaded (found by path or by
// file identity), or null; the reference taken to ask is given back.
void *loadedHandle(const std::string &path);
// A symbol of a library that is already loaded, or null.
void *symbolOf(const std::string &path, const char *name);

// The fourteen diagnostic lines the loader should print for the back end
// loaded from path: each entry point's address in that library, "(nil)"
// where it has none. With an empty path: all "(nil)".
std::vector<std::string> diagnosticLines(const std::string &path);

// A directory of exactly length characters (created, with its parents).
std::string makeDirOfLength(size_t length);

// The current working directory.
std::string currentDir();

// Lines of a text file, newline removed; none when it does not exist.
std::vector<std::string> fileLines(const std::string &path);

// Content that is not a shared object, for an installed libqxacsint.so
// that cannot be loaded.
constexpr const char *kNotALibrary =
    "#!/bin/sh\n# a back end that is not a shared object\nexit 0\n";

}  // namespace binding

#endif
