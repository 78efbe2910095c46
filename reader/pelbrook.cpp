// The library's C entry point: the only code that knows the caller's buffers.

#include "anchors.h"
#include "signaturecache.h"
#include "authenticode.h"
#include "cancellation.h"
#include "buildid.h"
#include "properties.h"
#include "system.h"
#include "text.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <string>

namespace {

// Every buffer the caller passes holds 260 UTF-16 units, the terminator included.
constexpr std::size_t bufferUnits = 260;

void writeOutput(char16_t *buffer, const std::u16string &value)
{
    if (!buffer)
        return;
    const std::size_t units = vantoril::cutAtCodePoint(value, bufferUnits - 1);
    value.copy(buffer, units);
    buffer[units] = u'\0';
}

// Log lines must stay one line, whatever a file name contains.
std::string oneLine(std::string text)
{
    for (char &c : text)
        if (static_cast<unsigned char>(c) < 0x20)
            c = '?';
    return text;
}

void log(const std::u16string &path, const std::string &outcome)
{
    vantoril::appendLogLine(vantoril::localTimestamp() + "\t" + oneLine(vantoril::utf16ToUtf8(path)) + "\t"
                            + oneLine(outcome));
}

// What a read gave beyond the six values: the log's outcome text and the times in which the values hold.
struct ReadDetail
{
    std::string outcome;
    std::time_t validFrom = 0;
    std::time_t validUntil = 0;
    vantoril::InstallerKind kind = vantoril::InstallerKind::Other;
    std::string sha256;
    std::string authenticodeSha256;
};

void writeText(char *buffer, std::size_t capacity, const std::string &text)
{
    if (!buffer || capacity == 0)
        return;
    std::size_t size = std::min(text.size(), capacity - 1);
    // Cut before a UTF-8 continuation byte, never inside a character.
    while (size > 0 && size < text.size() && (static_cast<unsigned char>(text[size]) & 0xC0) == 0x80)
        --size;
    std::memcpy(buffer, text.data(), size);
    buffer[size] = '\0';
}

// The work of every entry point (handle -1: the file is opened by its path); see
// pelbrook for the status.
int readInto(std::intptr_t handle, const char16_t *path, char16_t *const outputs[6], ReadDetail &detail,
             const vantoril::ReadOptions &options = vantoril::ReadOptions())
{
    const vantoril::CryptoScope cryptoScope;
    const vantoril::Cancellation cancellation;
    // The caller clears its buffers once per run, so a value of the previous file must not survive.
    for (int i = 0; i < 6; ++i)
        if (outputs[i])
            outputs[i][0] = u'\0';
    try {
        if (!path) {
            detail.outcome = "no path given";
            log(u"", detail.outcome);
            return 2;
        }
        std::size_t length = 0;
        while (length < bufferUnits && path[length])
            ++length;
        const std::u16string input(path, length);
        if (length == bufferUnits) {
            detail.outcome = "path not terminated within its buffer";
            log(input, detail.outcome);
            return 2;
        }
        vantoril::FileProperties properties;
        const bool read = handle == -1
            ? vantoril::readFileProperties(input, vantoril::Anchors::shared(), vantoril::SignatureCache::shared(),
                                           properties, detail.outcome, &cancellation, options)
            : vantoril::readOpenedFileProperties(handle, input, vantoril::Anchors::shared(),
                                                 vantoril::SignatureCache::shared(), properties, detail.outcome,
                                                 &cancellation, options);
        if (cancellation.requested()) {
            // Values of a cut read are not reported, not even those read before the stop.
            detail.outcome = "cancelled";
            log(input, detail.outcome);
            return 5;
        }
        writeOutput(outputs[0], properties.signature);
        writeOutput(outputs[1], properties.productName);
        writeOutput(outputs[2], properties.processName);
        writeOutput(outputs[3], properties.originalFileName);
        writeOutput(outputs[4], properties.md5);
        writeOutput(outputs[5], properties.description);
        detail.validFrom = properties.validFrom;
        detail.validUntil = properties.validUntil;
        detail.kind = properties.kind;
        detail.sha256 = properties.sha256;
        detail.authenticodeSha256 = properties.authenticodeSha256;
        log(input, detail.outcome);
        return !read ? 1 : properties.signerWithheld ? 4 : 0;
    } catch (...) {
        for (int i = 0; i < 6; ++i)
            if (outputs[i])
                outputs[i][0] = u'\0';
        detail = ReadDetail();
        detail.outcome = "internal error";
        try {
            log(u"", detail.outcome);
        } catch (...) {
        }
        return 3;
    }
}

int readDetailed(std::intptr_t handle, const char16_t *path, char16_t *signature, char16_t *productName,
                 char16_t *processName, char16_t *originalFileName, char16_t *md5, char16_t *description,
                 char *reason, std::size_t reasonCapacity, long long *validFrom, long long *validUntil)
{
    char16_t *const outputs[] = {signature, productName, processName, originalFileName, md5, description};
    ReadDetail detail;
    const int status = readInto(handle, path, outputs, detail);
    try {
        writeText(reason, reasonCapacity, detail.outcome);
    } catch (...) {
    }
    const bool held = status == 0 || status == 4;
    if (validFrom)
        *validFrom = held ? static_cast<long long>(detail.validFrom) : 0;
    if (validUntil)
        *validUntil = held ? static_cast<long long>(detail.validUntil) : 0;
    return status;
}

} // namespace

