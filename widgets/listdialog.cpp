#include "listdialog.h"

#include "btncolor.h"
#include "btnlabel.h"
#include "widgetmove.h"

#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QSaveFile>
#include <QScreen>
#include <QTableWidget>

namespace {
const int dialogWidth = 760;
const int dialogHeight = 460;
const int buttonY = 372;
// Inside label_back, below the 30-pixel title strip.
const int tableX = 10;
const int tableY = 10;
const int tableWidth = 720;
const int tableHeight = 350;

BtnColorStyle buttonStyle(const QColor &text, const QColor &background, const QColor &border, const QFont &font)
{
    return BtnColorStyle{text, font, background, border, 1, 2, 2};
}

QString csvField(const QString &text)
{
    QString field = text;
    field.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + field + QLatin1Char('"');
}

QString csvLine(const QStringList &fields)
{
    QStringList quoted;
    for (const QString &field : fields)
        quoted.append(csvField(field));
    return quoted.join(QLatin1Char(',')) + QStringLiteral("\r\n");
}
}

ListDialog::ListDialog(QWidget *parent)
    : ShadowDialog(parent)
{
    dialogFont.setFamily(QStringLiteral("微软雅黑"));
    dialogFont.setPixelSize(14);

    widgetMove = new WidgetMove(this, false);
    widgetMove->setObjectName(QStringLiteral("widgetMove"));
    widgetMove->setStyleSheet(QStringLiteral("background:rgb(56 , 164 , 245);"));
    widgetMove->setFixedHeight(30);

    label_title = new QLabel(widgetMove);
    label_title->setObjectName(QStringLiteral("label_title"));
    label_title->move(12, 6);
    label_title->setFont(dialogFont);
    label_title->setStyleSheet(QStringLiteral("color:white;"));

    btnLabel_close = new BtnLabel(widgetMove);
    btnLabel_close->setObjectName(QStringLiteral("btnLabel_close"));
    btnLabel_close->setNormalStyleSheet(QStringLiteral(
        "QLabel{background-image:url(://img/banner-close-nor.png);background-repeat:no-repeat;}"
        "QLabel:hover{background-image:url(://img/banner-close-hov.png);background-repeat:no-repeat;}"
        "QLabel:press{background-image:url(://img/banner-close-pre.png);background-repeat:no-repeat;}"));
    btnLabel_close->move(dialogWidth - 41, 9);
    btnLabel_close->setFixedSize(12, 12);
    connect(btnLabel_close, SIGNAL(signal_clicked()), this, SLOT(on_close()));

    label_back = new QLabel(this);
    label_back->setObjectName(QStringLiteral("label_back"));
    label_back->setStyleSheet(QStringLiteral("background:rgb(255 , 255 , 255); "));

    QFont tableFont = dialogFont;
    tableFont.setPixelSize(12);
    tableWidget = new QTableWidget(label_back);
    tableWidget->setObjectName(QStringLiteral("tableWidget"));
    tableWidget->setFont(tableFont);
    tableWidget->setGeometry(tableX, tableY, tableWidth, tableHeight);
    tableWidget->verticalHeader()->setVisible(false);
    tableWidget->horizontalHeader()->setStretchLastSection(true);
    tableWidget->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tableWidget->setSelectionBehavior(QAbstractItemView::SelectRows);
    tableWidget->setStyleSheet(QStringLiteral("color:#474747;"));

    label_status = new QLabel(label_back);
    label_status->setObjectName(QStringLiteral("label_status"));
    label_status->setFont(tableFont);
    label_status->setStyleSheet(QStringLiteral("color:#474747;"));
    label_status->setGeometry(tableX, buttonY + 6, tableWidth - 2 * 104 - 40, 18);

    const QColor blue(56, 164, 245);
    const QColor lightBlue(99, 193, 255);
    const QColor darkBlue(37, 128, 207);
    const QColor grey(214, 217, 222);

    btnColor_save = new BtnColor(104, 28, QStringLiteral("保存为CSV"), label_back);
    btnColor_save->setObjectName(QStringLiteral("btnColor_save"));
    btnColor_save->setNormalStyle(buttonStyle(Qt::white, blue, blue, dialogFont));
    btnColor_save->setHoverStyle(buttonStyle(Qt::white, lightBlue, lightBlue, dialogFont));
    btnColor_save->setPressStyle(buttonStyle(Qt::white, darkBlue, darkBlue, dialogFont));
    btnColor_save->setDisableStyle(buttonStyle(Qt::white, grey, grey, dialogFont));
    btnColor_save->move(dialogWidth - 20 - 2 * 104 - 20, buttonY);
    connect(btnColor_save, SIGNAL(signal_click()), this, SLOT(on_save()));

    btnColor_close = new BtnColor(104, 28, QStringLiteral("关闭"), label_back);
    btnColor_close->setObjectName(QStringLiteral("btnColor_close"));
    btnColor_close->setNormalStyle(buttonStyle(QColor("#444546"), Qt::white, QColor("#9C9EA2"), dialogFont));
    btnColor_close->setHoverStyle(buttonStyle(lightBlue, Qt::white, lightBlue, dialogFont));
    btnColor_close->setPressStyle(buttonStyle(darkBlue, Qt::white, darkBlue, dialogFont));
    btnColor_close->setDisableStyle(buttonStyle(grey, Qt::white, grey, dialogFont));
    btnColor_close->move(dialogWidth - 20 - 104 - 10, buttonY);
    connect(btnColor_close, SIGNAL(signal_click()), this, SLOT(on_close()));

    auto *gridLayout = new QGridLayout(this);
    gridLayout->addWidget(widgetMove, 0, 0, 1, 1);
    gridLayout->addWidget(label_back, 1, 0, 1, 1);
    gridLayout->setContentsMargins(10, 0, 10, 10);

    if (parent)
        setWindowFlags(Qt::Tool | Qt::FramelessWindowHint);
    setFixedSize(dialogWidth, dialogHeight);
    setModal(true);
}

