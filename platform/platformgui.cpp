#include "platform.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFont>
#include <QGuiApplication>
#include <QLibraryInfo>
#include <QTranslator>

#ifdef PELBROOK_HAS_X11EXTRAS
#include <QX11Info>
#endif

// The part of the platform layer that needs the window system, in a library of its own:
// only the wizard links it, so the console tools run where no display stack is installed.
namespace Platform {

void substituteFonts()
{
#ifdef Q_OS_WIN
    // Windows lists a font under its localized name only on a system of that display
    // language: an English Windows knows the face only as "Microsoft YaHei".
    QFont::insertSubstitutions(QStringLiteral("微软雅黑"),
                               {QStringLiteral("Microsoft YaHei"), QStringLiteral("Microsoft YaHei UI")});
#else
    QFont::insertSubstitutions(QStringLiteral("微软雅黑"),
                               {QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC")});
#endif
}

bool loadQtTranslations()
{
    // Qt's own folder, then the one a Windows deployment puts beside the program.
    const QStringList folders{QLibraryInfo::location(QLibraryInfo::TranslationsPath),
                              QCoreApplication::applicationDirPath() + QStringLiteral("/translations")};
    auto *translator = new QTranslator(QCoreApplication::instance());
    for (const QString &folder : folders) {
        if (translator->load(QStringLiteral("qtbase_zh_CN"), folder))
            return QCoreApplication::installTranslator(translator);
    }
    delete translator;
    qDebug() << "Platform::loadQtTranslations=missing" << folders;
    return false;
}

bool canShowTranslucentWindows()
{
    const QByteArray forced = qgetenv("PELBROOK_TRANSLUCENT_WINDOWS");
    if (forced == "0")
        return false;
    if (forced == "1")
        return true;
#ifdef PELBROOK_HAS_X11EXTRAS
    // X11 shows a window's alpha only through a compositing manager (the owner of _NET_WM_CM_S<screen>).
    if (QGuiApplication::platformName() == QLatin1String("xcb"))
        return QX11Info::isCompositingManagerRunning();
#endif
    // Windows and Wayland always compose windows; the offscreen platform keeps the alpha in what it renders.
    return true;
}

} // namespace Platform
