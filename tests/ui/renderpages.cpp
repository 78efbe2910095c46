// Renders every wizard page, in each state of the extraction page, and the
// message dialog to PNG files, so the whole wizard can be looked at without a
// display. Every state is reached as a user reaches it: the paths come through
// the pages' browse buttons and Qt's file dialogs.
// Usage: render_pages [--scale FACTOR] <output folder>
// With --scale the pictures are rendered as on a display scaled by FACTOR (1.5 for
// 150 %): FACTOR times as many pixels each way.
#include "dialogdriver.h"
#include "framemain.h"
#include "platform.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <functional>

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

// As a user clicks: the pointer goes to the button first, so each button's look follows the pointer.
void click(QWidget *button)
{
    QTest::mouseMove(button);
    QTest::mouseClick(button, Qt::LeftButton);
}

void click(QWidget *page, const char *name)
{
    QWidget *button = page->findChild<QWidget *>(QLatin1String(name));
    if (!button) {
        std::fprintf(stderr, "%s has no %s\n", qPrintable(page->objectName()), name);
        ++failures;
        return;
    }
    click(button);
}

// A dialog over the dimmed window, where it stands on the screen.
QImage overWindow(const QImage &background, FrameMain &window, QWidget *dialog)
{
    QImage image = background;
    QPainter painter(&image);
    painter.fillRect(image.rect(), QColor(0, 0, 0, 40));
    painter.drawImage(dialog->geometry().topLeft() - window.geometry().topLeft(), dialog->grab().toImage());
    painter.end();
    return image;
}

// The message dialog is modal: the window under it and the dialog are grabbed, and the dialog is
// closed, from a timer while its event loop runs. cause opens it as the program does.
void renderMessage(FrameMain &window, const QString &name, const std::function<void()> &cause)
{
    QTimer::singleShot(100, [&window, name] {
        QWidget *dialog = QApplication::activeModalWidget();
        if (!dialog) {
            std::fprintf(stderr, "no message dialog for %s\n", qPrintable(name));
            ++failures;
            return;
        }
        save(overWindow(grabWindow(window), window, dialog), name);
        dialog->close();
    });
    cause();
}

// A message of the controller, which goes to the window.
void renderMessage(FrameMain &window, const QString &name, int type, const QString &msg)
{
    renderMessage(window, name, [&] { window.on_showMsg(false, msg, type, QStringLiteral("关闭")); });
}

// Clicks the page's browse button; the driver answers the file dialog as a user would. The
// pointer then rests on an empty part of the page.
void browse(DialogDriver &driver, QWidget *page)
{
    click(page, "btnColor_browse");
    if (driver.pendingActions() != 0) {
        std::fprintf(stderr, "%s opened no file dialog\n", qPrintable(page->objectName()));
        ++failures;
    }
    QTest::mouseMove(page, QPoint(480, 460));
}

// The source and destination pages as they look after a choice made in the file dialogs, then
// on with their next buttons to the extraction page. The folders are real, as the dialogs want
// them, and fixed, so the pictures change only with the program.
void renderChoices(FrameMain &window, QStackedWidget *stack)
{
    const QString examples = QDir::tempPath() + QStringLiteral("/pelbrook-screenshots");
    const QString source = examples + QStringLiteral("/软件信息提取目录");
    QDir(examples).removeRecursively();
    QDir().mkpath(source + QStringLiteral("/视频播放器"));
    QDir().mkpath(source + QStringLiteral("/压缩工具"));

    DialogDriver driver;
    driver.onFileDialog([&](QFileDialog *dialog) {
        // With an empty name field the dialog chooses the folder it shows.
        dialog->setDirectory(source);
        if (!QTest::qWaitForWindowExposed(dialog))
            ++failures;
        QTest::qWait(60);
        save(overWindow(grabWindow(window), window, dialog), QStringLiteral("2-source-folder-dialog"));
        click(dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Open));
    });
    browse(driver, stack->currentWidget());
    save(grabWindow(window), QStringLiteral("2-source-folder"));
    click(stack->currentWidget(), "btnColor_next");

    driver.onFileDialog([&](QFileDialog *dialog) {
        if (!QTest::qWaitForWindowExposed(dialog))
            ++failures;
        dialog->setDirectory(examples);
        dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(QStringLiteral("软件信息.xlsx"));
        click(dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Save));
    });
    browse(driver, stack->currentWidget());
    save(grabWindow(window), QStringLiteral("3-export-file"));
    click(stack->currentWidget(), "btnColor_next");
    QDir(examples).removeRecursively();
    if (stack->currentIndex() != 4) {
        std::fprintf(stderr, "the next buttons did not lead to the extraction page\n");
        ++failures;
    }
}
}

