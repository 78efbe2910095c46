#include "msi.h"

#include "authenticode.h"
#include "cancellation.h"
#include "compoundfile.h"
#include "digest.h"
#include "reader.h"
#include "signaturecache.h"
#include "system.h"
#include "text.h"

#include <algorithm>
#include <cstring>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <vector>

namespace vantoril {

namespace {

// Authenticode for installer databases: these two streams hold the signature
// and the pre-hash of the metadata, and are left out of the stream hash.
const std::u16string signatureStream = u"\u0005DigitalSignature";
const std::u16string signatureExStream = u"\u0005MsiDigitalSignatureEx";
constexpr std::size_t clsidSize = 16;
// Deeper nesting than any installer uses; stops runaway recursion on a corrupt tree.
constexpr int storageDepthLimit = 32;
constexpr std::size_t signatureLimit = 16u << 20;
constexpr std::size_t readChunk = 1 << 20;
// String pools of real databases stay in the low megabytes.
constexpr std::size_t tableLimit = 64u << 20;
// A storage holds a database's tables and streams: hundreds, never millions.
constexpr std::size_t entryLimit = 1u << 16;

// Bytes of a stream cut out at a checked place; false when they do not fit.
bool textAt(const Reader &bytes, std::uint64_t offset, std::uint64_t length, std::string &text)
{
    // Checked before allocating: the length comes from the file.
    if (!bytes.fits(offset, length))
        return false;
    std::string cut(static_cast<std::size_t>(length), '\0');
    if (!bytes.read(offset, &cut[0], cut.size()))
        return false;
    text.swap(cut);
    return true;
}

// Installer database stream names: pairs of characters from [0-9A-Za-z._]
// fold into one unit from U+3800, a lone one into U+4800 on; tables start with U+4840.
int nameDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'Z')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 36;
    if (c == '.')
        return 62;
    if (c == '_')
        return 63;
    return -1;
}

std::u16string tableStreamName(const std::string &table)
{
    std::u16string encoded(1, u'\x4840');
    for (std::size_t i = 0; i < table.size(); ++i) {
        const int first = nameDigit(table[i]);
        const int second = i + 1 < table.size() ? nameDigit(table[i + 1]) : -1;
        if (first < 0) {
            encoded.push_back(static_cast<char16_t>(static_cast<unsigned char>(table[i])));
        } else if (second < 0) {
            encoded.push_back(static_cast<char16_t>(0x4800 + first));
        } else {
            encoded.push_back(static_cast<char16_t>(0x3800 + first + (second << 6)));
            ++i;
        }
    }
    return encoded;
}

bool readWhole(CompoundStream &stream, std::size_t limit, std::vector<std::uint8_t> &data)
{
    const std::uint64_t size = stream.size();
    if (size > limit)
        return false;
    data.resize(static_cast<std::size_t>(size));
    return stream.read(data.data(), data.size());
}

bool readNamedStream(CompoundStorage &root, const std::u16string &name, std::vector<std::uint8_t> &data)
{
    const std::unique_ptr<CompoundStream> stream = root.stream(name);
    return stream && readWhole(*stream, tableLimit, data);
}

// Where a code page cannot decode a text: UTF-8 if it is valid, else Latin-1, which never fails.
std::u16string decodeText(unsigned codePage, const std::string &bytes)
{
    std::u16string text;
    if (codePage != 0 && decodeCodePage(codePage, bytes, text))
        return trimmed(text);
    if (decodeCodePage(65001, bytes, text))
        return trimmed(text);
    decodeCodePage(28591, bytes, text);
    return trimmed(text);
}

// The string table: "_StringPool" holds the code page, then a length and a
// reference count per string; "_StringData" holds the bytes back to back.
struct StringTable
{
    unsigned codePage = 0;
    std::size_t referenceSize = 2;
    std::vector<std::string> strings;
};

