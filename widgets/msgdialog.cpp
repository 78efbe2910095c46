#include "msgdialog.h"

#include "artwork.h"
#include "btncolor.h"
#include "btnlabel.h"
#include "widgetmove.h"

#include <QEventLoop>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QPixmap>
#include <QScreen>
#include <QtGlobal>

#include <limits>
#include <memory>

namespace {
const int dialogWidth = 316;
const int dialogHeight = 190;
const int buttonY = 101;
// label_back starts this far right of the dialog's edge; positions inside it subtract it.
const int bodyOffset = 10;
const int wrapWidth = 200;
// Room left for a task bar when the dialog would leave the bottom of the screen.
const int bottomReserve = 50;

BtnColorStyle buttonStyle(const QColor &text, const QColor &background, const QColor &border, const QFont &font)
{
    return BtnColorStyle{text, font, background, border, 1, 2, 2};
}

bool isAsciiLetter(QChar c)
{
    return (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) || (c >= QLatin1Char('a') && c <= QLatin1Char('z'));
}

int distanceSquared(const QRect &area, const QPoint &point)
{
    const int dx = point.x() < area.left() ? area.left() - point.x() : qMax(0, point.x() - area.right());
    const int dy = point.y() < area.top() ? area.top() - point.y() : qMax(0, point.y() - area.bottom());
    return dx * dx + dy * dy;
}
}

MsgDialog::MsgDialog(QWidget *parent)
    : ShadowDialog(parent)
    , msgParent(nullptr)
    , msgResult(-1)
    , requestOnScreen(false)
    , insideExec(false)
{
    dialogFont.setFamily(QStringLiteral("微软雅黑"));
    dialogFont.setPixelSize(14);

    widgetMove = new WidgetMove(this, false);
    widgetMove->setStyleSheet(QStringLiteral("background:rgb(56 , 164 , 245);"));
    widgetMove->setFixedHeight(30);

    label_title = new QLabel(widgetMove);
    label_title->setText(QStringLiteral("提示"));
    label_title->move(12, 6);
    label_title->setFont(dialogFont);
    label_title->setStyleSheet(QStringLiteral("color:white;"));

    btnLabel_close = new BtnLabel(widgetMove);
    btnLabel_close->setNormalStyleSheet(QStringLiteral(
        "QLabel{background-image:url(://img/banner-close-nor.png);background-repeat:no-repeat;}"
        "QLabel:hover{background-image:url(://img/banner-close-hov.png);background-repeat:no-repeat;}"
        "QLabel:press{background-image:url(://img/banner-close-pre.png);background-repeat:no-repeat;}"));
    btnLabel_close->move(275, 9);
    btnLabel_close->setFixedSize(12, 12);
    connect(btnLabel_close, SIGNAL(signal_clicked()), this, SLOT(on_close()));

    label_back = new QLabel(this);
    label_back->setStyleSheet(QStringLiteral("background:rgb(255 , 255 , 255); "));

    label_icon = new QLabel(label_back);
    label_icon->setPixmap(Artwork::load(QStringLiteral("://img/warn.png"), devicePixelRatioF()));
    label_icon->show();

    label_msg = new QLabel(label_back);
    label_msg->setFont(dialogFont);
    label_msg->setStyleSheet(QStringLiteral("color:rgb(30,30,31);"));
    label_msg->setFixedWidth(240);

    const QColor blue(56, 164, 245);
    const QColor lightBlue(99, 193, 255);
    const QColor darkBlue(37, 128, 207);
    const QColor grey(214, 217, 222);

    btnColor_cancel = new BtnColor(90, 28, QStringLiteral("关闭"), label_back);
    btnColor_cancel->setNormalStyle(buttonStyle(QColor("#444546"), Qt::white, QColor("#9C9EA2"), dialogFont));
    btnColor_cancel->setHoverStyle(buttonStyle(lightBlue, Qt::white, lightBlue, dialogFont));
    btnColor_cancel->setPressStyle(buttonStyle(darkBlue, Qt::white, darkBlue, dialogFont));
    btnColor_cancel->setDisableStyle(buttonStyle(grey, Qt::white, grey, dialogFont));
    btnColor_cancel->hide();
    connect(btnColor_cancel, SIGNAL(signal_click()), this, SLOT(on_cancel()));

    btnColor_ok = new BtnColor(90, 28, QStringLiteral("确定"), label_back);
    btnColor_ok->setNormalStyle(buttonStyle(Qt::white, blue, blue, dialogFont));
    btnColor_ok->setHoverStyle(buttonStyle(Qt::white, lightBlue, lightBlue, dialogFont));
    btnColor_ok->setPressStyle(buttonStyle(Qt::white, darkBlue, darkBlue, dialogFont));
    btnColor_ok->setDisableStyle(buttonStyle(Qt::white, grey, grey, dialogFont));
    btnColor_ok->hide();
    connect(btnColor_ok, SIGNAL(signal_click()), this, SLOT(on_ok()));

    // Named after their members, so the window's tests and the dialog's own can find them.
    widgetMove->setObjectName(QStringLiteral("widgetMove"));
    label_title->setObjectName(QStringLiteral("label_title"));
    btnLabel_close->setObjectName(QStringLiteral("btnLabel_close"));
    label_back->setObjectName(QStringLiteral("label_back"));
    label_icon->setObjectName(QStringLiteral("label_icon"));
    label_msg->setObjectName(QStringLiteral("label_msg"));
    btnColor_cancel->setObjectName(QStringLiteral("btnColor_cancel"));
    btnColor_ok->setObjectName(QStringLiteral("btnColor_ok"));

    gridLayout = new QGridLayout(this);
    gridLayout->addWidget(widgetMove, 0, 0, 1, 1);
    gridLayout->addWidget(label_back, 1, 0, 1, 1);
    // The body ends 10 pixels above the bottom, inside the painted white rectangle.
    gridLayout->setContentsMargins(10, 0, 10, 10);

    if (parent)
        setWindowFlags(Qt::Tool | Qt::FramelessWindowHint);

    setFixedSize(dialogWidth, dialogHeight);
    setModal(true);
    setWindowTitle(QStringLiteral("本地软件配置助手"));
}

