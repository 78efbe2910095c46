#include "system.h"

#include "logplace.h"
#include "text.h"

#include <windows.h>

#include <wincrypt.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>

namespace vantoril {

namespace {

// Beyond this the rest of a file is read block by block, as before.
constexpr std::uint64_t headSize = 64 << 10;
// ReadFile takes a 32-bit length.
constexpr std::size_t readLimit = 1u << 30;

HANDLE handleOf(std::intptr_t descriptor)
{
    return reinterpret_cast<HANDLE>(descriptor);
}

std::wstring wide(const std::u16string &text)
{
    return std::wstring(text.begin(), text.end());
}

std::wstring wideFromUtf8(const std::string &text)
{
    return wide(utf8ToUtf16(text));
}

std::string utf8FromWide(const wchar_t *text, std::size_t size)
{
    return utf16ToUtf8(std::u16string(text, text + size));
}

// Absolute paths past the old length limit need the \\?\ form, which takes backslashes only.
std::wstring longPath(std::wstring path)
{
    std::replace(path.begin(), path.end(), L'/', L'\\');
    if (path.size() < MAX_PATH - 12 || path.rfind(L"\\\\?\\", 0) == 0)
        return path;
    if (path.rfind(L"\\\\", 0) == 0)
        return L"\\\\?\\UNC\\" + path.substr(2);
    if (path.size() > 2 && path[1] == L':')
        return L"\\\\?\\" + path;
    return path;
}

std::string lastError()
{
    const DWORD code = GetLastError();
    wchar_t *text = nullptr;
    const DWORD size = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM
                                          | FORMAT_MESSAGE_IGNORE_INSERTS,
                                      nullptr, code, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                                      reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    std::string message = size ? utf8FromWide(text, size) : "error " + std::to_string(code);
    LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == '.'))
        message.pop_back();
    return message;
}

struct HandleCloser
{
    void operator()(HANDLE handle) const
    {
        if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
    }
};
using Handle = std::unique_ptr<void, HandleCloser>;

} // namespace

File::~File()
{
    if (descriptor != -1)
        CloseHandle(handleOf(descriptor));
}

bool File::open(const std::u16string &path, std::string &error)
{
    // Others may go on writing, renaming or deleting the file while it is read, as they can on Linux.
    HANDLE handle = CreateFileW(longPath(wide(path)).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error = lastError();
        return false;
    }
    return take(reinterpret_cast<std::intptr_t>(handle), error);
}

bool File::adopt(std::intptr_t handle, std::string &error)
{
    HANDLE own = INVALID_HANDLE_VALUE;
    if (!DuplicateHandle(GetCurrentProcess(), handleOf(handle), GetCurrentProcess(), &own, 0, FALSE,
                         DUPLICATE_SAME_ACCESS)) {
        error = lastError();
        return false;
    }
    return take(reinterpret_cast<std::intptr_t>(own), error);
}

std::string File::reopenPath(const std::u16string &path) const
{
    // The caller's handle shares no deletion, so the name cannot be moved to another file meanwhile.
    return nativePath(path);
}

bool File::take(std::intptr_t opened, std::string &error)
{
    HANDLE handle = handleOf(opened);
    Handle owner(handle);
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info)) {
        error = lastError();
        return false;
    }
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        error = "is a folder";
        return false;
    }
    // A pipe or a device with an installer's name could block a read.
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        error = "not a regular file";
        return false;
    }
    descriptor = reinterpret_cast<std::intptr_t>(owner.release());
    length = (std::uint64_t(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    std::vector<std::uint8_t> start(static_cast<std::size_t>(std::min<std::uint64_t>(length, headSize)));
    if (!start.empty() && readAt(0, start.data(), start.size()))
        head.swap(start);
    return true;
}

bool File::readAt(std::uint64_t offset, void *dst, std::size_t len) const
{
    if (offset <= head.size() && len <= head.size() - offset) {
        std::memcpy(dst, head.data() + offset, len);
        return true;
    }
    auto *out = static_cast<unsigned char *>(dst);
    while (len > 0) {
        OVERLAPPED at = {};
        at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD got = 0;
        if (!ReadFile(handleOf(descriptor), out, static_cast<DWORD>(std::min(len, readLimit)), &got, &at) || got == 0)
            return false;
        out += got;
        offset += got;
        len -= got;
    }
    return true;
}

std::string nativePath(const std::u16string &path)
{
    return utf16ToUtf8(path);
}

bool isPathSeparator(char16_t c)
{
    return c == u'/' || c == u'\\';
}

std::string logFilePath()
{
    return findLogPlace().path;
}

void appendLogLine(const std::string &line)
{
    // Calls run on several threads at once, and several programs may share the file:
    // one line at a time within this process, and the file locked against the others.
    static std::mutex logMutex;
    const std::string text = line + "\n";
    const std::lock_guard<std::mutex> lock(logMutex);
    const std::intptr_t opened = openLogFile();
    if (opened == -1)
        return;
    Handle owner(handleOf(opened));
    OVERLAPPED whole = {};
    if (!LockFileEx(owner.get(), LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole))
        return;
    // Bounded: the handle may only append, so a full log takes no more lines.
    LARGE_INTEGER size;
    DWORD written = 0;
    if (GetFileSizeEx(owner.get(), &size) && std::uint64_t(size.QuadPart) + text.size() <= logLimitBytes)
        WriteFile(owner.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    UnlockFileEx(owner.get(), 0, MAXDWORD, MAXDWORD, &whole);
}

std::time_t utcSeconds(std::tm &parts)
{
    return _mkgmtime(&parts);
}

bool utcParts(std::time_t when, std::tm &parts)
{
    return gmtime_s(&parts, &when) == 0;
}

std::string localTimestamp()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    char text[32] = {};
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", now.wYear, now.wMonth, now.wDay, now.wHour,
                  now.wMinute, now.wSecond);
    return text;
}

