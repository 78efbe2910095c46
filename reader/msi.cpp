#include "msi.h"

#include "authenticode.h"
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
#include <libmsi.h>
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

std::u16string summaryText(LibmsiSummaryInfo *summary, LibmsiProperty property, int codePage)
{
    GError *error = nullptr;
    const LibmsiPropertyType type = libmsi_summary_info_get_property_type(summary, property, &error);
    if (error) {
        g_error_free(error);
        return {};
    }
    if (type != LIBMSI_PROPERTY_TYPE_STRING)
        return {};
    const gchar *raw = libmsi_summary_info_get_string(summary, property, &error);
    if (error)
        g_error_free(error);
    if (!raw)
        return {};
    // The summary keeps the bytes as stored, in the code page it names itself.
    const std::string bytes(raw);
    std::u16string text;
    if (codePage > 0 && decodeCodePage(static_cast<unsigned>(codePage), bytes, text))
        return trimmed(text);
    if (decodeCodePage(65001, bytes, text))
        return trimmed(text);
    decodeCodePage(28591, bytes, text);
    return trimmed(text);
}

std::u16string productName(LibmsiDatabase *database)
{
    ErrorRef error;
    GObjectRef<LibmsiQuery> query(libmsi_query_new(
        database, "SELECT `Value` FROM `Property` WHERE `Property` = 'ProductName'", &error.error));
    if (!query || !libmsi_query_execute(query.get(), nullptr, &error.error))
        return {};
    GObjectRef<LibmsiRecord> record(libmsi_query_fetch(query.get(), &error.error));
    if (!record)
        return {};
    // libmsi has already turned the string pool's code page into UTF-8.
    gchar *value = libmsi_record_get_string(record.get(), 1);
    if (!value)
        return {};
    const std::u16string text = trimmed(utf8ToUtf16(value));
    g_free(value);
    return text;
}

bool readWhole(GsfInput *stream, std::size_t limit, std::vector<std::uint8_t> &data)
{
    const gsf_off_t size = gsf_input_size(stream);
    if (size < 0 || static_cast<std::uint64_t>(size) > limit)
        return false;
    data.resize(static_cast<std::size_t>(size));
    return size == 0 || gsf_input_read(stream, data.size(), data.data()) != nullptr;
}

struct Child
{
    int index = 0;
    std::string name;
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
};

bool hashStream(GsfInput *stream, HashState &state)
{
    gsf_off_t left = gsf_input_size(stream);
    if (left < 0)
        return false;
    // Streams cannot hold more than the file does; more means sectors are shared.
    if (static_cast<std::uint64_t>(left) > state.budget) {
        state.error = "streams larger than the file";
        return false;
    }
    state.budget -= static_cast<std::uint64_t>(left);
    while (left > 0) {
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
        children.push_back({i, name, utf16LeBytes(name)});
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

MsiSignature checkSignature(GsfInput *input, std::u16string &signer, std::string &error)
{
    const gsf_off_t inputSize = gsf_input_size(input);
    ErrorRef openError;
    GObjectRef<GsfInfile> root(gsf_infile_msole_new(input, &openError.error));
    if (!root) {
        error = "not a compound file: " + openError.text("unknown error");
        return MsiSignature::Broken;
    }
    GObjectRef<GsfInput> signatureInput(gsf_infile_child_by_name(root.get(), signatureStream));
    if (!signatureInput)
        return MsiSignature::None;
    std::vector<std::uint8_t> blob;
    if (!readWhole(signatureInput.get(), signatureLimit, blob)) {
        error = "signature stream unreadable";
        return MsiSignature::Broken;
    }
    Signature signature;
    if (!parseSignature(blob.data(), blob.size(), signature, error))
        return MsiSignature::Broken;
    if (signature.encodedSize != blob.size()) {
        error = "data hidden after the signature";
        return MsiSignature::Broken;
    }

    Digest digest(signature.digestType);
    HashState state{digest, inputSize > 0 ? static_cast<std::uint64_t>(inputSize) : 0, std::vector<std::uint8_t>(readChunk), {}};
    GObjectRef<GsfInput> exInput(gsf_infile_child_by_name(root.get(), signatureExStream));
    if (exInput) {
        std::vector<std::uint8_t> preHash;
        if (!readWhole(exInput.get(), signatureLimit, preHash)) {
            error = "MsiDigitalSignatureEx unreadable";
            return MsiSignature::Broken;
        }
        digest.update(preHash.data(), preHash.size());
    }
    if (!hashStorage(root.get(), 0, state)) {
        error = state.error;
        return MsiSignature::Broken;
    }
    if (digest.finish() != signature.fileDigest) {
        error = "signature digest mismatch";
        return MsiSignature::Broken;
    }
    signer = signature.signerName;
    return MsiSignature::Intact;
}

} // namespace

bool readMsiStrings(const std::string &nativePath, MsiStrings &strings, std::string &error)
{
    ErrorRef openError;
    GObjectRef<LibmsiDatabase> database(
        libmsi_database_new(nativePath.c_str(), LIBMSI_DB_FLAGS_READONLY, nullptr, &openError.error));
    if (!database) {
        error = "database unreadable: " + openError.text("unknown error");
        return false;
    }
    MsiStrings result;
    result.productName = productName(database.get());

    ErrorRef summaryError;
    GObjectRef<LibmsiSummaryInfo> summary(libmsi_summary_info_new(database.get(), 0, &summaryError.error));
    if (summary) {
        GError *codePageError = nullptr;
        const int codePage = libmsi_summary_info_get_int(summary.get(), LIBMSI_PROPERTY_CODEPAGE, &codePageError);
        if (codePageError)
            g_error_free(codePageError);
        result.description = summaryText(summary.get(), LIBMSI_PROPERTY_COMMENTS, codePage);
        if (result.description.empty())
            result.description = summaryText(summary.get(), LIBMSI_PROPERTY_SUBJECT, codePage);
    }
    strings = std::move(result);
    return true;
}

MsiSignature checkMsiSignatureFile(const std::string &nativePath, std::u16string &signer, std::string &error)
{
    ErrorRef openError;
    GObjectRef<GsfInput> input(gsf_input_stdio_new(nativePath.c_str(), &openError.error));
    if (!input) {
        error = "cannot open: " + openError.text("unknown error");
        return MsiSignature::Broken;
    }
    return checkSignature(input.get(), signer, error);
}

MsiSignature checkMsiSignatureMemory(const std::uint8_t *data, std::size_t size, std::u16string &signer,
                                     std::string &error)
{
    GObjectRef<GsfInput> input(gsf_input_memory_new(data, static_cast<gsf_off_t>(size), FALSE));
    if (!input) {
        error = "out of memory";
        return MsiSignature::Broken;
    }
    return checkSignature(input.get(), signer, error);
}

} // namespace vantoril
