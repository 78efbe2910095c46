#include "dialogdriver.h"

#include "btncolor.h"
#include "msgdialog.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

DialogDriver::DialogDriver(QObject *parent)
    : QObject(parent)
{
    connect(&timer, &QTimer::timeout, this, &DialogDriver::on_poll);
    timer.start(10);
}

void DialogDriver::onFileDialog(std::function<void(QFileDialog *)> action)
{
    actions.append(Action{true, action, nullptr});
}

void DialogDriver::onQuestion(std::function<void(QMessageBox *)> action)
{
    actions.append(Action{false, nullptr, action});
}

int DialogDriver::pendingActions() const
{
    return actions.size();
}

namespace {
void clickDialogButton(QFileDialog *dialog, QList<QDialogButtonBox::StandardButton> candidates)
{
    QDialogButtonBox *box = dialog->findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"));
    for (QDialogButtonBox::StandardButton which : candidates) {
        if (QPushButton *button = box ? box->button(which) : nullptr) {
            QTest::mouseClick(button, Qt::LeftButton);
            return;
        }
    }
    qWarning("file dialog without the expected button");
    static_cast<QDialog *>(dialog)->reject();
}
}

void DialogDriver::chooseDirectory(QFileDialog *dialog, const QString &path)
{
    // With an empty name field the dialog chooses the folder it shows.
    dialog->setDirectory(path);
    clickDialogButton(dialog, {QDialogButtonBox::Open});
}

void DialogDriver::chooseSaveFile(QFileDialog *dialog, const QString &path)
{
    dialog->setDirectory(QFileInfo(path).absolutePath());
    QLineEdit *nameField = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
    nameField->setText(QFileInfo(path).fileName());
    clickDialogButton(dialog, {QDialogButtonBox::Save});
}

void DialogDriver::cancel(QFileDialog *dialog)
{
    clickDialogButton(dialog, {QDialogButtonBox::Cancel});
}

// The message dialog is reused for every message, so a dialog counts as handled only until it closes.
void DialogDriver::markHandled(QDialog *dialog)
{
    handled = dialog;
    connect(dialog, SIGNAL(finished(int)), this, SLOT(on_finished()), Qt::UniqueConnection);
}

void DialogDriver::on_finished()
{
    handled = nullptr;
}

void DialogDriver::on_poll()
{
    QWidget *modal = QApplication::activeModalWidget();
    if (!modal || modal == handled || !modal->isVisible())
        return;

    if (MsgDialog *message = qobject_cast<MsgDialog *>(modal)) {
        markHandled(message);
        QStringList texts;
        const QList<QLabel *> labels = message->findChildren<QLabel *>();
        for (QLabel *label : labels) {
            if (!label->text().isEmpty() && label->text() != QStringLiteral("提示"))
                texts.append(label->text().remove(QStringLiteral("\r\n")));
        }
        messages.append(texts.join(QLatin1Char('|')));
        messagePositions.append(message->pos());
        // OK closes every message; the other button may open more (the list of files after an export).
        BtnColor *button = message->findChild<BtnColor *>(QStringLiteral("btnColor_ok"));
        if (button && button->isVisible()) {
            // Clicked from its own timer, so this poll returns before the dialog's loop ends.
            QTimer::singleShot(0, button, [button] { QTest::mouseClick(button, Qt::LeftButton); });
        }
        return;
    }

    if (actions.isEmpty())
        return;
    QFileDialog *fileDialog = qobject_cast<QFileDialog *>(modal);
    QMessageBox *question = qobject_cast<QMessageBox *>(modal);
    const Action &next = actions.first();
    if (next.forFileDialog && fileDialog) {
        markHandled(fileDialog);
        const auto action = actions.takeFirst().fileAction;
        // Deferred: accepting may open a question box whose loop must not run inside this poll.
        QTimer::singleShot(0, fileDialog, [action, fileDialog] { action(fileDialog); });
    } else if (!next.forFileDialog && question) {
        markHandled(question);
        const auto action = actions.takeFirst().questionAction;
        QTimer::singleShot(0, question, [action, question] { action(question); });
    }
}
