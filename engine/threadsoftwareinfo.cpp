#include "threadsoftwareinfo.h"

#include "exportrecord.h"
#include "platform.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QLibrary>

#include <cstring>

namespace {

// Each of the library's seven string buffers holds this many UTF-16 units, terminator included.
const int readerBufferUnits = 260;

typedef int (*PelbrookFunction)(const char16_t *, char16_t *, char16_t *, char16_t *, char16_t *, char16_t *,
                                char16_t *);

// Reads up to the first zero, but never past the buffer, whatever the library left in it.
QString bufferText(const char16_t *buffer)
{
    int length = 0;
    while (length < readerBufferUnits && buffer[length] != 0)
        ++length;
    return QString::fromUtf16(buffer, length);
}

bool isInstaller(const QString &filePath)
{
    const QString extension = filePath.right(4).toLower();
    return extension == QLatin1String(".exe") || extension == QLatin1String(".msi");
}

} // namespace

ThreadSoftwareInfo::ThreadSoftwareInfo(QObject *parent)
    : QThread(parent)
{
}

ThreadSoftwareInfo::~ThreadSoftwareInfo() = default;

void ThreadSoftwareInfo::startExtract(QString srcPath, QString dstPath, QList<QString> fileList)
{
    {
        QMutexLocker locker(&mutex);
        this->srcPath = srcPath;
        this->dstPath = dstPath;
        this->fileList = fileList;
        copySucceeded = false;
    }
    start(QThread::InheritPriority);
}

bool ThreadSoftwareInfo::isCopySucceeded()
{
    QMutexLocker locker(&mutex);
    return copySucceeded;
}

int ThreadSoftwareInfo::tooLongPathCount()
{
    QMutexLocker locker(&mutex);
    return skippedPaths;
}

void ThreadSoftwareInfo::stopExtract()
{
    QMutexLocker locker(&mutex);
    stopRequested = true;
}

bool ThreadSoftwareInfo::isStopRequested()
{
    QMutexLocker locker(&mutex);
    return stopRequested;
}