int main(int argc, char *argv[])
{
    QByteArray scale;
    if (argc == 4 && qstrcmp(argv[1], "--scale") == 0) {
        scale = argv[2];
        bool ok = false;
        if (scale.toDouble(&ok) <= 0 || !ok) {
            std::fprintf(stderr, "render_pages: the scale is a number above 0, such as 1.5\n");
            return 2;
        }
    } else if (argc != 2) {
        std::fprintf(stderr, "usage: render_pages [--scale FACTOR] <output folder>\n");
        return 2;
    }
    // The offscreen screen claims 100 dpi, so the program's own scaling would add 4 % to
    // any factor; Qt's global factor alone gives exactly the one asked for.
    if (!scale.isEmpty())
        qputenv("QT_SCALE_FACTOR", scale);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    QApplication app(argc, argv);
    Platform::substituteFonts();
    Platform::loadQtTranslations();
    outputFolder = QString::fromLocal8Bit(argv[argc - 1]);
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

    stack->setCurrentIndex(2);
    renderChoices(window, stack);
    save(grabWindow(window), QStringLiteral("4-list-loading"));

    // A scan that found nothing: the extraction button only warns.
    QWidget *listPage = stack->currentWidget();
    window.showSoftwareList({});
    renderMessage(window, QStringLiteral("message-warning"), [&] { click(listPage, "btnColor_software"); });
    // The same message where the window system cannot show translucent windows.
    qputenv("PELBROOK_TRANSLUCENT_WINDOWS", "0");
    renderMessage(window, QStringLiteral("message-warning-opaque"), [&] { click(listPage, "btnColor_software"); });
    qunsetenv("PELBROOK_TRANSLUCENT_WINDOWS");

    // Refreshed, the folder's contents are listed.
    click(listPage, "btnColor_frush");
    window.showSoftwareList({QStringLiteral("办公套件安装包.exe"), QStringLiteral("数据库客户端.msi"),
                             QStringLiteral("截图工具.exe"), QStringLiteral("视频播放器"), QStringLiteral("压缩工具"),
                             QStringLiteral("远程协助工具_x64_setup.exe"), QStringLiteral("输入法安装程序.msi")});
    QTest::mouseMove(listPage, QPoint(480, 460));
    save(grabWindow(window), QStringLiteral("4-list-listed"));

    // An extraction whose workbook could not be written, then one that succeeds.
    click(listPage, "btnColor_software");
    window.showExtractProgress(3, 8);
    save(grabWindow(window), QStringLiteral("4-list-extracting"));
    window.showExtractProgress(8, 8);
    renderMessage(window, QStringLiteral("message-error"), 2,
                  QStringLiteral("提取失败，写入软件信息.xlsx文件错误，请检查：\r\n1：该文件是否已经打开；\r\n"
                                 "2：该文件所在磁盘的空间是否已满。"));
    click(listPage, "btnColor_software");
    window.showExtractProgress(8, 8);
    window.extractFinished();
    renderMessage(window, QStringLiteral("message-success"), 1, QStringLiteral("提取完毕"));
    // An export that left files out, and the list behind the message's second button.
    const QString details = QStringLiteral("提取完毕\r\n有1个文件无法读取，未能提取。\r\n与上次导出相比：新增1行，变化1行，删除0行。");
    renderMessage(window, QStringLiteral("message-details"),
                  [&] { window.askMsg(details, 1, QStringLiteral("关闭"), QStringLiteral("查看详情")); });
    renderMessage(window, QStringLiteral("list-details"), [&] {
        window.showFileList(QStringLiteral("文件详情"), {QStringLiteral("文件"), QStringLiteral("情况"), QStringLiteral("说明")},
                            {{QStringLiteral("D:\\安装包\\损坏的安装包.exe"), QStringLiteral("无法读取"),
                              QStringLiteral("PE32; read failed")},
                             {QStringLiteral("D:\\安装包\\小工具.exe"), QStringLiteral("仅按MD5匹配"),
                              QStringLiteral("仅能按文件MD5匹配，软件更新后规则将失效")},
                             {QStringLiteral("D:\\安装包\\小工具.exe"), QStringLiteral("新增"),
                              QStringLiteral("进程名：小工具.exe；文件MD5：0a1b2c3d4e5f60718293a4b5c6d7e8f9")},
                             {QStringLiteral("D:\\安装包\\办公软件.msi"), QStringLiteral("变化"),
                              QStringLiteral("产品名称：办公软件 2023 → 办公软件 2024；文件MD5：3e22… → 312e…")}});
    });
    QTest::mouseMove(listPage, QPoint(480, 460));
    save(grabWindow(window), QStringLiteral("4-list-done"));

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
