#include "compoundfile.h"

#include "text.h"

#include <windows.h>

#include <objbase.h>
#include <objidl.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace vantoril {

namespace {

template<typename T>
struct ComRef
{
    T *object = nullptr;
    ComRef() = default;
    explicit ComRef(T *o) : object(o) {}
    ~ComRef() { if (object) object->Release(); }
    ComRef(const ComRef &) = delete;
    ComRef &operator=(const ComRef &) = delete;
    T *get() const { return object; }
    T **put() { return &object; }
    T *release() { T *o = object; object = nullptr; return o; }
    explicit operator bool() const { return object != nullptr; }
};

// Structured storage is part of COM: each opened root joins COM on the calling thread
// (the caller's worker threads) and leaves it once the root and all it opened are gone.
struct ComJoin
{
    bool joined;
    ~ComJoin() { if (joined) CoUninitialize(); }
};

std::wstring wide(const std::u16string &text)
{
    return std::wstring(text.begin(), text.end());
}

std::string hresultText(HRESULT result)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(result));
    return text;
}

class StgStream : public CompoundStream
{
public:
    StgStream(IStream *stream, std::uint64_t length) : streamRef(stream), length(length) {}
    std::uint64_t size() const override { return length; }
    bool read(void *dst, std::size_t len) override
    {
        auto *out = static_cast<unsigned char *>(dst);
        while (len > 0) {
            const ULONG part = static_cast<ULONG>(std::min<std::size_t>(len, 1u << 30));
            ULONG got = 0;
            if (FAILED(streamRef.get()->Read(out, part, &got)) || got == 0)
                return false;
            out += got;
            len -= got;
        }
        return true;
    }

private:
    ComRef<IStream> streamRef;
    std::uint64_t length;
};

class StgStorage : public CompoundStorage
{
public:
    StgStorage(IStorage *storage, ILockBytes *bytes, bool comJoined)
        : com{comJoined}, bytesRef(bytes), storageRef(storage)
    {
    }

    bool entries(std::size_t entryLimit, std::vector<CompoundEntry> &list) override
    {
        list.clear();
        ComRef<IEnumSTATSTG> enumerator;
        if (FAILED(storageRef.get()->EnumElements(0, nullptr, 0, enumerator.put())))
            return false;
        STATSTG entry;
        ULONG fetched = 0;
        while (enumerator.get()->Next(1, &entry, &fetched) == S_OK && fetched == 1) {
            const bool isStorage = entry.type == STGTY_STORAGE;
            const bool isStream = entry.type == STGTY_STREAM;
            if (entry.pwcsName && (isStorage || isStream))
                list.push_back({std::u16string(entry.pwcsName, entry.pwcsName + wcslen(entry.pwcsName)), isStorage});
            CoTaskMemFree(entry.pwcsName);
            if (list.size() > entryLimit) {
                list.clear();
                return false;
            }
        }
        return true;
    }

    std::unique_ptr<CompoundStream> stream(const std::u16string &name) override
    {
        ComRef<IStream> child;
        if (FAILED(storageRef.get()->OpenStream(wide(name).c_str(), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0,
                                                 child.put())))
            return nullptr;
        STATSTG info;
        if (FAILED(child.get()->Stat(&info, STATFLAG_NONAME)))
            return nullptr;
        return std::make_unique<StgStream>(child.release(), info.cbSize.QuadPart);
    }

    std::unique_ptr<CompoundStorage> storage(const std::u16string &name) override
    {
        ComRef<IStorage> child;
        if (FAILED(storageRef.get()->OpenStorage(wide(name).c_str(), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE,
                                                  nullptr, 0, child.put())))
            return nullptr;
        return std::make_unique<StgStorage>(child.release(), nullptr, false);
    }

    bool classId(std::uint8_t id[16]) override
    {
        STATSTG info;
        if (FAILED(storageRef.get()->Stat(&info, STATFLAG_NONAME)))
            return false;
        // The class id as stored in the file: the GUID's fields little-endian.
        const GUID &clsid = info.clsid;
        for (int i = 0; i < 4; ++i)
            id[i] = static_cast<std::uint8_t>(clsid.Data1 >> (8 * i));
        id[4] = static_cast<std::uint8_t>(clsid.Data2);
        id[5] = static_cast<std::uint8_t>(clsid.Data2 >> 8);
        id[6] = static_cast<std::uint8_t>(clsid.Data3);
        id[7] = static_cast<std::uint8_t>(clsid.Data3 >> 8);
        std::memcpy(id + 8, clsid.Data4, 8);
        return true;
    }

private:
    // Released in the reverse order: the storage, its bytes, then COM.
    ComJoin com;
    ComRef<ILockBytes> bytesRef;
    ComRef<IStorage> storageRef;
};

bool joinCom()
{
    const HRESULT result = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    // S_FALSE: already joined by this thread, which still counts one more join to leave.
    return SUCCEEDED(result);
}

} // namespace

std::unique_ptr<CompoundStorage> openCompoundFile(const std::string &nativePath, std::uint64_t &fileSize,
                                                  std::string &error)
{
    const bool joined = joinCom();
    const std::u16string path = utf8ToUtf16(nativePath);
    ComRef<IStorage> root;
    // Read-only and shared, as a reader that others may read beside.
    const HRESULT result = StgOpenStorageEx(wide(path).c_str(), STGM_READ | STGM_SHARE_DENY_WRITE, STGFMT_STORAGE, 0,
                                            nullptr, nullptr, IID_IStorage, reinterpret_cast<void **>(root.put()));
    if (FAILED(result)) {
        if (joined)
            CoUninitialize();
        error = (result == STG_E_FILEALREADYEXISTS || result == STG_E_INVALIDHEADER ? "not a compound file: "
                                                                                     : "cannot open: ")
                + hresultText(result);
        return nullptr;
    }
    WIN32_FILE_ATTRIBUTE_DATA attributes;
    fileSize = GetFileAttributesExW(wide(path).c_str(), GetFileExInfoStandard, &attributes)
                   ? (std::uint64_t(attributes.nFileSizeHigh) << 32) | attributes.nFileSizeLow
                   : 0;
    return std::make_unique<StgStorage>(root.release(), nullptr, joined);
}

std::unique_ptr<CompoundStorage> openCompoundMemory(const std::uint8_t *data, std::size_t size, std::string &error)
{
    const bool joined = joinCom();
    auto fail = [&](const std::string &why) -> std::unique_ptr<CompoundStorage> {
        if (joined)
            CoUninitialize();
        error = why;
        return nullptr;
    };
    if (size == 0)
        return fail("empty input");
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, size);
    if (!memory)
        return fail("out of memory");
    void *target = GlobalLock(memory);
    std::memcpy(target, data, size);
    GlobalUnlock(memory);
    ComRef<ILockBytes> bytes;
    if (FAILED(CreateILockBytesOnHGlobal(memory, TRUE, bytes.put()))) {
        GlobalFree(memory);
        return fail("out of memory");
    }
    ComRef<IStorage> root;
    const HRESULT result = StgOpenStorageOnILockBytes(bytes.get(), nullptr, STGM_READ | STGM_SHARE_DENY_WRITE,
                                                      nullptr, 0, root.put());
    if (FAILED(result))
        return fail("not a compound file: " + hresultText(result));
    return std::make_unique<StgStorage>(root.release(), bytes.release(), joined);
}

} // namespace vantoril