bool decodeCodePage(unsigned codePage, const std::string &bytes, std::u16string &text)
{
    if (bytes.empty()) {
        text.clear();
        return true;
    }
    // The system has no code page for UTF-16; read the units straight.
    if (codePage == 1200 || codePage == 1201) {
        if (bytes.size() % 2 != 0)
            return false;
        std::u16string decoded;
        for (std::size_t i = 0; i < bytes.size(); i += 2) {
            const unsigned char a = static_cast<unsigned char>(bytes[i]);
            const unsigned char b = static_cast<unsigned char>(bytes[i + 1]);
            decoded.push_back(static_cast<char16_t>(codePage == 1200 ? (a | (b << 8)) : ((a << 8) | b)));
        }
        text = decoded;
        return true;
    }
    if (bytes.size() > static_cast<std::size_t>(INT32_MAX))
        return false;
    const int size = static_cast<int>(bytes.size());
    const int units = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(), size, nullptr, 0);
    if (units <= 0)
        return false;
    std::wstring decoded(static_cast<std::size_t>(units), L'\0');
    if (MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(), size, decoded.data(), units) != units)
        return false;
    text.assign(decoded.begin(), decoded.end());
    return true;
}

namespace {

std::wstring libraryFileWide()
{
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&libraryFileWide), &module))
        return {};
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD size = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
        if (size == 0)
            return {};
        if (size < path.size()) {
            path.resize(size);
            break;
        }
        if (path.size() >= 32768)
            return {};
        path.resize(path.size() * 2);
    }
    return path;
}

} // namespace

std::string libraryFile()
{
    const std::wstring path = libraryFileWide();
    return utf8FromWide(path.data(), path.size());
}

std::string libraryFolder()
{
    const std::wstring path = libraryFileWide();
    const std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::string() : utf8FromWide(path.data(), slash);
}

// Windows' anchors come from its certificate stores, never from a folder looked up on demand.
std::string folderStamp(const std::string &)
{
    return {};
}

bool systemStoreCertificates(const char *store, std::vector<std::string> &certificates)
{
    // The user's logical store holds the machine's, those group policy deployed and
    // the enterprise's; the machine's own is read too for a service account's view.
    const std::wstring name = wideFromUtf8(store);
    bool opened = false;
    for (DWORD location : {CERT_SYSTEM_STORE_CURRENT_USER, CERT_SYSTEM_STORE_LOCAL_MACHINE}) {
        HCERTSTORE handle = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                          location | CERT_STORE_OPEN_EXISTING_FLAG | CERT_STORE_READONLY_FLAG,
                                          name.c_str());
        if (!handle)
            continue;
        opened = true;
        for (PCCERT_CONTEXT certificate = CertEnumCertificatesInStore(handle, nullptr); certificate;
             certificate = CertEnumCertificatesInStore(handle, certificate))
            certificates.emplace_back(reinterpret_cast<const char *>(certificate->pbCertEncoded),
                                      certificate->cbCertEncoded);
        CertCloseStore(handle, 0);
    }
    return opened;
}

std::vector<std::string> smallFilesIn(const std::string &folder, std::size_t sizeLimit, std::size_t countLimit)
{
    std::vector<std::string> contents;
    const std::wstring base = wideFromUtf8(folder);
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((base + L"\\*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE)
        return contents;
    std::size_t seen = 0;
    do {
        if (++seen > countLimit)
            break;
        if (entry.cFileName[0] == L'.'
            || (entry.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)))
            continue;
        HANDLE file = CreateFileW((base + L"\\" + entry.cFileName).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            continue;
        Handle owner(file);
        LARGE_INTEGER size;
        if (GetFileType(file) != FILE_TYPE_DISK || !GetFileSizeEx(file, &size) || size.QuadPart < 0
            || static_cast<std::uint64_t>(size.QuadPart) > sizeLimit)
            continue;
        std::string content(static_cast<std::size_t>(size.QuadPart), '\0');
        DWORD got = 0;
        if (content.empty()
            || (ReadFile(file, content.data(), static_cast<DWORD>(content.size()), &got, nullptr)
                && got == content.size()))
            contents.push_back(std::move(content));
    } while (FindNextFileW(search, &entry));
    FindClose(search);
    return contents;
}

} // namespace vantoril
