#ifndef VANTORIL_PROPERTIES_H
#define VANTORIL_PROPERTIES_H

#include "installerkind.h"

#include <ctime>
#include <limits>
#include <cstdint>
#include <string>
#include <vector>

namespace vantoril {

class Anchors;
class SignatureCache;
class Cancellation;
class Reader;

// The six values the program asks for, in the order of the C entry point.
struct FileProperties
{
    std::u16string signature;
    std::u16string productName;
    std::u16string processName;
    std::u16string originalFileName;
    std::u16string md5;
    std::u16string description;
    // A signature was read but its signer is not given: the signature is not
    // trusted, or the file does not match it.
    bool signerWithheld = false;
    // The times [validFrom, validUntil) in which these values hold: a trust verdict
    // made at the current time holds only until a certificate's validity changes.
    std::time_t validFrom = std::numeric_limits<std::time_t>::min();
    std::time_t validUntil = std::numeric_limits<std::time_t>::max();
    // Why the values came out as they did: "topic<TAB>text" lines for readprops.
    std::vector<std::string> explanation;
    InstallerKind kind = InstallerKind::Other;
    // Lower-case hex, only when asked for (ReadOptions::hashes): the file's SHA-256 and
    // the SHA-256 Authenticode digest Windows computes (PE image hash, or the hash of an
    // installer database's streams); empty where there is none.
    std::string sha256;
    std::string authenticodeSha256;
};

struct ReadOptions
{
    // Also the two SHA-256 digests, in the same read as the MD5.
    bool hashes = false;
};

// Everything about one file. False when the file could not be read at all, or the
// call was cancelled before its end; outcome is the log text either way.
bool readFileProperties(const std::u16string &path, const Anchors &anchors, SignatureCache &signatures,
                        FileProperties &properties, std::string &outcome, const Cancellation *cancellation = nullptr,
                        const ReadOptions &options = ReadOptions());
// The same for the file the caller has open as handle (see File::adopt); path names it
// for the process name and the log.
bool readOpenedFileProperties(std::intptr_t handle, const std::u16string &path, const Anchors &anchors,
                              SignatureCache &signatures,
                              FileProperties &properties, std::string &outcome,
                              const Cancellation *cancellation = nullptr, const ReadOptions &options = ReadOptions());

// The path-independent part on any input, a file or bytes in memory (tests and
// fuzzing): the MD5 and, for a PE image, its version strings and verified signer.
// False when a read failed. Installer databases need a path and are left out.
bool readImageProperties(const Reader &reader, const Anchors &anchors, SignatureCache &signatures,
                         FileProperties &properties, std::vector<std::string> &notes,
                         const ReadOptions &options = ReadOptions());

} // namespace vantoril

#endif