bool readStringTable(CompoundStorage &root, StringTable &table, std::string &error)
{
    std::vector<std::uint8_t> pool;
    std::vector<std::uint8_t> data;
    if (!readNamedStream(root, tableStreamName("_StringPool"), pool)
        || !readNamedStream(root, tableStreamName("_StringData"), data)) {
        error = "string table missing";
        return false;
    }
    const Reader poolBytes(pool.data(), pool.size());
    const Reader dataBytes(data.data(), data.size());
    std::uint32_t codePage = 0;
    if (!poolBytes.u32(0, codePage)) {
        error = "string table missing";
        return false;
    }
    // The top bit of the code page marks 3-byte string references.
    table.codePage = codePage & 0x7FFFFFFFu;
    table.referenceSize = (codePage & 0x80000000u) ? 3 : 2;
    table.strings.assign(1, std::string());
    std::uint64_t offset = 0;
    for (std::uint64_t entry = 4;; entry += 4) {
        std::uint16_t low = 0;
        std::uint16_t references = 0;
        if (!poolBytes.u16(entry, low) || !poolBytes.u16(entry + 2, references))
            break;
        std::uint64_t length = low;
        // A string over 64 KiB: a zero length, the high word in the reference
        // count, and the low word in the next entry.
        if (length == 0 && references != 0) {
            entry += 4;
            if (!poolBytes.fits(entry, 4) || !poolBytes.u16(entry, low))
                break;
            length = (std::uint64_t(references) << 16) | low;
        }
        std::string text;
        if (!textAt(dataBytes, offset, length, text)) {
            error = "string table corrupt";
            return false;
        }
        table.strings.push_back(std::move(text));
        offset += length;
    }
    return true;
}

std::u16string productName(CompoundStorage &root, std::string &error)
{
    StringTable strings;
    if (!readStringTable(root, strings, error))
        return {};
    std::vector<std::uint8_t> table;
    if (!readNamedStream(root, tableStreamName("Property"), table)) {
        error = "Property table missing";
        return {};
    }
    // The Property table has two string columns (Property, Value), stored column after column.
    const std::size_t rowSize = 2 * strings.referenceSize;
    if (table.size() % rowSize != 0) {
        error = "Property table corrupt";
        return {};
    }
    const Reader bytes(table.data(), table.size());
    const std::uint64_t rows = bytes.size() / rowSize;
    // A reference that cannot be read is string 0, the empty one.
    auto reference = [&](std::uint64_t column, std::uint64_t row) {
        const std::uint64_t at = (column * rows + row) * strings.referenceSize;
        std::uint16_t low = 0;
        std::uint8_t high = 0;
        if (!bytes.u16(at, low) || (strings.referenceSize == 3 && !bytes.read(at + 2, &high, 1)))
            return std::uint32_t(0);
        return std::uint32_t(low) | (std::uint32_t(high) << 16);
    };
    for (std::uint64_t row = 0; row < rows; ++row) {
        const std::uint32_t key = reference(0, row);
        const std::uint32_t value = reference(1, row);
        if (key < strings.strings.size() && strings.strings[key] == "ProductName")
            return value < strings.strings.size() ? decodeText(strings.codePage, strings.strings[value])
                                                  : std::u16string();
    }
    return {};
}

// Summary information, a property set stream: a header whose first section
// offset sits at byte 44, then the section's size, its property count and
// (identifier, offset) pairs; strings are VT_LPSTR in the set's own code page.
const std::u16string summaryStream = u"\u0005SummaryInformation";
constexpr std::uint32_t propertyCodePage = 1;
constexpr std::uint32_t propertySubject = 3;
constexpr std::uint32_t propertyComments = 6;
constexpr std::uint32_t typeI2 = 2;
constexpr std::uint32_t typeLpstr = 30;
constexpr std::uint32_t codePageUtf16 = 1200;

struct Summary
{
    unsigned codePage = 0;
    std::string subject;
    std::string comments;
};

bool readSummary(CompoundStorage &root, Summary &summary)
{
    std::vector<std::uint8_t> data;
    if (!readNamedStream(root, summaryStream, data))
        return false;
    const Reader bytes(data.data(), data.size());
    std::uint32_t section = 0;
    std::uint32_t count = 0;
    if (!bytes.u32(44, section) || !bytes.fits(section, 8) || !bytes.u32(section + 4, count))
        return false;
    // Eight bytes per property after the section's size and count.
    if (count > (bytes.size() - section - 8) / 8)
        return false;
    std::vector<std::pair<std::uint32_t, std::uint64_t>> strings;
    for (std::uint64_t i = 0; i < count; ++i) {
        std::uint32_t id = 0;
        std::uint32_t offset = 0;
        if (!bytes.u32(section + 8 + 8 * i, id) || !bytes.u32(section + 12 + 8 * i, offset))
            return false;
        const std::uint64_t at = std::uint64_t(section) + offset;
        std::uint16_t type = 0;
        if (!bytes.fits(at, 8) || !bytes.u16(at, type))
            continue;
        std::uint16_t codePage = 0;
        if (id == propertyCodePage && type == typeI2 && bytes.u16(at + 4, codePage))
            summary.codePage = codePage;
        else if ((id == propertySubject || id == propertyComments) && type == typeLpstr)
            strings.emplace_back(id, at);
    }
    // The code page may come after the strings, so the texts are cut only now; a length
    // past the stream's end takes what is there.
    for (const auto &entry : strings) {
        std::uint32_t declared = 0;
        std::string text;
        if (!bytes.u32(entry.second + 4, declared)
            || !textAt(bytes, entry.second + 8, std::min<std::uint64_t>(declared, bytes.size() - entry.second - 8),
                       text))
            continue;
        if (summary.codePage != codePageUtf16)
            text = text.substr(0, text.find('\0'));
        (entry.first == propertySubject ? summary.subject : summary.comments) = text;
    }
    return true;
}

