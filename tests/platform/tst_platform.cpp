#include "consoleinterrupt.h"
#include "folderaccess.h"
#include "platform.h"
#include "windowsentries.h"
#include "runlock.h"

#include <QtTest>

#include <csignal>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

class TestPlatform : public QObject
{
    Q_OBJECT
private slots:
    void filesystemRoot_data();
    void filesystemRoot();
    void windowsEntries_data();
    void windowsEntries();
    void windowsVolumeRoot_data();
    void windowsVolumeRoot();
    void listFolderMatchesQDir_data();
    void listFolderMatchesQDir();
    void listFolderUnreadable();
    void fileNameBytes_data();
    void fileNameBytes();
    void listFolderKeepsNameBytes();
    void runLockPlanted_data();
    void runLockPlanted();
    void accessListRefusal_data();
    void accessListRefusal();
    void folderModeRefusal_data();
    void folderModeRefusal();
    void consoleEventAnswer_data();
    void consoleEventAnswer();
};

using vantoril::AccessEntry;
using vantoril::FolderUse;
using vantoril::Trustee;
Q_DECLARE_METATYPE(std::vector<AccessEntry>)
Q_DECLARE_METATYPE(FolderUse)
Q_DECLARE_METATYPE(Trustee)

void TestPlatform::filesystemRoot_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("root");
    QTest::newRow("root") << "/" << true;
    QTest::newRow("root doubled") << "//" << true;
    QTest::newRow("root dot") << "/." << true;
    QTest::newRow("folder") << "/tmp" << false;
    QTest::newRow("folder with slash") << "/tmp/" << false;
    QTest::newRow("empty") << "" << false;
}

void TestPlatform::filesystemRoot()
{
    QFETCH(QString, path);
    QFETCH(bool, root);
    QCOMPARE(Platform::isFilesystemRoot(path), root);
}

// What the scanner makes of a folder entry on Windows, from the entry's own record;
// Wine makes no junctions, so the decision is tested here.
void TestPlatform::windowsEntries_data()
{
    QTest::addColumn<quint32>("attributes");
    QTest::addColumn<quint32>("reparseTag");
    QTest::addColumn<bool>("isDir");
    QTest::addColumn<bool>("isLink");
    const quint32 archive = 0x20;
    const quint32 hidden = 0x2;
    const quint32 folder = Platform::windowsAttributeDirectory;
    const quint32 reparse = Platform::windowsAttributeReparsePoint;
    QTest::newRow("plain file") << archive << 0u << false << false;
    QTest::newRow("plain folder") << folder << 0u << true << false;
    QTest::newRow("shortcut to a folder: a plain file") << archive << 0u << false << false;
    QTest::newRow("junction") << (folder | reparse) << Platform::windowsReparseTagMountPoint << true << true;
    QTest::newRow("hidden junction as Windows makes its own")
        << (folder | reparse | hidden) << Platform::windowsReparseTagMountPoint << true << true;
    QTest::newRow("symbolic link to a folder") << (folder | reparse) << Platform::windowsReparseTagSymlink << true
                                               << true;
    QTest::newRow("symbolic link to a file") << (archive | reparse) << Platform::windowsReparseTagSymlink << false
                                             << true;
    QTest::newRow("cloud placeholder folder: the folder itself") << (folder | reparse) << 0x9000601Au << true << false;
    QTest::newRow("deduplicated file") << (archive | reparse) << 0x80000013u << false << false;
    QTest::newRow("app execution alias: a file") << (archive | reparse) << 0x8000001Bu << false << false;
    QTest::newRow("reparse tag left over on no reparse point") << folder << Platform::windowsReparseTagSymlink << true
                                                               << false;
}

void TestPlatform::windowsEntries()
{
    QFETCH(quint32, attributes);
    QFETCH(quint32, reparseTag);
    QFETCH(bool, isDir);
    QFETCH(bool, isLink);
    const Platform::WindowsEntryKind kind = Platform::windowsEntryKind(attributes, reparseTag);
    QCOMPARE(kind.isDir, isDir);
    QCOMPARE(kind.isSymLink, isLink);
}

