#include "windowsentries.h"

#include <QDir>

#include <vector>

#include <windows.h>

namespace Platform {

namespace {

// Deep paths past the old length limit need the \\?\ form, which takes only absolute paths.
std::wstring systemPath(const QString &path)
{
    std::wstring native = QDir::toNativeSeparators(QDir::cleanPath(QDir(path).absolutePath())).toStdWString();
    if (native.size() < MAX_PATH - 12 || native.rfind(L"\\\\?\\", 0) == 0)
        return native;
    if (native.rfind(L"\\\\", 0) == 0)
        return L"\\\\?\\UNC\\" + native.substr(2);
    return L"\\\\?\\" + native;
}

} // namespace

bool readWindowsEntry(const QString &path, quint32 &attributes, quint32 &reparseTag)
{
    // The listing's own record of the entry: attributes of the link itself, and the
    // reparse tag, which no attribute query gives.
    WIN32_FIND_DATAW data;
    const std::wstring native = systemPath(path);
    const HANDLE find = FindFirstFileExW(native.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr, 0);
    if (find == INVALID_HANDLE_VALUE)
        return false;
    FindClose(find);
    attributes = data.dwFileAttributes;
    reparseTag = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? data.dwReserved0 : 0;
    return true;
}

QString windowsFinalPath(const QString &path)
{
    const std::wstring native = systemPath(path);
    // No access rights asked: only the name is wanted, and a folder needs backup semantics to open.
    const HANDLE handle = CreateFileW(native.c_str(), 0,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return QString();
    QString result;
    // A volume mounted without a drive letter has no DOS name; its GUID name is as unique.
    for (const DWORD form : {DWORD(VOLUME_NAME_DOS), DWORD(VOLUME_NAME_GUID)}) {
        std::vector<wchar_t> buffer(MAX_PATH);
        DWORD length = GetFinalPathNameByHandleW(handle, buffer.data(), DWORD(buffer.size()), form);
        if (length >= buffer.size()) {
            buffer.resize(length + 1);
            length = GetFinalPathNameByHandleW(handle, buffer.data(), DWORD(buffer.size()), form);
        }
        if (length == 0 || length >= buffer.size())
            continue;
        result = QString::fromWCharArray(buffer.data(), int(length));
        break;
    }
    CloseHandle(handle);
    if (result.startsWith(QLatin1String("\\\\?\\UNC\\")))
        result = QLatin1String("\\\\") + result.mid(8);
    else if (result.startsWith(QLatin1String("\\\\?\\")) && result.size() >= 6 && result.at(5) == QLatin1Char(':'))
        result = result.mid(4);
    result = QDir::fromNativeSeparators(result);
    // A drive's root keeps its separator, as QDir writes it; no other path ends in one.
    if (result.endsWith(QLatin1Char('/')) && !(result.size() == 3 && result.at(1) == QLatin1Char(':')))
        result.chop(1);
    return result;
}

} // namespace Platform
