// Renders every wizard page, in each state of the extraction page, and the
// message dialog to PNG files, so the whole wizard can be looked at without a
// display. Usage: render_pages <output folder>
#include "framemain.h"
#include "platform.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPainter>
#include <QStackedWidget>
#include <QTest>
#include <QTimer>

#include <cstdio>

namespace {
QString outputFolder;
int failures = 0;

void save(const QImage &image, const QString &name)
{
    const QString path = outputFolder + QLatin1Char('/') + name + QStringLiteral(".png");
    if (!image.save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        ++failures;
        return;
    }
    std::printf("%s\n", qPrintable(path));
}

QImage grabWindow(FrameMain &window)
{
    // Let the loading animation and queued repaints catch up.
    QTest::qWait(60);
    return window.grab().toImage();
}

void click(QWidget *page, const char *name)
{
    QWidget *button = page->findChild<QWidget *>(QLatin1String(name));
    if (!button) {
        std::fprintf(stderr, "%s has no %s\n", qPrintable(page->objectName()), name);
        ++failures;
        return;
    }
    QTest::mouseClick(button, Qt::LeftButton);
}

// The dialog is modal: it is grabbed and closed from a timer while its event loop runs.
void renderMessage(FrameMain &window, const QString &name, int type, const QString &msg)
{
    const QImage background = grabWindow(window);
    QTimer::singleShot(100, [&window, background, name] {
        QWidget *dialog = QApplication::activeModalWidget();
        if (!dialog) {
            std::fprintf(stderr, "no message dialog for %s\n", qPrintable(name));
            ++failures;
            return;
        }
        QImage image = background;
        QPainter painter(&image);
        painter.fillRect(image.rect(), QColor(0, 0, 0, 40));
        painter.drawImage(dialog->geometry().topLeft() - window.geometry().topLeft(), dialog->grab().toImage());
        painter.end();
        save(image, name);
        dialog->close();
    });
    window.on_showMsg(false, msg, type, QStringLiteral("关闭"));
}
}

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    Platform::substituteFonts();
    if (argc != 2) {
        std::fprintf(stderr, "usage: render_pages <output folder>\n");
        return 2;
    }
    outputFolder = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(outputFolder);

    FrameMain window;
    window.move(0, 0);
    window.show();
    QStackedWidget *stack = window.findChild<QStackedWidget *>(QStringLiteral("stackedWidget"));

    const struct {
        int index;
        const char *name;
    } plainPages[] = {{0, "0-welcome"}, {1, "1-preparation"}, {7, "1-preparation-diagram"}};
    for (const auto &page : plainPages) {
        stack->setCurrentIndex(page.index);
        save(grabWindow(window), QLatin1String(page.name));
    }

    // The source and destination pages as they look after a choice.
    stack->setCurrentIndex(2);
    stack->currentWidget()->findChild<QLineEdit *>(QStringLiteral("lineEdit_path"))
        ->setText(QStringLiteral("/home/admin/软件信息提取目录"));
    save(grabWindow(window), QStringLiteral("2-source-folder"));
    stack->setCurrentIndex(3);
    stack->currentWidget()->findChild<QLineEdit *>(QStringLiteral("lineEdit_file"))
        ->setText(QStringLiteral("/home/admin/软件信息.xlsx"));
    save(grabWindow(window), QStringLiteral("3-export-file"));

    stack->setCurrentIndex(4);
    save(grabWindow(window), QStringLiteral("4-list-loading"));
    window.showSoftwareList({QStringLiteral("办公套件安装包.exe"), QStringLiteral("数据库客户端.msi"),
                             QStringLiteral("截图工具.exe"), QStringLiteral("视频播放器"), QStringLiteral("压缩工具"),
                             QStringLiteral("远程协助工具_x64_setup.exe"), QStringLiteral("输入法安装程序.msi")});
    save(grabWindow(window), QStringLiteral("4-list-listed"));
    renderMessage(window, QStringLiteral("message-warning"), 0,
                  QStringLiteral("没有找到可以提取的安装包或绿色软件，请返回“选择路径”步骤重新指定目录。"));
    click(stack->currentWidget(), "btnColor_software");
    window.showExtractProgress(3, 8);
    save(grabWindow(window), QStringLiteral("4-list-extracting"));
    window.showExtractProgress(8, 8);
    window.extractFinished();
    save(grabWindow(window), QStringLiteral("4-list-done"));
    renderMessage(window, QStringLiteral("message-success"), 1, QStringLiteral("提取完毕"));
    renderMessage(window, QStringLiteral("message-error"), 2,
                  QStringLiteral("提取失败，写入软件信息.xlsx文件错误，请检查：\r\n1：该文件是否已经打开；\r\n"
                                 "2：该文件所在磁盘的空间是否已满。"));

    const struct {
        int index;
        const char *name;
    } lastPages[] = {{5, "5-upload"}, {6, "6-finish"}};
    for (const auto &page : lastPages) {
        stack->setCurrentIndex(page.index);
        save(grabWindow(window), QLatin1String(page.name));
    }
    return failures == 0 ? 0 : 1;
}
