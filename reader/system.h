#ifndef VANTORIL_SYSTEM_H
#define VANTORIL_SYSTEM_H

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

// Every difference between operating systems lives here. The library cannot use
// the application's platform layer, so it keeps its own, free of Qt.
#if defined(_WIN32)
#define VANTORIL_EXPORT __declspec(dllexport)
#else
#define VANTORIL_EXPORT __attribute__((visibility("default")))
#endif

namespace vantoril {

// A regular file opened for reading; anything else (a folder, a pipe, a device)
// is refused at open so that no read can block or misbehave later.
class File
{
public:
    File() = default;
    ~File();
    File(const File &) = delete;
    File &operator=(const File &) = delete;

    bool open(const std::u16string &path, std::string &error);
    // Reads the file the caller has open (a descriptor, on Windows a HANDLE), through a
    // duplicate of its own, so that what is read is the very file the caller identified.
    bool adopt(std::intptr_t handle, std::string &error);
    // A name that opens this same file again for a reader that takes only names (the
    // MSI storage library): on Linux its entry under /proc; elsewhere the path.
    std::string reopenPath(const std::u16string &path) const;
    std::uint64_t size() const { return length; }
    bool readAt(std::uint64_t offset, void *dst, std::size_t len) const;

private:
    // Takes an open descriptor or handle: refused unless it is a regular file.
    bool take(std::intptr_t handle, std::string &error);

    // A file descriptor, or on Windows the HANDLE; -1 when closed.
    std::intptr_t descriptor = -1;
    std::uint64_t length = 0;
    // The file's first bytes, read at open: the headers and tables of an image are
    // read a few bytes at a time, and a small installer lies here whole.
    std::vector<std::uint8_t> head;
};

// The path in the form the C libraries take: UTF-8 here, with the caller's escaped
// bytes (see fileNameBytes) turned back into the bytes of the name.
std::string nativePath(const std::u16string &path);

bool isPathSeparator(char16_t c);

// The library's own log file, the same place the program removes at exit: see logplace.h.
std::string logFilePath();

// The library's log never grows past this: a program that runs it over and over
// (a scheduled export) would otherwise fill the temporary folder.
constexpr std::uint64_t logLimitBytes = 8 << 20;

// Appends one line (a newline is added) to the file openLogFile gives (logplace.h),
// within logLimitBytes. Logging must never stop a read, so failures are ignored.
void appendLogLine(const std::string &line);

std::string localTimestamp();

// A UTC calendar time and back (timegm and gmtime_r, which not every C library has).
std::time_t utcSeconds(std::tm &parts);
bool utcParts(std::time_t when, std::tm &parts);

// Converts text stored in a Windows code page; false when the bytes are not
// valid in it or the code page is unknown.
bool decodeCodePage(unsigned codePage, const std::string &bytes, std::u16string &text);

// The file of this library (or of the program it is linked into), and its folder; empty when unknown.
std::string libraryFile();
std::string libraryFolder();

// A text that changes whenever an entry directly inside the folder is added, removed,
// replaced or changed (name, size and times of each); empty for a missing folder.
std::string folderStamp(const std::string &folder);

// The certificates (DER) of one of the operating system's own certificate stores:
// "ROOT" (the anchors it trusts) or "Disallowed" (those it never trusts). False
// where the system keeps no such store; OpenSSL's default store stands in for ROOT.
bool systemStoreCertificates(const char *store, std::vector<std::string> &certificates);

// The contents of the regular files directly inside a folder, skipping hidden
// ones and any larger than sizeLimit; at most countLimit entries are looked at.
std::vector<std::string> smallFilesIn(const std::string &folder, std::size_t sizeLimit, std::size_t countLimit);

} // namespace vantoril

#endif
