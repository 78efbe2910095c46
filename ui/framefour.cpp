#include "framefour.h"

#include "artwork.h"
#include "btncolor.h"
#include "processbar.h"

#include <QColor>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMovie>
#include <QScrollBar>
#include <QTableWidget>

namespace {
const int columns = 3;

// A thin, transparent vertical scroll bar with a faint rounded handle and no arrows.
QString scrollBarStyleSheet()
{
    const QColor groove(255, 255, 255, 255);
    const QColor handle(0, 0, 0, 30);
    const QString separator = QStringLiteral(",");
    const QString grooveRgb = QString::number(groove.red()) + separator + QString::number(groove.green())
                              + separator + QString::number(groove.blue());
    const QString handleRgba = QString::number(handle.red()) + separator + QString::number(handle.green())
                               + separator + QString::number(handle.blue()) + separator
                               + QString::number(handle.alpha());
    return QStringLiteral("QScrollBar:vertical{width: 8px;background:rgba(") + grooveRgb
           + QStringLiteral(",0);margin:0px,0px,0px,0px;padding-top:0px;padding-bottom:0px;border:0px;}"
                            "QScrollBar::handle:vertical{width: 8px;background:rgba(")
           + handleRgba
           + QStringLiteral("); border-radius: 4px;min-height:20;}"
                            "QScrollBar::handle:vertical:hover{width: 8px;background:rgba(")
           + handleRgba
           + QStringLiteral("); border-radius: 4px;min-height:20;}"
                            "QScrollBar::add-line:vertical{height:0px;width:0px;subcontrol-position:bottom;}"
                            "QScrollBar::sub-line:vertical{height:0px;width:0px;subcontrol-position:top;}"
                            "QScrollBar::add-line:vertical:hover{height:0px;width:0px;subcontrol-position:bottom;}"
                            "QScrollBar::sub-line:vertical:hover{height:0px;width:0px;subcontrol-position:top;}"
                            "QScrollBar::add-page:vertical,QScrollBar::sub-page:vertical{background:rgba(")
           + grooveRgb + QStringLiteral(",0); border-radius: 4px;}");
}
}