int MsgDialog::showMsg(bool isChooseMode, QString msg, int type, QString btnOkMsg, QString btnCancelMsg,
                       QWidget *parent)
{
    Request request{isChooseMode, msg, type, btnOkMsg, btnCancelMsg, parent, -1, false, false};
    return queue(request);
}

int MsgDialog::askMsg(QString msg, int type, QString btnOkMsg, QString btnCancelMsg, QWidget *parent)
{
    Request request{true, msg, type, btnOkMsg, btnCancelMsg, parent, -1, false, true};
    return queue(request);
}

int MsgDialog::queue(Request &request)
{
    pendingRequests.append(&request);
    // A request made while another is on screen comes from that dialog's nested event loop. It waits;
    // whichever call runs innermost when the screen is free shows the oldest request, so they appear
    // one after the other in the order they were made.
    while (!request.done) {
        if (requestOnScreen)
            waitForTurn();
        else
            present(pendingRequests.takeFirst());
    }
    return request.result;
}

void MsgDialog::waitForTurn()
{
    QEventLoop loop;
    waitingLoops.append(&loop);
    loop.exec();
    waitingLoops.removeOne(&loop);
}

void MsgDialog::present(Request *request)
{
    requestOnScreen = true;
    // This dialog's exec() may still be further down the stack, closed but not yet returned while
    // calls above it wait; QDialog cannot run exec() twice, so a stand-in shows the request then.
    std::unique_ptr<MsgDialog> standIn;
    MsgDialog *dialog = this;
    if (insideExec) {
        standIn.reset(new MsgDialog(parentWidget()));
        standIn->msgResult = msgResult;
        dialog = standIn.get();
    }
    dialog->layOut(*request);
    if (request->escapeCloses)
        dialog->msgResult = 2;

    // The turn ends when the dialog closes, which can be long before its exec() returns here.
    QObject connectionScope;
    connect(dialog, &QDialog::finished, &connectionScope, [this, dialog, request] {
        if (request->done)
            return;
        msgResult = dialog->msgResult;
        request->result = msgResult;
        request->done = true;
        requestOnScreen = false;
        for (QEventLoop *loop : qAsConst(waitingLoops))
            loop->quit();
    });
    dialog->exec();
}

