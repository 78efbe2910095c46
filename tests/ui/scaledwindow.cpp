// Starts the wizard's window as the program does, on the X display it is given, and
// writes what tst_scaling checks into a folder: the window's size on the X server, the
// window with each page and the message dialog (opaque and with its shadow) as PNG files, the
// dialog's mask, every label too small for
// its text, and where a drag of the title strip took the window.
// Usage: scaled_window <output folder>
#include "displayscaling.h"
#include "framemain.h"
#include "platform.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMouseEvent>
#include <QStackedWidget>
#include <QTest>
#include <QTextStream>
#include <QTimer>
#include <QX11Info>

#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>

namespace {
// The window's size in the X server's own pixels, not as Qt reports it back.
QSize nativeSize(QWidget *window)
{
    xcb_connection_t *connection = QX11Info::connection();
    xcb_get_geometry_reply_t *reply = xcb_get_geometry_reply(
        connection, xcb_get_geometry(connection, xcb_window_t(window->winId())), nullptr);
    if (!reply)
        return QSize();
    const QSize size(reply->width, reply->height);
    std::free(reply);
    return size;
}

// A label whose text needs more room than the label has is cut off on the screen.
void reportCutLabels(QWidget *page, QTextStream &report)
{
    for (QLabel *label : page->findChildren<QLabel *>()) {
        if (label->text().isEmpty() || !label->isVisibleTo(page))
            continue;
        const QSize needed = label->wordWrap() ? QSize(label->width(), label->heightForWidth(label->width()))
                                               : label->sizeHint();
        // The message's height is the dialog's own arithmetic, lines times line spacing, which
        // QLabel measures a font's leading taller at every scale; its lines must still fit across.
        const bool heightIsMeasured = label->objectName() != QLatin1String("label_msg");
        if (needed.width() > label->width() || (heightIsMeasured && needed.height() > label->height()))
            report << "cut " << page->objectName() << '/' << label->objectName() << ' ' << label->width() << 'x'
                   << label->height() << " needs " << needed.width() << 'x' << needed.height() << '\n';
    }
}
}

int main(int argc, char *argv[])
{
    DisplayScaling::enable();
    QApplication app(argc, argv);
    Platform::substituteFonts();
    if (argc != 2 || QX11Info::connection() == nullptr) {
        std::fprintf(stderr, "usage: scaled_window <output folder>, on an X display\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    QFile reportFile(out.filePath(QStringLiteral("report.txt")));
    if (!reportFile.open(QIODevice::WriteOnly | QIODevice::Text))
        return 1;
    QTextStream report(&reportFile);

    FrameMain window;
    window.move(100, 100);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;
    const QSize size = nativeSize(&window);
    report << "window " << size.width() << ' ' << size.height() << '\n';

    auto *stack = window.findChild<QStackedWidget *>(QStringLiteral("stackedWidget"));
    for (int index = 0; index < stack->count(); ++index) {
        stack->setCurrentIndex(index);
        QTest::qWait(20);
        window.grab().toImage().save(out.filePath(QStringLiteral("window-%1.png").arg(index)));
        reportCutLabels(stack->currentWidget(), report);
    }

    // Without a compositing manager (none runs here) the dialog shows its opaque look; told
    // that translucent windows work, its shadow.
    for (const char *translucent : {"", "1"}) {
        qputenv("PELBROOK_TRANSLUCENT_WINDOWS", translucent);
        const QString name = *translucent ? QStringLiteral("dialog-shadow.png") : QStringLiteral("dialog.png");
        QTimer::singleShot(100, [&] {
            QWidget *dialog = QApplication::activeModalWidget();
            if (dialog) {
                dialog->grab().toImage().save(out.filePath(name));
                for (const QRect &kept : dialog->mask())
                    report << "mask " << name << ' ' << kept.x() << ' ' << kept.y() << ' ' << kept.width() << ' '
                           << kept.height() << '\n';
                reportCutLabels(dialog, report);
                dialog->close();
            }
        });
        window.on_showMsg(false, QStringLiteral("没有找到可以提取的安装包或绿色软件，请返回“选择路径”步骤重新指定目录。"),
                          0, QStringLiteral("关闭"));
    }
    qunsetenv("PELBROOK_TRANSLUCENT_WINDOWS");

    // No window manager runs either, so the strip moves the window itself.
    QWidget *strip = window.findChild<QWidget *>(QStringLiteral("widgetMove"));
    const QPoint before = window.pos();
    const QPoint pressPos(300, 20);
    const QPoint step(40, 30);
    QTest::mousePress(strip, Qt::LeftButton, Qt::NoModifier, pressPos);
    QMouseEvent move(QEvent::MouseMove, pressPos + step, strip->mapToGlobal(pressPos + step), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(strip, &move);
    QTest::mouseRelease(strip, Qt::LeftButton, Qt::NoModifier, pressPos + step);
    const QPoint moved = window.pos() - before;
    report << "drag " << moved.x() << ' ' << moved.y() << '\n';
    return 0;
}