// Returns 0 when the file was read, 1 when it could not be opened or read to its end,
// 2 for a path refused, 3 for an internal error, 4 when it was read but its signer is
// withheld because the signature is not trusted or does not match the file, 5 when
// pelbrook_cancel ended the call. Nothing may escape to the caller, so every failure,
// even an allocation failure, ends here as a return value.
extern "C" VANTORIL_EXPORT int pelbrook(const char16_t *path, char16_t *signature, char16_t *productName,
                                        char16_t *processName, char16_t *originalFileName, char16_t *md5,
                                        char16_t *description)
{
    char16_t *const outputs[] = {signature, productName, processName, originalFileName, md5, description};
    ReadDetail detail;
    return readInto(-1, path, outputs, detail);
}

// As pelbrook, and also says why (the log's outcome text, UTF-8, cut to reasonCapacity
// with its terminator) and in which times [validFrom, validUntil), in seconds since
// 1970 UTC, the values hold: a trust verdict made at the current time, for a signature
// without a timestamp, comes out otherwise once a certificate expires or turns valid.
// The span is empty unless the status is 0 or 4.
extern "C" VANTORIL_EXPORT int pelbrook_read(const char16_t *path, char16_t *signature, char16_t *productName,
                                             char16_t *processName, char16_t *originalFileName, char16_t *md5,
                                             char16_t *description, char *reason, std::size_t reasonCapacity,
                                             long long *validFrom, long long *validUntil)
{
    return readDetailed(-1, path, signature, productName, processName, originalFileName, md5, description, reason,
                        reasonCapacity, validFrom, validUntil);
}

// As pelbrook_read, for the file the caller has opened for reading: handle is its file
// descriptor (on Windows its HANDLE), which stays the caller's; path names that file
// (the process name and the log come from it). The caller can then tell from its own
// handle which file was read and whether it changed meanwhile, which no path can.
extern "C" VANTORIL_EXPORT int pelbrook_read_opened(std::intptr_t handle, const char16_t *path, char16_t *signature,
                                                    char16_t *productName, char16_t *processName,
                                                    char16_t *originalFileName, char16_t *md5,
                                                    char16_t *description, char *reason, std::size_t reasonCapacity,
                                                    long long *validFrom, long long *validUntil)
{
    if (handle == -1)
        return 2;
    return readDetailed(handle, path, signature, productName, processName, originalFileName, md5, description, reason,
                        reasonCapacity, validFrom, validUntil);
}

// As pelbrook_read_opened, with what else the same read can tell; handle -1 has the
// library open the file by its path, as pelbrook_read does. flags: 1 also computes the
// file's SHA-256 and its SHA-256 Authenticode digest (in the same read as the MD5).
// installerKind receives the maker of the installer as its markers tell (0 other, 1 MSI,
// 2 NSIS, 3 Inno Setup, 4 WiX bundle, 5 InstallShield, 6 Squirrel, 7 self-extracting
// archive), -1 when the file was not read. sha256 and authenticodeSha256, when given,
// take 65 bytes: 64 lower-case hex digits and the terminator, or an empty string.
extern "C" VANTORIL_EXPORT int pelbrook_read_more(std::intptr_t handle, const char16_t *path, char16_t *signature,
                                                  char16_t *productName, char16_t *processName,
                                                  char16_t *originalFileName, char16_t *md5, char16_t *description,
                                                  char *reason, std::size_t reasonCapacity, long long *validFrom,
                                                  long long *validUntil, unsigned flags, int *installerKind,
                                                  char *sha256, char *authenticodeSha256)
{
    char16_t *const outputs[] = {signature, productName, processName, originalFileName, md5, description};
    ReadDetail detail;
    vantoril::ReadOptions options;
    options.hashes = (flags & 1u) != 0;
    const int status = readInto(handle, path, outputs, detail, options);
    const bool held = status == 0 || status == 4;
    try {
        writeText(reason, reasonCapacity, detail.outcome);
        writeText(sha256, held ? 65 : 1, detail.sha256);
        writeText(authenticodeSha256, held ? 65 : 1, detail.authenticodeSha256);
    } catch (...) {
    }
    if (validFrom)
        *validFrom = held ? static_cast<long long>(detail.validFrom) : 0;
    if (validUntil)
        *validUntil = held ? static_cast<long long>(detail.validUntil) : 0;
    if (installerKind)
        *installerKind = held ? static_cast<int>(detail.kind) : -1;
    return status;
}

// Writes what identifies this build of the library and the crypto library it runs on
// (UTF-8, cut to capacity with its terminator): answers from an equal id are equal.
// Returns 0 when the library cannot tell, and writes nothing then.
extern "C" VANTORIL_EXPORT int pelbrook_build_id(char *id, std::size_t capacity)
{
    const vantoril::CryptoScope cryptoScope;
    try {
        const std::string text = vantoril::buildId();
        if (text.empty() || !id || capacity == 0)
            return 0;
        writeText(id, capacity, text);
        return 1;
    } catch (...) {
        return 0;
    }
}

// Writes the fingerprint of the trust anchors every read is judged against (hex text):
// verdicts made under equal fingerprints are equal. Returns 0 when the anchors could
// not be loaded, and writes nothing then.
extern "C" VANTORIL_EXPORT int pelbrook_anchors_fingerprint(char *text, std::size_t capacity)
{
    const vantoril::CryptoScope cryptoScope;
    try {
        const std::string &fingerprint = vantoril::Anchors::shared().fingerprint();
        if (fingerprint.empty() || !text || capacity == 0)
            return 0;
        writeText(text, capacity, fingerprint);
        return 1;
    } catch (...) {
        return 0;
    }
}

// Ends every pelbrook call running now at its next read block, with status 5. Calls
// that start afterwards are not affected.
extern "C" VANTORIL_EXPORT void pelbrook_cancel(void)
{
    vantoril::Cancellation::cancelRunningCalls();
}

