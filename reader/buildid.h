#ifndef VANTORIL_BUILDID_H
#define VANTORIL_BUILDID_H

#include <string>

namespace vantoril {

// What this build of the library answers by: the SHA-256 of its own file, so any
// rebuild counts whatever its size and time, and the crypto library's version, which
// judges the signatures. Empty when the library's file cannot be read.
std::string buildId();

} // namespace vantoril

#endif
