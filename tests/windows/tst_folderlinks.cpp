// The scanner on Windows itself: a shortcut to a folder is a plain file, never walked,
// and a folder link back to its parent lists its installers once. (Junctions, which
// Wine cannot make, are decided from their record in tests/platform.)
#include "platform.h"
#include "threadscanfile.h"

#include <QtTest>

#include <windows.h>

#include <objbase.h>
#include <shlobj.h>

class TestFolderLinks : public QObject
{
    Q_OBJECT
private slots:
    void shortcutIsAPlainFile();
    void linkToParentListedOnce();
};

namespace {

std::wstring native(const QString &path)
{
    return QDir::toNativeSeparators(path).toStdWString();
}

// A shortcut as Explorer saves one.
bool makeShortcut(const QString &shortcut, const QString &target)
{
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        return false;
    IShellLinkW *link = nullptr;
    IPersistFile *file = nullptr;
    bool saved = false;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                   reinterpret_cast<void **>(&link)))
        && SUCCEEDED(link->SetPath(native(target).c_str()))
        && SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void **>(&file))))
        saved = SUCCEEDED(file->Save(native(shortcut).c_str(), TRUE));
    if (file)
        file->Release();
    if (link)
        link->Release();
    CoUninitialize();
    return saved;
}

void makeFile(const QString &path)
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(path));
}

} // namespace

void TestFolderLinks::shortcutIsAPlainFile()
{
    QTemporaryDir top;
    QTemporaryDir elsewhere;
    QVERIFY(top.isValid() && elsewhere.isValid());
    makeFile(elsewhere.filePath("setup.exe"));
    makeFile(top.filePath("a.exe"));
    QVERIFY(makeShortcut(top.filePath("Elsewhere.lnk"), elsewhere.path()));

    const QVector<Platform::FolderEntry> entries = Platform::listFolder(top.path());
    QCOMPARE(entries.size(), 2);
    QCOMPARE(entries.at(1).filePath, top.filePath("Elsewhere.lnk"));
    QVERIFY(!entries.at(1).isDir);
    QVERIFY(!entries.at(1).isSymLink);
    QCOMPARE(listFilesRecursive(top.path()), (QList<QString>{top.filePath("a.exe"), top.filePath("Elsewhere.lnk")}));
}

void TestFolderLinks::linkToParentListedOnce()
{
    QTemporaryDir top;
    QVERIFY(top.isValid());
    QVERIFY(QDir(top.path()).mkpath("sub"));
    makeFile(top.filePath("sub/x.exe"));
    if (!CreateSymbolicLinkW(native(top.filePath("sub/up")).c_str(), native(top.path()).c_str(),
                             SYMBOLIC_LINK_FLAG_DIRECTORY))
        QSKIP("this system makes no folder links for this user");
    QCOMPARE(listFilesRecursive(top.path()), QList<QString>{top.filePath("sub/x.exe")});
}

QTEST_GUILESS_MAIN(TestFolderLinks)
#include "tst_folderlinks.moc"