FrameFour::FrameFour(QWidget *parent)
    : FrameBase(parent)
{
    label_info = addTextLabel(QStringLiteral("label_info"), QPoint(180, 188), QStringLiteral(
        "信息确认：搜索到的需要提取特征码的软件如下表所示，确认完毕后，点击“提取”\r\n"
        "                按钮进行信息提取；等待提取完毕后，点击“下一步”继续操作。"));

    label_list = addTextLabel(QStringLiteral("label_list"), QPoint(180, 244), QStringLiteral("软件列表："));

    tableWidget = new QTableWidget(this);
    tableWidget->setObjectName(QStringLiteral("tableWidget"));
    tableWidget->setGridStyle(Qt::NoPen);
    tableWidget->horizontalHeader()->setVisible(false);
    tableWidget->verticalHeader()->setVisible(false);
    tableWidget->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    tableWidget->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    tableWidget->setColumnCount(columns);
    tableWidget->move(262, 242);
    tableWidget->setFixedSize(500, 180);
    for (int column = 0; column < columns; ++column)
        tableWidget->setColumnWidth(column, 160);
    tableWidget->setFocusPolicy(Qt::NoFocus);
    // One line per name: a long name is elided, its tool tip shows it whole.
    tableWidget->setWordWrap(false);
    tableWidget->setFont(pageFont(12));
    tableWidget->setSelectionMode(QAbstractItemView::NoSelection);
    tableWidget->setStyleSheet(QStringLiteral("border:0px solid black;"));
    tableWidget->verticalScrollBar()->setStyleSheet(scrollBarStyleSheet());
    tableWidget->setAttribute(Qt::WA_MouseTracking, true);

    movie = new QMovie(Artwork::fileFor(QStringLiteral("://img/load.gif"), devicePixelRatioF()), QByteArray(), this);
    movie->setObjectName(QStringLiteral("movie"));
    movie->start();

    label_movie = new QLabel;
    label_movie->setObjectName(QStringLiteral("label_movie"));
    label_movie->setMovie(movie);

    label_loadingText = new QLabel;
    label_loadingText->setObjectName(QStringLiteral("label_loadingText"));
    label_loadingText->setFont(pageFont(12));
    label_loadingText->setStyleSheet(QStringLiteral("color:#38A4F5;background:white"));
    label_loadingText->setText(QStringLiteral("正在加载"));

    // Created after the grid with the same geometry, so it lies on top of it.
    label_loading = new QLabel(this);
    label_loading->setObjectName(QStringLiteral("label_loading"));
    label_loading->setStyleSheet(QStringLiteral("background:white"));
    label_loading->move(262, 242);
    label_loading->setFixedSize(500, 180);

    layout_loading = new QHBoxLayout(label_loading);
    layout_loading->setObjectName(QStringLiteral("layout_loading"));
    layout_loading->addWidget(label_movie, 0, Qt::AlignRight);
    layout_loading->addWidget(label_loadingText, 0, Qt::AlignLeft);

    processBar = new ProcessBar(17, 17, QColor(QStringLiteral("#38A4F5")), QColor(QStringLiteral("#DFDFDF")), 0, 0,
                                pageFont(12), Qt::black, this);
    processBar->setObjectName(QStringLiteral("processBar"));
    processBar->setTextVisible(false);
    processBar->setFixedSize(310, 17);
    processBar->move(262, 440);
    processBar->setTextVisible(true);
    processBar->show();

    btnColor_software = new BtnColor(86, 32, QStringLiteral("提取"), this);
    btnColor_software->setObjectName(QStringLiteral("btnColor_software"));
    applyFilledStyle(btnColor_software);
    btnColor_software->move(580, 432);

    btnColor_frush = new BtnColor(86, 32, QStringLiteral("刷新"), this);
    btnColor_frush->setObjectName(QStringLiteral("btnColor_frush"));
    applyOutlinedStyle(btnColor_frush);
    btnColor_frush->move(676, 432);

    connect(btnColor_software, SIGNAL(signal_click()), this, SLOT(on_software()));
    connect(btnColor_frush, SIGNAL(signal_click()), this, SLOT(on_frush()));

    setBanner(picture(QStringLiteral("://img/banner_3.png")));
    setTitle(QStringLiteral("提取软件信息"));
    setNextButton(false, QStringLiteral("下一步"));
    setPreButton(true);
    resetList();
    setNextButton(false, QStringLiteral("下一步"));
}

void FrameFour::resetList()
{
    tableWidget->setRowCount(0);
    label_loading->show();
    btnColor_software->setBtnEnabled(false);
    processBar->setValue(0);
    btnColor_frush->setBtnEnabled(false);
}

void FrameFour::setSoftwareList(QList<QString> names)
{
    const int n = names.size();
    tableWidget->setRowCount(0);
    tableWidget->setRowCount(n / columns + (n % columns > 0 ? 1 : 0));
    for (int i = 0; i < n; ++i) {
        // A name too long for its cell is elided by the view and readable in the tool tip.
        QTableWidgetItem *item = new QTableWidgetItem;
        item->setText(names.at(i));
        item->setStatusTip(names.at(i));
        item->setToolTip(names.at(i));
        item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
        tableWidget->setItem(i / columns, i % columns, item);
    }
    label_loading->hide();
    btnColor_software->setBtnEnabled(true);
    btnColor_frush->setBtnEnabled(true);
}

void FrameFour::setProgress(int index, int count)
{
    processBar->setMaximum(count);
    processBar->setValue(index);
    if (index == count)
        endExtraction();
}

void FrameFour::enableNext()
{
    setNextButton(true, QStringLiteral("下一步"));
}

void FrameFour::endExtraction()
{
    setPreButton(true);
    btnColor_software->setBtnEnabled(true);
    btnColor_frush->setBtnEnabled(true);
}

void FrameFour::on_software()
{
    if (tableWidget->rowCount() == 0) {
        emit signal_showMsg(false,
                            QStringLiteral("没有找到可以提取的安装包或绿色软件，请返回“选择路径”步骤重新指定目录。"), 0,
                            QStringLiteral("关闭"), QString(), nullptr);
        return;
    }

    setNextButton(false, QStringLiteral("下一步"));
    setPreButton(false);
    btnColor_software->setBtnEnabled(false);
    btnColor_frush->setBtnEnabled(false);
    emit signal_software();
}

void FrameFour::on_frush()
{
    resetList();
    emit signal_frush();
}
