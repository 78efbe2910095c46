#ifndef READERLIBRARY_H
#define READERLIBRARY_H

#include "exportrecord.h"
#include "fileidentity.h"

#include <QLibrary>
#include <QString>

// The property-reader library of one export run: loaded from the program folder,
// asked about one installer per call. read() may run on several threads at once.
class ReaderLibrary
{
public:
    // What the library's entry point returns for one file.
    enum Status {
        Read = 0,                // the file was read
        NotReadable = 1,         // it could not be opened, or not read to its end
        PathRefused = 2,         // the path was not acceptable
        InternalError = 3,       // the library failed inside
        SignatureNotTrusted = 4, // read, but the signer was withheld: the signature is not trusted
        Cancelled = 5,           // cancel() ended the call early
    };

    struct Result
    {
        SoftwareProperties values;
        int status = InternalError;
        // Why the values came out as they did (the library's outcome text), where it says.
        QString reason;
        // Seconds since 1970: the values hold while validFrom <= now < validUntil. An
        // empty span (a library that does not say) means they hold for this call only.
        qint64 validFrom = 0;
        qint64 validUntil = 0;
        // The file that was read, as it was when opened; not valid when the library
        // opened it by its path itself (an older library), and then nothing can be kept.
        FileIdentity identity;
        // Its size or times differed once the read was over: the values may mix two contents.
        bool changedWhileRead = false;
        // The installer's maker as the library numbers it (InstallerKind), -1 when it does not say.
        int installerKind = -1;
        // Lower-case hex, only with setHashes(true) and a library that computes them.
        QString sha256;
        QString authenticodeSha256;
    };

    // The library's numbers for the installer kinds.
    enum InstallerKind {
        OtherKind = 0,
        MsiKind = 1,
        NsisKind = 2,
        InnoSetupKind = 3,
        WixBundleKind = 4,
        InstallShieldKind = 5,
        SquirrelKind = 6,
        SelfExtractingKind = 7,
    };
    // The name of a kind for reports; empty for -1 (not known).
    static QString installerKindName(int kind);

    ReaderLibrary();
    ReaderLibrary(const ReaderLibrary &) = delete;
    ReaderLibrary &operator=(const ReaderLibrary &) = delete;

    // Loads the library beside the program and resolves its entry points, logging
    // the outcome; false when it cannot be loaded or lacks the entry point.
    bool load();
    QString fileName() const;

    // Asks the library about one installer; path must be shorter than maxPathUnits.
    Result read(const QString &path) const;
    // Set before the reads: each read also computes the file's SHA-256 and its Authenticode SHA-256.
    void setHashes(bool on);
    // Whether the library tells the installer's kind and computes the hashes.
    bool readsMore() const;
    // Makes every call running now return early. Without the library's stop entry
    // point (an older library) the running call simply completes.
    void cancel() const;
    bool canCancel() const;

    // What the library's answers depend on besides the file: its build (the id it
    // reports, else its file's size and time) and the fingerprint of its trust anchors
    // (empty when it does not say, and then no answer may be kept).
    QString buildId() const;
    QString anchorsFingerprint() const;

    // Units of the library's path buffer, the terminator included.
    static const int maxPathUnits = 260;

    // A file that counts as "could not be read" for the user.
    static bool isUnreadable(int status);

private:
    typedef int (*PelbrookFunction)(const char16_t *, char16_t *, char16_t *, char16_t *, char16_t *, char16_t *,
                                    char16_t *);
    typedef void (*CancelFunction)();
    typedef int (*ReadFunction)(const char16_t *, char16_t *, char16_t *, char16_t *, char16_t *, char16_t *,
                                char16_t *, char *, size_t, long long *, long long *);
    typedef int (*ReadOpenedFunction)(intptr_t, const char16_t *, char16_t *, char16_t *, char16_t *, char16_t *,
                                      char16_t *, char16_t *, char *, size_t, long long *, long long *);
    typedef int (*TextFunction)(char *, size_t);
    typedef int (*ReadMoreFunction)(intptr_t, const char16_t *, char16_t *, char16_t *, char16_t *, char16_t *, char16_t *,
                                    char16_t *, char *, size_t, long long *, long long *, unsigned, int *, char *,
                                    char *);

    QLibrary library;
    PelbrookFunction pelbrook = nullptr;
    CancelFunction pelbrookCancel = nullptr;
    ReadFunction pelbrookRead = nullptr;
    ReadOpenedFunction pelbrookReadOpened = nullptr;
    TextFunction pelbrookBuildId = nullptr;
    TextFunction pelbrookAnchorsFingerprint = nullptr;
    ReadMoreFunction pelbrookReadMore = nullptr;
    bool hashes = false;
};

#endif