void TestPlatform::windowsVolumeRoot_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("root");
    QTest::newRow("drive") << "C:" << true;
    QTest::newRow("drive with separator") << "C:/" << true;
    QTest::newRow("drive, native separator") << "d:\\" << true;
    QTest::newRow("folder on a drive") << "C:/Tools" << false;
    QTest::newRow("share") << "\\\\server\\share" << true;
    QTest::newRow("share with separator") << "\\\\server\\share\\" << true;
    QTest::newRow("share in Qt's form") << "//server/share/" << true;
    QTest::newRow("folder in a share") << "//server/share/tools" << false;
    QTest::newRow("server alone") << "//server" << false;
    QTest::newRow("relative") << "share" << false;
    QTest::newRow("empty") << "" << false;
}

void TestPlatform::windowsVolumeRoot()
{
    QFETCH(QString, path);
    QFETCH(bool, root);
    QCOMPARE(Platform::isWindowsVolumeRoot(path), root);
}

namespace {

void makeFile(const QString &path)
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(path));
}

} // namespace

// The scanner relies on the listing being QDir's default one, entry for entry.
void TestPlatform::listFolderMatchesQDir_data()
{
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<bool>("specialEntries");
    QTest::newRow("empty") << QStringList() << false;
    QTest::newRow("hidden and dotted names")
        << QStringList{".hidden", ".hidden.exe", "..twodots", "a.", "b..", "c"} << false;
    QTest::newRow("names sorting around the dot")
        << QStringList{" space", "!bang", "#hash", "-dash", "0zero", "_under", "~tilde", "Zed"} << false;
    QTest::newRow("names equal but for case, many of them")
        << [] {
               QStringList names;
               for (int i = 0; i < 40; ++i)
                   names << QStringLiteral("setup%1.exe").arg(i % 7) << QStringLiteral("SETUP%1.EXE").arg(i % 7)
                         << QStringLiteral("Setup%1.Exe").arg(i % 7);
               names.removeDuplicates();
               return names;
           }()
        << false;
    QTest::newRow("non-ASCII names")
        << QStringList{QStringLiteral("安装程序.exe"), QStringLiteral("Ärger.msi"), QStringLiteral("ärger.MSI"),
                       QStringLiteral("😀.exe"), QStringLiteral("İstanbul.exe")}
        << false;
    QTest::newRow("links, broken links, pipe, socket, folders") << QStringList{"plain.exe"} << true;
}

