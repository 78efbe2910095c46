#include "compoundfile.h"

#include "text.h"

#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-memory.h>
#include <gsf/gsf-input-stdio.h>
#include <gsf/gsf-input.h>
#include <gsf/gsf-utils.h>
#include <mutex>

namespace vantoril {

namespace {

template<typename T>
struct GObjectRef
{
    T *object = nullptr;
    explicit GObjectRef(T *o = nullptr) : object(o) {}
    ~GObjectRef() { if (object) g_object_unref(object); }
    GObjectRef(const GObjectRef &) = delete;
    GObjectRef &operator=(const GObjectRef &) = delete;
    T *get() const { return object; }
    T *release() { T *o = object; object = nullptr; return o; }
    explicit operator bool() const { return object != nullptr; }
};

struct ErrorRef
{
    GError *error = nullptr;
    ~ErrorRef() { if (error) g_error_free(error); }
    std::string text(const char *fallback) const { return error && error->message ? error->message : fallback; }
};

// The compound-file library registers each of its object types on first use without
// a lock, so two first reads at once could both register one; it registers them all
// here, once, before any read.
void initialiseGsf()
{
    static std::once_flag once;
    std::call_once(once, [] { gsf_init(); });
}

bool isStorage(GsfInput *child)
{
    return GSF_IS_INFILE(child) && gsf_infile_num_children(GSF_INFILE(child)) >= 0;
}

class GsfStream : public CompoundStream
{
public:
    explicit GsfStream(GsfInput *input) : input(input) {}
    std::uint64_t size() const override
    {
        const gsf_off_t length = gsf_input_size(input.get());
        return length > 0 ? static_cast<std::uint64_t>(length) : 0;
    }
    bool read(void *dst, std::size_t len) override
    {
        return len == 0 || gsf_input_read(input.get(), len, static_cast<guint8 *>(dst)) != nullptr;
    }

private:
    GObjectRef<GsfInput> input;
};

class GsfStorage : public CompoundStorage
{
public:
    // The input the root was read from is kept as long as the root.
    GsfStorage(GsfInfile *storage, GsfInput *source) : storageRef(storage), sourceRef(source) {}

    bool entries(std::size_t entryLimit, std::vector<CompoundEntry> &list) override
    {
        list.clear();
        const int count = gsf_infile_num_children(storageRef.get());
        if (count < 0 || static_cast<std::size_t>(count) > entryLimit)
            return false;
        for (int i = 0; i < count; ++i) {
            const char *name = gsf_infile_name_by_index(storageRef.get(), i);
            if (!name)
                continue;
            GObjectRef<GsfInput> child(gsf_infile_child_by_index(storageRef.get(), i));
            if (!child) {
                list.clear();
                return false;
            }
            list.push_back({utf8ToUtf16(name), isStorage(child.get())});
        }
        return true;
    }

    std::unique_ptr<CompoundStream> stream(const std::u16string &name) override
    {
        GObjectRef<GsfInput> child(gsf_infile_child_by_name(storageRef.get(), utf16ToUtf8(name).c_str()));
        if (!child || isStorage(child.get()))
            return nullptr;
        return std::make_unique<GsfStream>(child.release());
    }

    std::unique_ptr<CompoundStorage> storage(const std::u16string &name) override
    {
        GObjectRef<GsfInput> child(gsf_infile_child_by_name(storageRef.get(), utf16ToUtf8(name).c_str()));
        if (!child || !isStorage(child.get()))
            return nullptr;
        return std::make_unique<GsfStorage>(GSF_INFILE(child.release()), nullptr);
    }

    bool classId(std::uint8_t id[16]) override
    {
        return gsf_infile_msole_get_class_id(GSF_INFILE_MSOLE(storageRef.get()), id);
    }

private:
    GObjectRef<GsfInfile> storageRef;
    GObjectRef<GsfInput> sourceRef;
};

std::unique_ptr<CompoundStorage> openRoot(GsfInput *input, std::string &error)
{
    GObjectRef<GsfInput> source(input);
    ErrorRef openError;
    GsfInfile *root = gsf_infile_msole_new(source.get(), &openError.error);
    if (!root) {
        error = "not a compound file: " + openError.text("unknown error");
        return nullptr;
    }
    return std::make_unique<GsfStorage>(root, source.release());
}

} // namespace

std::unique_ptr<CompoundStorage> openCompoundFile(const std::string &nativePath, std::uint64_t &fileSize,
                                                  std::string &error)
{
    initialiseGsf();
    ErrorRef openError;
    GsfInput *input = gsf_input_stdio_new(nativePath.c_str(), &openError.error);
    if (!input) {
        error = "cannot open: " + openError.text("unknown error");
        return nullptr;
    }
    const gsf_off_t size = gsf_input_size(input);
    fileSize = size > 0 ? static_cast<std::uint64_t>(size) : 0;
    return openRoot(input, error);
}

std::unique_ptr<CompoundStorage> openCompoundMemory(const std::uint8_t *data, std::size_t size, std::string &error)
{
    initialiseGsf();
    GsfInput *input = gsf_input_memory_new(data, static_cast<gsf_off_t>(size), FALSE);
    if (!input) {
        error = "empty input";
        return nullptr;
    }
    return openRoot(input, error);
}

} // namespace vantoril
