// The instance's .properties file: the first line whose first token is
// dZORVANHOME names the installation's home directory in its second token.
#ifndef ZORVAN_DISCOVERY_PROPERTIES_H
#define ZORVAN_DISCOVERY_PROPERTIES_H

#include <stdio.h>

namespace zorvan {

enum class HomeLookup { Found, Missing, TooLong };

// Longest home directory that still leaves room for "/Base/libqxacsint.so"
// in a 1024-byte path.
constexpr size_t kHomeMax = 1003;

// Scans an open properties file. Reads at most 1022 characters at a time
// and treats each read as a line; tokens are split at space, tab and
// newline. The key line ends the scan, with or without a value.
HomeLookup readHomeDirectory(FILE *properties, char (&home)[kHomeMax + 1]);

}  // namespace zorvan

#endif