void TestPlatform::listFolderMatchesQDir()
{
    QFETCH(QStringList, files);
    QFETCH(bool, specialEntries);

    QTemporaryDir temp;
    QVERIFY(temp.isValid());
    const QString folder = temp.filePath(QStringLiteral("folder"));
    QVERIFY(QDir().mkpath(folder));
    for (const QString &name : files)
        makeFile(folder + QLatin1Char('/') + name);
    if (specialEntries) {
        QVERIFY(QDir(folder).mkpath(QStringLiteral("sub/inner")));
        QVERIFY(QDir(folder).mkpath(QStringLiteral(".hiddenDir")));
        QVERIFY(QFile::link(folder + QStringLiteral("/sub"), folder + QStringLiteral("/linkToDir")));
        QVERIFY(QFile::link(folder + QStringLiteral("/plain.exe"), folder + QStringLiteral("/linkToFile.exe")));
        QVERIFY(QFile::link(folder + QStringLiteral("/missing"), folder + QStringLiteral("/broken.exe")));
        QVERIFY(QFile::link(folder + QStringLiteral("/linkToDir"), folder + QStringLiteral("/linkToLink")));
        QVERIFY(mkfifo(QFile::encodeName(folder + QStringLiteral("/pipe.exe")).constData(), 0600) == 0);
        QVERIFY(QFile::link(folder + QStringLiteral("/pipe.exe"), folder + QStringLiteral("/linkToPipe.exe")));
        const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        const QByteArray socketPath = QFile::encodeName(folder + QStringLiteral("/socket.exe"));
        QVERIFY(size_t(socketPath.size()) < sizeof address.sun_path);
        memcpy(address.sun_path, socketPath.constData(), size_t(socketPath.size()));
        QCOMPARE(bind(sock, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
        close(sock);
    }

    // With and without a trailing "/": both give the same entry paths.
    for (const QString &path : {folder, folder + QLatin1Char('/')}) {
        QStringList expected;
        for (const QFileInfo &info : QDir(path).entryInfoList()) {
            if (info.fileName() != QLatin1String(".") && info.fileName() != QLatin1String(".."))
                expected << QStringLiteral("%1 %2 %3").arg(info.filePath()).arg(info.isDir()).arg(info.isSymLink());
        }
        QStringList actual;
        for (const Platform::FolderEntry &entry : Platform::listFolder(path)) {
            QCOMPARE(entry.filePath.left(entry.nameStart), folder + QLatin1Char('/'));
            actual << QStringLiteral("%1 %2 %3").arg(entry.filePath).arg(entry.isDir).arg(entry.isSymLink);
        }
        QCOMPARE(actual, expected);
    }
}

void TestPlatform::listFolderUnreadable()
{
    QTemporaryDir temp;
    QVERIFY(temp.isValid());
    makeFile(temp.filePath(QStringLiteral("file")));
    QVERIFY(Platform::listFolder(temp.filePath(QStringLiteral("missing"))).isEmpty());
    QVERIFY(Platform::listFolder(temp.filePath(QStringLiteral("file"))).isEmpty());
}

namespace {

QString escaped(const QString &text)
{
    QString out;
    for (int i = 0; i < text.size(); ++i) {
        const ushort unit = text.at(i).unicode();
        const bool lone = unit >= 0xDC80 && unit <= 0xDCFF && !(i > 0 && text.at(i - 1).isHighSurrogate());
        out += lone ? QStringLiteral("<%1>").arg(unit - 0xDC00, 0, 16) : QString(text.at(i));
    }
    return out;
}

} // namespace

// Bytes as the system gives them, the name as the program carries it (escaped bytes
// shown as <xy>), and the name as it is shown.
void TestPlatform::fileNameBytes_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("readable");
    QTest::newRow("UTF-8") << QByteArray("安装 setup.exe") << "安装 setup.exe" << "安装 setup.exe";
    // Like any decoder, this one takes "\xd7\xb0" for the UTF-8 of U+05F0; the bytes stay the same.
    QTest::newRow("GBK") << QByteArray("\xb0\xb2\xd7\xb0setup.exe") << "<b0><b2>\u05F0setup.exe"
                         << "安装setup.exe";
    QTest::newRow("GBK folder") << QByteArray("\xc2\xcc\xc9\xab") << "<c2><cc>\u026B" << "绿色";
    // Each ends in a byte that is not GBK either.
    QTest::newRow("neither") << QByteArray("a\xff\xb0.exe") << "a<ff><b0>.exe" << "a\uFFFD\uFFFD.exe";
    QTest::newRow("overlong") << QByteArray("\xc0\xaf\xff") << "<c0><af><ff>" << "\uFFFD\uFFFD\uFFFD";
    QTest::newRow("encoded surrogate") << QByteArray("\xed\xb2\x80\xff") << "<ed><b2><80><ff>"
                                       << "\uFFFD\uFFFD\uFFFD\uFFFD";
    QTest::newRow("cut sequence") << QByteArray("\xffx\xe5\xae") << "<ff>x<e5><ae>" << "\uFFFDx\uFFFD\uFFFD";
    // Its low half lies in the escape range, yet it is a real character.
    QTest::newRow("astral character") << QByteArray("\xf0\x90\x82\x80") << QString::fromUcs4(U"\U00010080")
                                      << QString::fromUcs4(U"\U00010080");
}

void TestPlatform::fileNameBytes()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, name);
    QFETCH(QString, readable);
    const QString decoded = Platform::decodeFileName(bytes);
    QCOMPARE(escaped(decoded), name);
    QCOMPARE(Platform::encodeFileName(decoded), bytes);
    QCOMPARE(Platform::readableFileName(decoded), readable);
}