void ListDialog::setRows(const QString &title, const QStringList &headers, const QList<QStringList> &rows)
{
    this->headers = headers;
    this->rows = rows;
    label_title->setText(title);
    label_status->clear();
    label_title->adjustSize();
    tableWidget->clear();
    tableWidget->setColumnCount(headers.size());
    tableWidget->setHorizontalHeaderLabels(headers);
    tableWidget->setRowCount(rows.size());
    for (int row = 0; row < rows.size(); ++row) {
        for (int column = 0; column < headers.size(); ++column) {
            auto *item = new QTableWidgetItem(rows.at(row).value(column));
            // Paths and reasons are long: the whole text stays readable in the tool tip.
            item->setToolTip(item->text());
            tableWidget->setItem(row, column, item);
        }
    }
    tableWidget->resizeColumnsToContents();
    // The path column takes at most half the table, so the others stay in view.
    if (tableWidget->columnWidth(0) > tableWidth / 2)
        tableWidget->setColumnWidth(0, tableWidth / 2);
}

bool ListDialog::saveCsv(const QString &path) const
{
    QString text = csvLine(headers);
    for (const QStringList &row : rows)
        text += csvLine(row);
    QSaveFile file(path);
    const QByteArray bytes = QByteArray("\xEF\xBB\xBF") + text.toUtf8();
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
}

int ListDialog::showList(QWidget *parent)
{
    QRect reference;
    if (parent)
        reference = parent->geometry();
    else if (!QGuiApplication::screens().isEmpty())
        reference = QGuiApplication::screens().first()->geometry();
    move(reference.x() + (reference.width() - dialogWidth) / 2,
         qMax(reference.y(), reference.y() + (reference.height() - dialogHeight) / 2));
    return exec();
}

void ListDialog::on_save()
{
    QString path = QFileDialog::getSaveFileName(this, QString(), QString(), QStringLiteral("*.csv"));
    if (path.isEmpty())
        return;
    if (!path.endsWith(QLatin1String(".csv"), Qt::CaseInsensitive))
        path += QStringLiteral(".csv");
    const QString shown = QDir::toNativeSeparators(path);
    label_status->setText(saveCsv(path) ? QStringLiteral("已保存：") + shown : QStringLiteral("无法写入：") + shown);
    label_status->setToolTip(label_status->text());
}

void ListDialog::on_close()
{
    reject();
}
