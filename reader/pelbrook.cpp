// The library's C entry point: the only code that knows the caller's buffers.

#include "anchors.h"
#include "authenticode.h"
#include "cancellation.h"
#include "properties.h"
#include "system.h"
#include "text.h"

#include <cstddef>
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

struct ThreadStateRelease
{
    ~ThreadStateRelease() { vantoril::releaseThreadState(); }
};

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
    const ThreadStateRelease release;
    const vantoril::Cancellation cancellation;
    char16_t *const outputs[] = {signature, productName, processName, originalFileName, md5, description};
    // The caller clears its buffers once per run, so a value of the previous file must not survive.
    for (char16_t *output : outputs)
        if (output)
            output[0] = u'\0';
    try {
        if (!path) {
            log(u"", "no path given");
            return 2;
        }
        std::size_t length = 0;
        while (length < bufferUnits && path[length])
            ++length;
        const std::u16string input(path, length);
        if (length == bufferUnits) {
            log(input, "path not terminated within its buffer");
            return 2;
        }
        vantoril::FileProperties properties;
        std::string outcome;
        const bool read = vantoril::readFileProperties(input, vantoril::Anchors::shared(), properties, outcome,
                                                           &cancellation);
        if (cancellation.requested()) {
            // Values of a cut read are not reported, not even those read before the stop.
            log(input, "cancelled");
            return 5;
        }
        writeOutput(signature, properties.signature);
        writeOutput(productName, properties.productName);
        writeOutput(processName, properties.processName);
        writeOutput(originalFileName, properties.originalFileName);
        writeOutput(md5, properties.md5);
        writeOutput(description, properties.description);
        log(input, outcome);
        return !read ? 1 : properties.signerWithheld ? 4 : 0;
    } catch (...) {
        for (char16_t *output : outputs)
            if (output)
                output[0] = u'\0';
        try {
            log(u"", "internal error");
        } catch (...) {
        }
        return 3;
    }
}

// Ends every pelbrook call running now at its next read block, with status 5. Calls
// that start afterwards are not affected.
extern "C" VANTORIL_EXPORT void pelbrook_cancel(void)
{
    vantoril::Cancellation::cancelRunningCalls();
}