void TestPlatform::listFolderKeepsNameBytes()
{
    QTemporaryDir temp;
    QVERIFY(temp.isValid());
    const QByteArray folder = QFile::encodeName(temp.path()) + "/\xc2\xcc\xc9\xab";
    QCOMPARE(mkdir(folder.constData(), 0700), 0);
    const int fd = open((folder + "/\xb0\xb2\xd7\xb0.exe").constData(), O_WRONLY | O_CREAT, 0600);
    QVERIFY(fd >= 0);
    close(fd);
    QCOMPARE(symlink(folder.constData(), (QFile::encodeName(temp.path()) + "/link").constData()), 0);

    const QVector<Platform::FolderEntry> top = Platform::listFolder(temp.path());
    QCOMPARE(top.size(), 2);
    QCOMPARE(Platform::encodeFileName(top.at(1).filePath), folder);
    QVERIFY(top.at(1).isDir);
    const QVector<Platform::FolderEntry> inner = Platform::listFolder(top.at(1).filePath);
    QCOMPARE(inner.size(), 1);
    QCOMPARE(Platform::encodeFileName(inner.first().filePath), folder + "/\xb0\xb2\xd7\xb0.exe");
    QCOMPARE(Platform::canonicalPath(top.at(0).filePath), top.at(1).filePath);
}

void TestPlatform::runLockPlanted_data()
{
    QTest::addColumn<QString>("planting"); // run by nobody in a shared folder; $TARGET is root's file
    QTest::addColumn<bool>("locks");
    QTest::newRow("nothing planted") << "" << true;
    QTest::newRow("link to a file") << "ln -s \"$TARGET\" export.lock" << false;
    QTest::newRow("file of another user's") << "touch export.lock" << false;
}

// The export's lock file, held open for writing, never reaches another user's file.
void TestPlatform::runLockPlanted()
{
    QFETCH(QString, planting);
    QFETCH(bool, locks);
    if (geteuid() != 0)
        QSKIP("needs root to plant as another user");
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString shared = folder.filePath(QStringLiteral("shared"));
    QVERIFY(QDir().mkdir(shared));
    QVERIFY(chmod(QFile::encodeName(folder.path()).constData(), 0755) == 0
            && chmod(QFile::encodeName(shared).constData(), 01777) == 0);
    const QString target = folder.filePath(QStringLiteral("precious"));
    QFile precious(target);
    QVERIFY(precious.open(QIODevice::WriteOnly) && precious.write("root's own file\n") > 0);
    precious.close();
    const QString script = QStringLiteral("cd '%1'; TARGET='%2'; %3").arg(shared, target, planting);
    QCOMPARE(QProcess::execute(QStringLiteral("setpriv"),
                               {"--reuid=65534", "--regid=65534", "--clear-groups", "sh", "-ec", script}),
             0);

    RunLock lock(shared + QStringLiteral("/export.lock"));
    QCOMPARE(lock.tryLock(), locks);
    QVERIFY(precious.open(QIODevice::ReadOnly));
    QCOMPARE(precious.readAll(), QByteArray("root's own file\n"));
}