void MsgDialog::layOut(const Request &request)
{
    msgParent = request.parent;
    btnColor_ok->setText(request.btnOkMsg);
    btnColor_cancel->setText(request.btnCancelMsg);

    const QFontMetrics buttonMetrics(dialogFont);
    const int okWidth = qMax(buttonMetrics.boundingRect(request.btnOkMsg).width(), 60) + 4;
    btnColor_ok->setFixedWidth(okWidth);
    btnColor_ok->show();
    if (request.isChooseMode) {
        const int cancelWidth = qMax(buttonMetrics.boundingRect(request.btnCancelMsg).width(), 60) + 4;
        btnColor_cancel->setFixedWidth(cancelWidth);
        btnColor_cancel->show();
        const int s = (dialogWidth - okWidth - cancelWidth - 20) / 2;
        btnColor_ok->move(s - bodyOffset, buttonY);
        btnColor_cancel->move(s + okWidth + bodyOffset, buttonY);
    } else {
        btnColor_cancel->hide();
        btnColor_ok->move((dialogWidth - okWidth) / 2 - bodyOffset, buttonY);
    }

    switch (request.type) {
    case 0:
        label_icon->setPixmap(Artwork::load(QStringLiteral("://img/warn.png"), devicePixelRatioF()));
        break;
    case 1:
        label_icon->setPixmap(Artwork::load(QStringLiteral("://img/ok.png"), devicePixelRatioF()));
        break;
    case 2:
        label_icon->setPixmap(Artwork::load(QStringLiteral("://img/msg_err.png"), devicePixelRatioF()));
        break;
    default:
        break;
    }

    // Each paragraph is measured as one growing line, so the limit grows by one line's width per
    // break; a run of ASCII letters is never split, it breaks at the first character after it.
    const QFontMetrics fm(label_msg->font());
    const QString lineBreak = QStringLiteral("\r\n");
    const QStringList parts = request.msg.split(lineBreak, Qt::KeepEmptyParts, Qt::CaseSensitive);
    QString result;
    int maxWidth = 0;
    int sumHeight = 0;
    for (int i = 0; i < parts.size(); ++i) {
        const QString &part = parts.at(i);
        QString acc;
        int lines = 1;
        int limit = wrapWidth;
        for (int k = 0; k < part.size(); ++k) {
            const QChar c = part.at(k);
            acc.append(c);
            if (fm.boundingRect(acc).width() > limit) {
                const bool insideWord = isAsciiLetter(c) && k > 0 && isAsciiLetter(part.at(k - 1));
                if (!insideWord) {
                    acc.insert(acc.length() - 1, lineBreak);
                    ++lines;
                    limit += wrapWidth;
                }
            }
        }
        maxWidth = qMax(maxWidth, qMin(fm.boundingRect(acc).width(), wrapWidth));
        sumHeight += lines * fm.lineSpacing();
        result += acc;
        if (i + 1 < parts.size())
            result += lineBreak;
    }

    label_msg->setText(result);
    label_msg->setFixedHeight(sumHeight);
    label_msg->move((dialogWidth - maxWidth) / 2, (149 - sumHeight) / 2 - 20);
    label_icon->move(label_msg->x() - 20, label_msg->y() + 2);
}

QPoint MsgDialog::placement(const QRect &reference, const QSize &dialogSize, const QList<QRect> &screenAreas)
{
    int x = reference.x() + (reference.width() - dialogSize.width()) / 2;
    int y = reference.y() + (reference.height() - dialogSize.height()) / 2;
    if (screenAreas.isEmpty())
        return QPoint(x, y);

    // Clamped to one screen, not to the sum of all of them: with screens side by side a sum would let
    // the modal dialog land below every screen, out of the user's reach.
    const QPoint centre(x + dialogSize.width() / 2, y + dialogSize.height() / 2);
    QRect area = screenAreas.first();
    int best = std::numeric_limits<int>::max();
    for (const QRect &candidate : screenAreas) {
        const int distance = distanceSquared(candidate, centre);
        if (distance < best) {
            best = distance;
            area = candidate;
        }
    }

    if (x < area.left())
        x = area.left();
    if (y < area.top())
        y = area.top();
    if (x + dialogSize.width() > area.left() + area.width())
        x = area.left() + area.width() - dialogSize.width();
    if (y + dialogSize.height() > area.top() + area.height())
        y = area.top() + area.height() - dialogSize.height() - bottomReserve;
    return QPoint(x, y);
}

int MsgDialog::exec()
{
    btnLabel_close->update();

    const QList<QScreen *> screens = QGuiApplication::screens();
    QList<QRect> screenAreas;
    for (const QScreen *screen : screens)
        screenAreas.append(screen->geometry());

    QRect reference;
    if (msgParent)
        reference = QRect(msgParent->x(), msgParent->y(), msgParent->width(), msgParent->height());
    else if (!screenAreas.isEmpty())
        reference = screenAreas.first();
    move(placement(reference, QSize(dialogWidth, dialogHeight), screenAreas));

    insideExec = true;
    const int code = QDialog::exec();
    insideExec = false;
    return code;
}

void MsgDialog::on_close()
{
    msgResult = 2;
    reject();
}

void MsgDialog::on_cancel()
{
    msgResult = 1;
    reject();
}

void MsgDialog::on_ok()
{
    msgResult = 0;
    accept();
}