void ThreadSoftwareInfo::run()
{
    qDebug() << "ThreadSoftwareInfo::run=start";
    QString srcPath;
    QString dstPath;
    QList<QString> fileList;
    {
        QMutexLocker locker(&mutex);
        srcPath = this->srcPath;
        dstPath = this->dstPath;
        fileList = this->fileList;
    }
    qDebug() << "ThreadSoftwareInfo::run=srcPath:" << srcPath << " dstPath:" << dstPath;

    if (!QDir(srcPath).exists()) {
        qDebug() << "ThreadSoftwareInfo::run=dir not exists" << srcPath;
        emit signal_extractFailed(SourceFolderMissing, srcPath);
        return;
    }

    QLibrary library;
    library.setFileName(QCoreApplication::applicationDirPath() + QLatin1Char('/') + Platform::readerLibraryBaseName());
    if (!library.load()) {
        qDebug() << "Load DLL Fail" << library.errorString();
        emit signal_extractFailed(ReaderNotLoadable, library.fileName());
        return;
    }
    qDebug() << "lib load success";
    const auto pelbrook = reinterpret_cast<PelbrookFunction>(library.resolve("pelbrook"));
    if (!pelbrook) {
        qDebug() << library.errorString();
        emit signal_extractFailed(ReaderNotLoadable, library.fileName());
        return;
    }
    qDebug() << "function success";

    QString csvText = ExportRecord::headerLine();

    QList<QString> folderRows;
    const QFileInfoList entries = QDir(srcPath).entryInfoList();
    for (const QFileInfo &entry : entries) {
        if (entry.fileName() == QLatin1String(".") || entry.fileName() == QLatin1String(".."))
            continue;
        if (entry.isDir())
            folderRows.append(ExportRecord::folderRow(entry));
    }

    char16_t input[readerBufferUnits] = {};
    char16_t outputs[6][readerBufferUnits] = {};

    const QString root = QDir(srcPath).path();
    const QString rootPrefix = root.endsWith(QLatin1Char('/')) ? root : root + QLatin1Char('/');
    QList<QString> parentIds;
    int tooLong = 0;
    const int n = fileList.size();
    for (int i = 0; i < n; ++i) {
        // Checked between files: a stop never cuts a library call or a progress record short.
        if (isStopRequested()) {
            qDebug() << "ThreadSoftwareInfo::run=stopped";
            return;
        }
        const QString &f = fileList.at(i);
        if (!isInstaller(f))
            continue;
        if (f.size() >= readerBufferUnits) {
            qDebug() << "ThreadSoftwareInfo::run=path too long" << f;
            ++tooLong;
            continue;
        }

        std::memcpy(input, f.utf16(), sizeof(char16_t) * f.size());
        input[f.size()] = 0;
        // A library that leaves an output alone must not hand on the previous file's value.
        std::memset(outputs, 0, sizeof(outputs));
        qDebug() << "ThreadSoftwareInfo::run=fun start" << f << bufferText(input);
        pelbrook(input, outputs[0], outputs[1], outputs[2], outputs[3], outputs[4], outputs[5]);
        qDebug() << "ThreadSoftwareInfo::run=fun over";

        SoftwareProperties values;
        values.qStrDigitalSign = bufferText(outputs[0]);
        values.qProductName = bufferText(outputs[1]);
        values.qProcessName = bufferText(outputs[2]);
        values.qOriginalFileName = bufferText(outputs[3]);
        values.qFileCustomMd5 = bufferText(outputs[4]);
        values.qFileDescription = bufferText(outputs[5]);
        qDebug() << "ThreadSoftwareInfo::run=fun tran" << f << values.qFileCustomMd5;

        SoftwareProperties quoted;
        quoted.qStrDigitalSign = ExportRecord::quoteField(values.qStrDigitalSign);
        quoted.qProductName = ExportRecord::quoteField(values.qProductName);
        quoted.qProcessName = ExportRecord::quoteField(values.qProcessName);
        quoted.qOriginalFileName = ExportRecord::quoteField(values.qOriginalFileName);
        quoted.qFileCustomMd5 = ExportRecord::quoteField(values.qFileCustomMd5);
        quoted.qFileDescription = ExportRecord::quoteField(values.qFileDescription);

        QString parentDir_md5;
        if (f.startsWith(rootPrefix)) {
            const QString rel = f.mid(rootPrefix.size());
            const int slash = rel.indexOf(QLatin1Char('/'));
            if (slash > 0) {
                parentDir_md5 = ExportRecord::folderId(rootPrefix + rel.left(slash));
                parentIds.append(parentDir_md5);
            }
        }

        csvText += ExportRecord::fileRow(ExportRecord::cleanName(QFileInfo(f).fileName()), quoted, parentDir_md5);
        emit signal_softwareInfoProgress(i + 1, n + 1, f, quoted.qStrDigitalSign, quoted.qProductName,
                                         quoted.qProcessName, quoted.qOriginalFileName, quoted.qFileCustomMd5,
                                         parentDir_md5, quoted.qFileDescription);
    }

    for (const QString &id : qAsConst(parentIds)) {
        for (int row = 0; row < folderRows.size(); ++row) {
            if (folderRows.at(row).contains(id)) {
                csvText += folderRows.takeAt(row);
                break;
            }
        }
    }

    if (isStopRequested()) {
        qDebug() << "ThreadSoftwareInfo::run=stopped";
        return;
    }
    QString tempFilePath;
    const ExportRecord::WorkbookOutcome outcome =
        ExportRecord::writeWorkbook(csvText, dstPath, [this] { return isStopRequested(); }, &tempFilePath);
    if (outcome == ExportRecord::WorkbookOutcome::Stopped) {
        qDebug() << "ThreadSoftwareInfo::run=stopped";
        return;
    }
    if (outcome == ExportRecord::WorkbookOutcome::TempFileNotWritable) {
        emit signal_extractFailed(TempFileNotWritable, tempFilePath);
        return;
    }

    {
        QMutexLocker locker(&mutex);
        copySucceeded = outcome == ExportRecord::WorkbookOutcome::CopySucceeded;
        skippedPaths = tooLong;
    }
    emit signal_softwareInfoProgress(n + 1, n + 1, QString(), QString(), QString(), QString(), QString(), QString(),
                                     QString(), QString());
    qDebug() << "ThreadSoftwareInfo::run=end";
}