namespace {

// Windows' masks as icacls names them.
const quint32 readExecute = 0x001200A9;    // RX
const quint32 modify = 0x001301BF;         // M
const quint32 fullControl = 0x001F01FF;    // F
const quint32 appendData = 0x00000004;     // AD: on a folder, make subfolders
const quint32 deleteChild = 0x00000040;    // DC
const quint32 writeDac = 0x00040000;       // WDAC
const quint32 genericWrite = 0x40000000;   // GW
const quint32 genericAll = 0x10000000;     // GA
const quint32 writeAttributes = 0x00000100; // WA: changes no content

AccessEntry allow(Trustee trustee, quint32 mask, bool inheritOnly = false)
{
    return {true, inheritOnly, mask, trustee};
}

} // namespace

// The Windows decision on a folder's owner and access list, as Windows hands them out
// (the lists of C:\Program Files and C:\ by icacls); the system's side only names the
// trustees, which Wine cannot show as Windows has them.
void TestPlatform::accessListRefusal_data()
{
    QTest::addColumn<FolderUse>("use");
    QTest::addColumn<Trustee>("owner");
    QTest::addColumn<bool>("hasList");
    QTest::addColumn<std::vector<AccessEntry>>("entries");
    QTest::addColumn<QString>("refusal");

    const std::vector<AccessEntry> programFiles{
        allow(Trustee::TrustedInstaller, fullControl), allow(Trustee::System, fullControl),
        allow(Trustee::Administrators, fullControl), allow(Trustee::Other, readExecute),
        allow(Trustee::Other, genericAll, true), allow(Trustee::Owner, genericAll, true)};
    QTest::newRow("installed under Program Files")
        << FolderUse::Program << Trustee::Administrators << true << programFiles << "";
    QTest::newRow("installed, as the user's data")
        << FolderUse::Private << Trustee::Administrators << true << programFiles << "";
    // A folder made under C:\ inherits Authenticated Users: Modify.
    std::vector<AccessEntry> underDriveRoot{allow(Trustee::Administrators, fullControl),
                                            allow(Trustee::System, fullControl), allow(Trustee::Other, readExecute),
                                            allow(Trustee::Other, modify)};
    QTest::newRow("unzipped under C:\\") << FolderUse::Program << Trustee::CurrentUser << true << underDriveRoot
                                           << "may be written by other users";
    QTest::newRow("in the user's profile")
        << FolderUse::Private << Trustee::CurrentUser << true
        << std::vector<AccessEntry>{allow(Trustee::System, fullControl), allow(Trustee::Administrators, fullControl),
                                    allow(Trustee::CurrentUser, fullControl)}
        << "";
    QTest::newRow("another user's, for the program") << FolderUse::Program << Trustee::Other << true
                                                     << std::vector<AccessEntry>{allow(Trustee::Owner, fullControl)}
                                                     << "";
    QTest::newRow("another user's, for data") << FolderUse::Private << Trustee::Other << true
                                              << std::vector<AccessEntry>{allow(Trustee::Owner, fullControl)}
                                              << "belongs to another user";
    QTest::newRow("no access list") << FolderUse::Program << Trustee::CurrentUser << false
                                    << std::vector<AccessEntry>{} << "has no access list, so everyone may write it";
    QTest::newRow("empty access list") << FolderUse::Private << Trustee::CurrentUser << true
                                       << std::vector<AccessEntry>{} << "";
    for (const auto &right : std::vector<std::pair<const char *, quint32>>{{"make subfolders", appendData},
                                                                            {"delete children", deleteChild},
                                                                            {"change the list", writeDac},
                                                                            {"generic write", genericWrite},
                                                                            {"generic all", genericAll}})
        QTest::newRow(qPrintable(QStringLiteral("others may %1").arg(QLatin1String(right.first))))
            << FolderUse::Program << Trustee::CurrentUser << true
            << std::vector<AccessEntry>{allow(Trustee::Other, right.second)} << "may be written by other users";
    QTest::newRow("others may only change attributes")
        << FolderUse::Program << Trustee::CurrentUser << true
        << std::vector<AccessEntry>{allow(Trustee::Other, writeAttributes | readExecute)} << "";
    QTest::newRow("handed down only") << FolderUse::Program << Trustee::CurrentUser << true
                                      << std::vector<AccessEntry>{allow(Trustee::Other, modify, true)} << "";
    QTest::newRow("denied to others, allowed to others")
        << FolderUse::Program << Trustee::CurrentUser << true
        << std::vector<AccessEntry>{{false, false, modify, Trustee::Other}, allow(Trustee::Other, modify)}
        << "may be written by other users";
}

