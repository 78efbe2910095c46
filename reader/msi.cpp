#include "msi.h"

#include "authenticode.h"
#include "cancellation.h"
#include "digest.h"
#include "system.h"
#include "text.h"

#include <algorithm>
#include <cstring>
#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-memory.h>
#include <gsf/gsf-input-stdio.h>
#include <gsf/gsf-input.h>
#include <gsf/gsf-utils.h>
#include <mutex>
#include <vector>

namespace vantoril {

namespace {

// Authenticode for installer databases: these two streams hold the signature
// and the pre-hash of the metadata, and are left out of the stream hash.
constexpr char signatureStream[] = "\005DigitalSignature";
constexpr char signatureExStream[] = "\005MsiDigitalSignatureEx";
constexpr std::size_t clsidSize = 16;
// Deeper nesting than any installer uses; stops runaway recursion on a corrupt tree.
constexpr int storageDepthLimit = 32;
constexpr std::size_t signatureLimit = 16u << 20;
constexpr std::size_t readChunk = 1 << 20;
// String pools of real databases stay in the low megabytes.
constexpr std::size_t tableLimit = 64u << 20;

template<typename T>
struct GObjectRef
{
    T *object = nullptr;
    explicit GObjectRef(T *o = nullptr) : object(o) {}
    ~GObjectRef() { if (object) g_object_unref(object); }
    GObjectRef(const GObjectRef &) = delete;
    GObjectRef &operator=(const GObjectRef &) = delete;
    T *get() const { return object; }
    explicit operator bool() const { return object != nullptr; }
};

struct ErrorRef
{
    GError *error = nullptr;
    ~ErrorRef() { if (error) g_error_free(error); }
    std::string text(const char *fallback) const { return error && error->message ? error->message : fallback; }
};

std::uint32_t le16(const std::vector<std::uint8_t> &data, std::size_t offset)
{
    return std::uint32_t(data[offset]) | (std::uint32_t(data[offset + 1]) << 8);
}

std::uint32_t le32(const std::vector<std::uint8_t> &data, std::size_t offset)
{
    return le16(data, offset) | (le16(data, offset + 2) << 16);
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

std::string tableStreamName(const std::string &table)
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
    return utf16ToUtf8(encoded);
}

bool readWhole(GsfInput *stream, std::size_t limit, std::vector<std::uint8_t> &data)
{
    const gsf_off_t size = gsf_input_size(stream);
    if (size < 0 || static_cast<std::uint64_t>(size) > limit)
        return false;
    data.resize(static_cast<std::size_t>(size));
    return size == 0 || gsf_input_read(stream, data.size(), data.data()) != nullptr;
}

bool readNamedStream(GsfInfile *root, const std::string &name, std::vector<std::uint8_t> &data)
{
    GObjectRef<GsfInput> stream(gsf_infile_child_by_name(root, name.c_str()));
    return stream && readWhole(stream.get(), tableLimit, data);
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

bool readStringTable(GsfInfile *root, StringTable &table, std::string &error)
{
    std::vector<std::uint8_t> pool;
    std::vector<std::uint8_t> data;
    if (!readNamedStream(root, tableStreamName("_StringPool"), pool)
        || !readNamedStream(root, tableStreamName("_StringData"), data) || pool.size() < 4) {
        error = "string table missing";
        return false;
    }
    // The top bit of the code page marks 3-byte string references.
    table.codePage = le32(pool, 0) & 0x7FFFFFFFu;
    table.referenceSize = (pool[3] & 0x80) ? 3 : 2;
    table.strings.assign(1, std::string());
    std::size_t offset = 0;
    for (std::size_t entry = 4; entry + 4 <= pool.size(); entry += 4) {
        std::size_t length = le16(pool, entry);
        const std::uint32_t references = le16(pool, entry + 2);
        // A string over 64 KiB: a zero length, the high word in the reference
        // count, and the low word in the next entry.
        if (length == 0 && references != 0) {
            entry += 4;
            if (entry + 4 > pool.size())
                break;
            length = (std::size_t(references) << 16) | le16(pool, entry);
        }
        if (length > data.size() - offset) {
            error = "string table corrupt";
            return false;
        }
        table.strings.emplace_back(reinterpret_cast<const char *>(data.data() + offset), length);
        offset += length;
    }
    return true;
}

std::u16string productName(GsfInfile *root, std::string &error)
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
    const std::size_t rows = table.size() / rowSize;
    auto reference = [&](std::size_t column, std::size_t row) {
        const std::size_t at = (column * rows + row) * strings.referenceSize;
        std::uint32_t id = le16(table, at);
        if (strings.referenceSize == 3)
            id |= std::uint32_t(table[at + 2]) << 16;
        return id;
    };
    for (std::size_t row = 0; row < rows; ++row) {
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
constexpr char summaryStream[] = "\005SummaryInformation";
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

bool readSummary(GsfInfile *root, Summary &summary)
{
    std::vector<std::uint8_t> data;
    if (!readNamedStream(root, summaryStream, data) || data.size() < 48)
        return false;
    const std::size_t section = le32(data, 44);
    if (section > data.size() || data.size() - section < 8)
        return false;
    const std::size_t count = le32(data, section + 4);
    if (count > (data.size() - section - 8) / 8)
        return false;
    std::vector<std::pair<std::uint32_t, std::size_t>> strings;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t id = le32(data, section + 8 + 8 * i);
        const std::size_t at = section + std::size_t(le32(data, section + 12 + 8 * i));
        if (at < section || at > data.size() || data.size() - at < 8)
            continue;
        const std::uint32_t type = le16(data, at);
        if (id == propertyCodePage && type == typeI2)
            summary.codePage = le16(data, at + 4);
        else if ((id == propertySubject || id == propertyComments) && type == typeLpstr)
            strings.emplace_back(id, at);
    }
    // The code page may come after the strings, so the texts are cut only now.
    for (const auto &entry : strings) {
        const std::size_t size = std::min<std::size_t>(le32(data, entry.second + 4), data.size() - entry.second - 8);
        std::string text(reinterpret_cast<const char *>(data.data() + entry.second + 8), size);
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

struct Child
{
    int index = 0;
    std::string utf16Name;
};

// Names are compared as their UTF-16LE bytes; on an equal prefix the longer name comes first.
bool streamOrder(const Child &a, const Child &b)
{
    const std::size_t common = std::min(a.utf16Name.size(), b.utf16Name.size());
    const int order = std::memcmp(a.utf16Name.data(), b.utf16Name.data(), common);
    if (order != 0)
        return order < 0;
    return a.utf16Name.size() > b.utf16Name.size();
}

std::string utf16LeBytes(const std::string &utf8)
{
    std::string bytes;
    for (char16_t unit : utf8ToUtf16(utf8)) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>(unit >> 8));
    }
    return bytes;
}

struct HashState
{
    Digest &digest;
    std::uint64_t budget;
    std::vector<std::uint8_t> chunk;
    std::string error;
    const Cancellation *cancellation;
};

bool hashStream(GsfInput *stream, HashState &state)
{
    gsf_off_t left = gsf_input_size(stream);
    if (left < 0) {
        state.error = "stream unreadable";
        return false;
    }
    // Streams cannot hold more than the file does; more means sectors are shared.
    if (static_cast<std::uint64_t>(left) > state.budget) {
        state.error = "streams larger than the file";
        return false;
    }
    state.budget -= static_cast<std::uint64_t>(left);
    while (left > 0) {
        if (state.cancellation && state.cancellation->requested()) {
            state.error = "cancelled";
            return false;
        }
        const std::size_t len = static_cast<std::size_t>(std::min<gsf_off_t>(left, static_cast<gsf_off_t>(readChunk)));
        if (!gsf_input_read(stream, len, state.chunk.data())) {
            state.error = "stream unreadable";
            return false;
        }
        state.digest.update(state.chunk.data(), len);
        left -= static_cast<gsf_off_t>(len);
    }
    return true;
}

bool hashStorage(GsfInfile *storage, int depth, HashState &state)
{
    if (depth > storageDepthLimit) {
        state.error = "storages nested too deeply";
        return false;
    }
    const int count = gsf_infile_num_children(storage);
    std::vector<Child> children;
    for (int i = 0; i < count; ++i) {
        const char *name = gsf_infile_name_by_index(storage, i);
        if (!name)
            continue;
        if (depth == 0 && (std::strcmp(name, signatureStream) == 0 || std::strcmp(name, signatureExStream) == 0))
            continue;
        children.push_back({i, utf16LeBytes(name)});
    }
    std::sort(children.begin(), children.end(), streamOrder);
    for (const Child &entry : children) {
        GObjectRef<GsfInput> child(gsf_infile_child_by_index(storage, entry.index));
        if (!child) {
            state.error = "storage entry unreadable";
            return false;
        }
        const bool isStorage = GSF_IS_INFILE(child.get()) && gsf_infile_num_children(GSF_INFILE(child.get())) >= 0;
        const bool ok = isStorage ? hashStorage(GSF_INFILE(child.get()), depth + 1, state)
                                  : hashStream(child.get(), state);
        if (!ok)
            return false;
    }
    guint8 clsid[clsidSize] = {};
    if (!gsf_infile_msole_get_class_id(GSF_INFILE_MSOLE(storage), clsid)) {
        state.error = "storage class id unreadable";
        return false;
    }
    state.digest.update(clsid, clsidSize);
    return true;
}

MsiSignature checkSignature(GsfInfile *root, std::uint64_t inputSize, const Anchors &anchors,
                            const Cancellation *cancellation, MsiInfo &info)
{
    std::string &error = info.signatureError;
    GObjectRef<GsfInput> signatureInput(gsf_infile_child_by_name(root, signatureStream));
    if (!signatureInput)
        return MsiSignature::None;
    std::vector<std::uint8_t> blob;
    if (!readWhole(signatureInput.get(), signatureLimit, blob)) {
        error = "signature stream unreadable";
        return MsiSignature::Broken;
    }
    Signature &signature = info.details;
    if (!parseSignature(blob.data(), blob.size(), anchors, signature, error))
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
    HashState state{digest, inputSize, std::vector<std::uint8_t>(readChunk), {}, cancellation};
    GObjectRef<GsfInput> exInput(gsf_infile_child_by_name(root, signatureExStream));
    if (exInput) {
        std::vector<std::uint8_t> preHash;
        if (!readWhole(exInput.get(), signatureLimit, preHash)) {
            error = "MsiDigitalSignatureEx unreadable";
            return MsiSignature::Withheld;
        }
        digest.update(preHash.data(), preHash.size());
    }
    if (!hashStorage(root, 0, state)) {
        error = state.error;
        return MsiSignature::Withheld;
    }
    if (digest.finish() != signature.fileDigest) {
        error = "signature digest mismatch";
        return MsiSignature::Withheld;
    }
    info.signer = signature.signerName;
    return MsiSignature::Intact;
}

// The compound-file library registers each of its object types on first use without
// a lock, so two first reads at once could both register one; it registers them all
// here, once, before any read.
void initialiseGsf()
{
    static std::once_flag once;
    std::call_once(once, [] { gsf_init(); });
}

bool readMsi(GsfInput *input, const Anchors &anchors, MsiInfo &info, std::string &error,
             const Cancellation *cancellation)
{
    const gsf_off_t size = gsf_input_size(input);
    ErrorRef openError;
    GObjectRef<GsfInfile> root(gsf_infile_msole_new(input, &openError.error));
    if (!root) {
        error = "not a compound file: " + openError.text("unknown error");
        return false;
    }
    MsiInfo result;
    result.productName = productName(root.get(), result.propertyError);
    Summary summary;
    if (readSummary(root.get(), summary)) {
        result.description = summaryText(summary, summary.comments);
        if (result.description.empty())
            result.description = summaryText(summary, summary.subject);
    }
    result.signature =
        checkSignature(root.get(), size > 0 ? static_cast<std::uint64_t>(size) : 0, anchors, cancellation, result);
    info = std::move(result);
    return true;
}

} // namespace

bool readMsiFile(const std::string &nativePath, const Anchors &anchors, MsiInfo &info, std::string &error,
                 const Cancellation *cancellation)
{
    initialiseGsf();
    ErrorRef openError;
    GObjectRef<GsfInput> input(gsf_input_stdio_new(nativePath.c_str(), &openError.error));
    if (!input) {
        error = "cannot open: " + openError.text("unknown error");
        return false;
    }
    return readMsi(input.get(), anchors, info, error, cancellation);
}

bool readMsiMemory(const std::uint8_t *data, std::size_t size, const Anchors &anchors, MsiInfo &info,
                   std::string &error)
{
    initialiseGsf();
    GObjectRef<GsfInput> input(gsf_input_memory_new(data, static_cast<gsf_off_t>(size), FALSE));
    if (!input) {
        error = "empty input";
        return false;
    }
    return readMsi(input.get(), anchors, info, error, nullptr);
}

} // namespace vantoril
