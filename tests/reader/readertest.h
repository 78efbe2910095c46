#ifndef READERTEST_H
#define READERTEST_H

// What the reader's tests share: the fixture files (made once per test run by
// tests/fixtures/make-fixtures.sh, see CMakeLists.txt), the reader called as the library
// calls it but against anchors of the test's own, files built byte by byte, and the
// independent tools the answers are checked against.

#include "anchors.h"
#include "authenticode.h"
#include "properties.h"
#include "signaturecache.h"

#include <QtTest>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <memory>
#include <string>

namespace readertest {

inline QString fixtureFolder()
{
    return qEnvironmentVariable("PELBROOK_READER_FIXTURES");
}

inline QString fixture(const QString &name)
{
    return QDir(fixtureFolder()).filePath(name);
}

// The fixtures must exist before anything is read; CTest's fixture step makes them.
inline bool fixturesMade()
{
    return !fixtureFolder().isEmpty() && QFileInfo::exists(fixture(QStringLiteral("trust/root.pem")));
}

inline QString run(const QString &program, const QStringList &arguments, int *exitCode = nullptr,
                   int timeout = 60000)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    process.waitForFinished(timeout);
    if (exitCode)
        *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return QString::fromUtf8(process.readAll());
}

// The first word of `md5sum FILE` or `sha256sum FILE`.
inline QString checksum(const QString &tool, const QString &path)
{
    return run(tool, {path}).section(QLatin1Char(' '), 0, 0);
}

// What one read gave. status is the one the library's entry points report: 0 read,
// 1 not read, 4 read with the signer withheld.
struct Values
{
    int result = -1;
    QString signature, productName, processName, originalFileName, md5, description;
    QString outcome;
    int kind = -1;
    QString sha256, authenticodeSha256;
    qint64 validFrom = 0;
    qint64 validUntil = 0;
};

// The reader against the system's store, the bundled roots and the test root in the
// `trust` folder of a private program folder, with a signature cache of its own.
class Reading
{
public:
    bool init()
    {
        if (!program.isValid() || !scratch.isValid() || !QDir(program.path()).mkpath(QStringLiteral("trust"))
            || !QFile::copy(fixture(QStringLiteral("trust/root.pem")), program.filePath(QStringLiteral("trust/root.pem"))))
            return false;
        anchors = std::make_unique<vantoril::Anchors>(QFile::encodeName(program.filePath(QStringLiteral("trust"))).toStdString());
        return true;
    }

    const vantoril::Anchors &trust() const { return *anchors; }

    Values read(const QString &path, bool hashes = false) { return readWith(*anchors, signatures, path, hashes); }

    // The same against other anchors, with a cache of their own.
    static Values readWith(const vantoril::Anchors &anchors, vantoril::SignatureCache &signatures, const QString &path,
                           bool hashes = false)
    {
        const vantoril::CryptoScope cryptoScope;
        vantoril::FileProperties properties;
        std::string outcome;
        vantoril::ReadOptions options;
        options.hashes = hashes;
        const bool read =
            vantoril::readFileProperties(path.toStdU16String(), anchors, signatures, properties, outcome, nullptr, options);
        Values values;
        values.result = !read ? 1 : properties.signerWithheld ? 4 : 0;
        values.signature = QString::fromStdU16String(properties.signature);
        values.productName = QString::fromStdU16String(properties.productName);
        values.processName = QString::fromStdU16String(properties.processName);
        values.originalFileName = QString::fromStdU16String(properties.originalFileName);
        values.md5 = QString::fromStdU16String(properties.md5);
        values.description = QString::fromStdU16String(properties.description);
        values.outcome = QString::fromStdString(outcome);
        values.kind = static_cast<int>(properties.kind);
        values.sha256 = QString::fromStdString(properties.sha256);
        values.authenticodeSha256 = QString::fromStdString(properties.authenticodeSha256);
        values.validFrom = properties.validFrom;
        values.validUntil = properties.validUntil;
        return values;
    }

    QString scratchPath(const QString &name) const { return scratch.filePath(name); }

    QString writeFile(const QString &name, const QByteArray &data) const
    {
        const QString path = scratch.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size())
            return {};
        return path;
    }

private:
    QTemporaryDir program;
    QTemporaryDir scratch;
    std::unique_ptr<vantoril::Anchors> anchors;
    vantoril::SignatureCache signatures;
};

// Reads a signed fixture twice (the second time the verdict comes from the cache and must
// be the same) and has osslsigncode, with the test root as the anchor for signatures and
// timestamps alike, come to the same verdict.
inline void checkSignature(Reading &reading, const QString &file, const QString &signer, int status)
{
    for (int pass = 0; pass < 2; ++pass) {
        const Values values = reading.read(fixture(file));
        QCOMPARE(values.result, status);
        QCOMPARE(values.signature, signer);
    }
    int exitCode = -1;
    run(QStringLiteral("osslsigncode"),
        {"verify", "-CAfile", fixture("test-certs.pem"), "-TSA-CAfile", fixture("test-certs.pem"), "-in", fixture(file)},
        &exitCode);
    QCOMPARE(exitCode == 0, !signer.isEmpty());
}