void TestPlatform::accessListRefusal()
{
    QFETCH(FolderUse, use);
    QFETCH(Trustee, owner);
    QFETCH(bool, hasList);
    QFETCH(std::vector<AccessEntry>, entries);
    QFETCH(QString, refusal);
    QCOMPARE(QString::fromStdString(vantoril::folderRefusal(use, owner, hasList, entries)), refusal);
}

// The same decision here, on the mode bits and owner of real folders.
void TestPlatform::folderModeRefusal_data()
{
    QTest::addColumn<FolderUse>("use");
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("ownedByNobody");
    QTest::addColumn<QString>("refusal");
    QTest::newRow("program, owner only") << FolderUse::Program << 0755 << false << "";
    QTest::newRow("program, group may write") << FolderUse::Program << 0775 << false << "may be written by other users";
    QTest::newRow("program, everyone may write") << FolderUse::Program << 0757 << false
                                                 << "may be written by other users";
    QTest::newRow("program, sticky and shared") << FolderUse::Program << 01777 << false
                                                << "may be written by other users";
    QTest::newRow("program of another user's") << FolderUse::Program << 0755 << true << "";
    QTest::newRow("data of another user's") << FolderUse::Private << 0700 << true << "belongs to another user";
    QTest::newRow("data, own and private") << FolderUse::Private << 0700 << false << "";
}

void TestPlatform::folderModeRefusal()
{
    QFETCH(FolderUse, use);
    QFETCH(int, mode);
    QFETCH(bool, ownedByNobody);
    QFETCH(QString, refusal);
    if (ownedByNobody && geteuid() != 0)
        QSKIP("needs root to give a folder to another user");
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QByteArray path = QFile::encodeName(folder.path());
    QVERIFY(chmod(path.constData(), mode_t(mode)) == 0);
    if (ownedByNobody)
        QVERIFY(chown(path.constData(), 65534, 65534) == 0);
    QCOMPARE(QString::fromStdString(vantoril::folderRefusal(use, path.toStdString())), refusal);
}

// A closed console (or a log-off or shut-down) ends the process when the handler returns,
// so only those hold the system's thread; Ctrl-C and Ctrl-Break return at once.
void TestPlatform::consoleEventAnswer_data()
{
    QTest::addColumn<int>("event");
    QTest::addColumn<int>("signalNumber");
    QTest::addColumn<bool>("hold");
    QTest::newRow("CTRL_C_EVENT") << 0 << int(SIGINT) << false;
    QTest::newRow("CTRL_BREAK_EVENT") << 1 << int(SIGTERM) << false;
    QTest::newRow("CTRL_CLOSE_EVENT") << 2 << int(SIGTERM) << true;
    QTest::newRow("reserved 3") << 3 << 0 << false;
    QTest::newRow("CTRL_LOGOFF_EVENT") << 5 << int(SIGTERM) << true;
    QTest::newRow("CTRL_SHUTDOWN_EVENT") << 6 << int(SIGTERM) << true;
}

void TestPlatform::consoleEventAnswer()
{
    QFETCH(int, event);
    QFETCH(int, signalNumber);
    QFETCH(bool, hold);
    const ConsoleInterrupt::ConsoleEventAnswer answer = ConsoleInterrupt::answerConsoleEvent(static_cast<unsigned long>(event));
    QCOMPARE(answer.signalNumber, signalNumber);
    QCOMPARE(answer.holdUntilEnded, hold);
}

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