std::u16string summaryText(const Summary &summary, const std::string &bytes)
{
    if (summary.codePage == codePageUtf16) {
        std::u16string text;
        decodeCodePage(codePageUtf16, bytes.substr(0, bytes.size() & ~std::size_t(1)), text);
        return trimmed(text.substr(0, text.find(u'\0')));
    }
    return decodeText(summary.codePage, bytes);
}

// Names are compared as their UTF-16LE bytes with the terminating NUL, as Windows hashes
// them: on an equal prefix the shorter name, whose NUL sorts lowest, comes first.
bool streamOrder(const CompoundEntry &a, const CompoundEntry &b)
{
    const std::size_t common = std::min(a.name.size(), b.name.size());
    for (std::size_t i = 0; i < common; ++i) {
        const unsigned x = a.name[i], y = b.name[i];
        if ((x & 0xFF) != (y & 0xFF))
            return (x & 0xFF) < (y & 0xFF);
        if ((x >> 8) != (y >> 8))
            return (x >> 8) < (y >> 8);
    }
    return a.name.size() < b.name.size();
}

struct HashState
{
    std::vector<Digest *> digests;
    std::uint64_t budget;
    std::vector<std::uint8_t> chunk;
    std::string error;
    const Cancellation *cancellation;
};

bool hashStream(CompoundStream &stream, HashState &state)
{
    std::uint64_t left = stream.size();
    // Streams cannot hold more than the file does; more means sectors are shared.
    if (left > state.budget) {
        state.error = "streams larger than the file";
        return false;
    }
    state.budget -= left;
    while (left > 0) {
        if (state.cancellation && state.cancellation->requested()) {
            state.error = "cancelled";
            return false;
        }
        const std::size_t len = static_cast<std::size_t>(std::min<std::uint64_t>(left, readChunk));
        if (!stream.read(state.chunk.data(), len)) {
            state.error = "stream unreadable";
            return false;
        }
        for (Digest *digest : state.digests)
            digest->update(state.chunk.data(), len);
        left -= len;
    }
    return true;
}

bool hashStorage(CompoundStorage &storage, int depth, HashState &state)
{
    if (depth > storageDepthLimit) {
        state.error = "storages nested too deeply";
        return false;
    }
    std::vector<CompoundEntry> children;
    if (!storage.entries(entryLimit, children)) {
        state.error = "storage entries unreadable";
        return false;
    }
    if (depth == 0)
        children.erase(std::remove_if(children.begin(), children.end(),
                                      [](const CompoundEntry &entry) {
                                          return entry.name == signatureStream || entry.name == signatureExStream;
                                      }),
                       children.end());
    std::sort(children.begin(), children.end(), streamOrder);
    for (const CompoundEntry &entry : children) {
        bool ok = false;
        if (entry.isStorage) {
            const std::unique_ptr<CompoundStorage> child = storage.storage(entry.name);
            ok = child && hashStorage(*child, depth + 1, state);
        } else {
            const std::unique_ptr<CompoundStream> child = storage.stream(entry.name);
            ok = child && hashStream(*child, state);
        }
        if (!ok) {
            if (state.error.empty())
                state.error = "storage entry unreadable";
            return false;
        }
    }
    std::uint8_t clsid[clsidSize] = {};
    if (!storage.classId(clsid)) {
        state.error = "storage class id unreadable";
        return false;
    }
    for (Digest *digest : state.digests)
        digest->update(clsid, clsidSize);
    return true;
}

bool isSha256(const EVP_MD *type)
{
    return type && EVP_MD_get_type(type) == NID_sha256;
}

// The pre-hash of the metadata that a signature with MsiDigitalSignatureEx covers first.
bool readPreHash(CompoundStorage &root, std::vector<std::uint8_t> &preHash)
{
    const std::unique_ptr<CompoundStream> exInput = root.stream(signatureExStream);
    return !exInput || readWhole(*exInput, signatureLimit, preHash);
}