// Little-endian writers for files built in code.
inline void put16(QByteArray &data, int offset, quint16 value)
{
    data[offset] = char(value & 0xFF);
    data[offset + 1] = char(value >> 8);
}

inline void put32(QByteArray &data, int offset, quint32 value)
{
    for (int i = 0; i < 4; ++i)
        data[offset + i] = char((value >> (8 * i)) & 0xFF);
}

inline quint32 get32(const QByteArray &data, int offset)
{
    quint32 value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | quint8(data[offset + i]);
    return value;
}

inline QByteArray utf16z(const QString &text, bool terminated = true)
{
    QByteArray bytes;
    for (QChar c : text) {
        bytes.append(char(c.unicode() & 0xFF));
        bytes.append(char(c.unicode() >> 8));
    }
    if (terminated)
        bytes.append(2, '\0');
    return bytes;
}

inline void pad4(QByteArray &data)
{
    while (data.size() % 4)
        data.append('\0');
}

// One version-information block: wLength, wValueLength, wType, key, value, children.
inline QByteArray versionBlock(const QString &key, const QByteArray &value, const QList<QByteArray> &children,
                               quint16 valueLength, quint16 type = 1)
{
    QByteArray block(6, '\0');
    block += utf16z(key);
    pad4(block);
    block += value;
    for (const QByteArray &child : children) {
        pad4(block);
        block += child;
    }
    put16(block, 0, quint16(block.size()));
    put16(block, 2, valueLength);
    put16(block, 4, type);
    return block;
}

// A version resource with one US English table whose last string is ProductName.
inline QByteArray versionResource(const QString &product, bool terminated = true)
{
    const QByteArray value = utf16z(product, terminated);
    const QByteArray productString = versionBlock("ProductName", value, {}, quint16(value.size() / 2));
    const QByteArray table = versionBlock("040904B0", {}, {productString}, 0);
    const QByteArray stringInfo = versionBlock("StringFileInfo", {}, {table}, 0);
    QByteArray fixed(52, '\0');
    put32(fixed, 0, 0xFEEF04BD);
    return versionBlock("VS_VERSION_INFO", fixed, {stringInfo}, 52, 0);
}

// Microsoft PE format offsets of the minimal PE32 image built below.
constexpr int peHeader = 0x40;
constexpr int optionalHeader = peHeader + 24;
constexpr int sectionTable = optionalHeader + 0xE0;
constexpr int rawData = 0x200;
constexpr quint32 sectionRva = 0x1000;
constexpr int resourceData = 0x58;

// A PE32 image with one .rsrc section holding the version resource as the last bytes of the file.
inline QByteArray peWithVersion(const QByteArray &version, quint32 declaredSize)
{
    QByteArray file(rawData, '\0');
    file[0] = 'M';
    file[1] = 'Z';
    put32(file, 0x3C, peHeader);
    put32(file, peHeader, 0x00004550);
    put16(file, peHeader + 4, 0x14C);
    put16(file, peHeader + 6, 1);
    put16(file, peHeader + 20, 0xE0);
    put16(file, optionalHeader, 0x10B);
    put32(file, optionalHeader + 60, rawData);
    put32(file, optionalHeader + 92, 16);
    put32(file, optionalHeader + 96 + 2 * 8, sectionRva);
    put32(file, optionalHeader + 96 + 2 * 8 + 4, resourceData + quint32(version.size()));

    QByteArray tree(resourceData, '\0');
    put16(tree, 0x00 + 14, 1);
    put32(tree, 0x10, 16);
    put32(tree, 0x14, 0x80000000u | 0x18);
    put16(tree, 0x18 + 14, 1);
    put32(tree, 0x28, 1);
    put32(tree, 0x2C, 0x80000000u | 0x30);
    put16(tree, 0x30 + 14, 1);
    put32(tree, 0x40, 0x0409);
    put32(tree, 0x44, 0x48);
    put32(tree, 0x48, sectionRva + resourceData);
    put32(tree, 0x4C, declaredSize);
    const QByteArray section = tree + version;

    const quint32 sectionSize = quint32(section.size());
    memcpy(file.data() + sectionTable, ".rsrc", 5);
    put32(file, sectionTable + 8, sectionSize);
    put32(file, sectionTable + 12, sectionRva);
    put32(file, sectionTable + 16, sectionSize);
    put32(file, sectionTable + 20, rawData);
    return file + section;
}

} // namespace readertest

#endif
