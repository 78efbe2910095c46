#include "system.h"

#include "logplace.h"
#include "text.h"

#include <algorithm>
#include <climits>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <iconv.h>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantoril {

namespace {

// Beyond this the rest of a file is read block by block, as before.
constexpr std::uint64_t headSize = 64 << 10;

} // namespace

File::~File()
{
    if (descriptor >= 0)
        ::close(descriptor);
}

bool File::open(const std::u16string &path, std::string &error)
{
    // O_NONBLOCK keeps a FIFO with an installer's name from hanging the open.
    const int fd = ::open(nativePath(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    return take(fd, error);
}

bool File::adopt(std::intptr_t handle, std::string &error)
{
    const int fd = handle < 0 || handle > INT_MAX ? -1 : ::fcntl(static_cast<int>(handle), F_DUPFD_CLOEXEC, 0);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    return take(fd, error);
}

std::string File::reopenPath(const std::u16string &path) const
{
    if (descriptor >= 0) {
        const std::string own = "/proc/self/fd/" + std::to_string(descriptor);
        if (::access(own.c_str(), R_OK) == 0)
            return own;
    }
    return nativePath(path);
}

bool File::take(std::intptr_t handle, std::string &error)
{
    const int fd = static_cast<int>(handle);
    struct stat info;
    if (::fstat(fd, &info) != 0) {
        error = std::strerror(errno);
        ::close(fd);
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        error = S_ISDIR(info.st_mode) ? "is a folder" : "not a regular file";
        ::close(fd);
        return false;
    }
    descriptor = fd;
    length = static_cast<std::uint64_t>(info.st_size);
    // A short read (the file shrank meanwhile) keeps nothing: every read then goes to the file.
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
        const ssize_t got = ::pread(descriptor, out, len, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        out += got;
        offset += static_cast<std::uint64_t>(got);
        len -= static_cast<std::size_t>(got);
    }
    return true;
}

std::string nativePath(const std::u16string &path)
{
    return fileNameBytes(path);
}

bool isPathSeparator(char16_t c)
{
    return c == u'/';
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
    const int fd = static_cast<int>(openLogFile());
    if (fd < 0)
        return;
    while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
    // Bounded: a log that would pass its limit starts again, so it keeps the latest lines.
    struct stat info;
    if (::fstat(fd, &info) == 0 && static_cast<std::uint64_t>(info.st_size) + text.size() > logLimitBytes)
        (void)::ftruncate(fd, 0);
    // Still one write per line, for writers that do not lock.
    ssize_t written = ::write(fd, text.data(), text.size());
    (void)written;
    ::close(fd);
}

std::time_t utcSeconds(std::tm &parts)
{
    return timegm(&parts);
}

bool utcParts(std::time_t when, std::tm &parts)
{
    return gmtime_r(&when, &parts) != nullptr;
}

std::string localTimestamp()
{
    const std::time_t now = std::time(nullptr);
    std::tm parts;
    char text[32] = {};
    if (localtime_r(&now, &parts))
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
    return text;
}

bool decodeCodePage(unsigned codePage, const std::string &bytes, std::u16string &text)
{
    std::string name;
    switch (codePage) {
    case 65001: name = "UTF-8"; break;
    case 1200: name = "UTF-16LE"; break;
    case 1201: name = "UTF-16BE"; break;
    case 20127: name = "ASCII"; break;
    case 28591: name = "ISO-8859-1"; break;
    default: name = "CP" + std::to_string(codePage); break;
    }
    iconv_t converter = iconv_open("UTF-16LE", name.c_str());
    if (converter == reinterpret_cast<iconv_t>(-1))
        return false;

    std::string input = bytes;
    std::u16string output(bytes.size() + 1, u'\0');
    char *in = input.data();
    std::size_t inLeft = input.size();
    char *out = reinterpret_cast<char *>(output.data());
    std::size_t outLeft = output.size() * sizeof(char16_t);
    const std::size_t result = iconv(converter, &in, &inLeft, &out, &outLeft);
    iconv_close(converter);
    if (result == static_cast<std::size_t>(-1) || inLeft != 0)
        return false;

    // Never more units than input bytes in any code page, so the buffer always suffices.
    const std::size_t units = output.size() - outLeft / sizeof(char16_t);
    // Assemble the units from the little-endian bytes, whatever the host's order.
    std::u16string decoded;
    decoded.reserve(units);
    const auto *raw = reinterpret_cast<const unsigned char *>(output.data());
    for (std::size_t i = 0; i < units; ++i)
        decoded.push_back(static_cast<char16_t>(raw[2 * i] | (raw[2 * i + 1] << 8)));
    text = decoded;
    return true;
}

std::string libraryFile()
{
    Dl_info info;
    if (::dladdr(reinterpret_cast<void *>(&libraryFile), &info) == 0 || !info.dli_fname)
        return {};
    return info.dli_fname;
}

std::string libraryFolder()
{
    const std::string path = libraryFile();
    const std::size_t slash = path.rfind('/');
    // Never the current folder: anchors must not depend on where the caller happens to be.
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string folderStamp(const std::string &folder)
{
    // The system's folder holds a few hundred links; far more is not a certificate folder.
    constexpr std::size_t entryLimit = 100000;
    DIR *directory = ::opendir(folder.c_str());
    if (!directory)
        return {};
    std::vector<std::string> lines;
    while (const dirent *entry = ::readdir(directory)) {
        if (lines.size() >= entryLimit)
            break;
        struct stat info {};
        // Followed, so that a link whose certificate file changed counts as changed.
        if (::fstatat(::dirfd(directory), entry->d_name, &info, 0) != 0)
            continue;
        lines.push_back(std::string(entry->d_name) + " " + std::to_string(info.st_size) + " "
                        + std::to_string(info.st_mtim.tv_sec) + "." + std::to_string(info.st_mtim.tv_nsec) + " "
                        + std::to_string(info.st_ctim.tv_sec) + "." + std::to_string(info.st_ctim.tv_nsec));
    }
    ::closedir(directory);
    std::sort(lines.begin(), lines.end());
    std::string stamp;
    for (const std::string &line : lines)
        stamp += line + "\n";
    return stamp;
}

bool systemStoreCertificates(const char *, std::vector<std::string> &)
{
    return false;
}

std::vector<std::string> smallFilesIn(const std::string &folder, std::size_t sizeLimit, std::size_t countLimit)
{
    std::vector<std::string> contents;
    DIR *directory = ::opendir(folder.c_str());
    if (!directory)
        return contents;
    std::size_t seen = 0;
    while (const dirent *entry = ::readdir(directory)) {
        if (++seen > countLimit)
            break;
        if (entry->d_name[0] == '.')
            continue;
        const std::string path = folder + "/" + entry->d_name;
        // Only regular files, and without blocking on a pipe.
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0)
            continue;
        struct stat info;
        if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && static_cast<std::uint64_t>(info.st_size) <= sizeLimit) {
            std::string content(static_cast<std::size_t>(info.st_size), '\0');
            if (::pread(fd, content.data(), content.size(), 0) == static_cast<ssize_t>(content.size()))
                contents.push_back(std::move(content));
        }
        ::close(fd);
    }
    ::closedir(directory);
    return contents;
}

} // namespace vantoril