MsiSignature checkSignature(CompoundStorage &root, std::uint64_t inputSize, const Anchors &anchors,
                            SignatureCache &signatures, const Cancellation *cancellation, bool hashes, MsiInfo &info)
{
    std::string &error = info.signatureError;
    const std::unique_ptr<CompoundStream> signatureInput = root.stream(signatureStream);
    if (!signatureInput)
        return MsiSignature::None;
    std::vector<std::uint8_t> blob;
    if (!readWhole(*signatureInput, signatureLimit, blob)) {
        error = "signature stream unreadable";
        return MsiSignature::Broken;
    }
    Signature &signature = info.details;
    if (!parseSignature(blob.data(), blob.size(), anchors, signatures, signature, error))
        return MsiSignature::Broken;
    if (signature.encodedSize != blob.size()) {
        error = "data hidden after the signature";
        return MsiSignature::Withheld;
    }
    // An untrusted signer is withheld whatever the digest says, so the database is not hashed.
    if (!signature.trust.trusted) {
        error = "untrusted signature by " + utf16ToUtf8(signature.signerName) + ": " + signature.trust.reason;
        return MsiSignature::Withheld;
    }

    Digest digest(signature.digestType);
    // Asked for the SHA-256 digest under a signature of another algorithm: the same pass
    // feeds both, the pre-hash (made with the signature's algorithm) only the signature's.
    Digest sha256(hashes && !isSha256(signature.digestType) ? EVP_sha256() : nullptr);
    HashState state{{&digest}, inputSize, std::vector<std::uint8_t>(readChunk), {}, cancellation};
    if (sha256.ok())
        state.digests.push_back(&sha256);
    std::vector<std::uint8_t> preHash;
    if (!readPreHash(root, preHash)) {
        error = "MsiDigitalSignatureEx unreadable";
        return MsiSignature::Withheld;
    }
    digest.update(preHash.data(), preHash.size());
    if (!hashStorage(root, 0, state)) {
        error = state.error;
        return MsiSignature::Withheld;
    }
    const std::vector<std::uint8_t> value = digest.finish();
    if (hashes)
        info.authenticodeSha256 = sha256.ok() ? sha256.finish() : value;
    if (value != signature.fileDigest) {
        error = "signature digest mismatch";
        return MsiSignature::Withheld;
    }
    info.signer = signature.signerName;
    return MsiSignature::Intact;
}

// The SHA-256 digest where the signature check did not compute it on its way.
void authenticodeSha256(CompoundStorage &root, std::uint64_t inputSize, const Cancellation *cancellation,
                        MsiInfo &info)
{
    Digest sha256(EVP_sha256());
    HashState state{{&sha256}, inputSize, std::vector<std::uint8_t>(readChunk), {}, cancellation};
    std::vector<std::uint8_t> preHash;
    if (!readPreHash(root, preHash))
        return;
    if (isSha256(info.details.digestType))
        sha256.update(preHash.data(), preHash.size());
    if (hashStorage(root, 0, state))
        info.authenticodeSha256 = sha256.finish();
}

void readMsi(CompoundStorage &root, std::uint64_t size, const Anchors &anchors, SignatureCache &signatures,
             MsiInfo &info, const Cancellation *cancellation, bool hashes)
{
    MsiInfo result;
    result.productName = productName(root, result.propertyError);
    Summary summary;
    if (readSummary(root, summary)) {
        result.description = summaryText(summary, summary.comments);
        if (result.description.empty())
            result.description = summaryText(summary, summary.subject);
    }
    result.signature = checkSignature(root, size, anchors, signatures, cancellation, hashes, result);
    if (hashes && result.authenticodeSha256.empty())
        authenticodeSha256(root, size, cancellation, result);
    info = std::move(result);
}

} // namespace

bool readMsiFile(const std::string &nativePath, const Anchors &anchors, SignatureCache &signatures, MsiInfo &info,
                 std::string &error, const Cancellation *cancellation, bool hashes)
{
    std::uint64_t size = 0;
    const std::unique_ptr<CompoundStorage> root = openCompoundFile(nativePath, size, error);
    if (!root)
        return false;
    readMsi(*root, size, anchors, signatures, info, cancellation, hashes);
    return true;
}

bool readMsiMemory(const std::uint8_t *data, std::size_t size, const Anchors &anchors, SignatureCache &signatures,
                   MsiInfo &info, std::string &error, bool hashes)
{
    const std::unique_ptr<CompoundStorage> root = openCompoundMemory(data, size, error);
    if (!root)
        return false;
    readMsi(*root, size, anchors, signatures, info, nullptr, hashes);
    return true;
}

} // namespace vantoril
