#ifndef MESSAGECATCHER_H
#define MESSAGECATCHER_H

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QStringList>
#include <QTimer>

#include <functional>

// Reads and closes every modal message the program shows, the way a user would. The
// dialog breaks long texts with "\r\n" itself, so texts are kept without line breaks.
class MessageCatcher
{
public:
    explicit MessageCatcher(std::function<void(const QString &)> onMessage = {})
        : onMessage(std::move(onMessage))
    {
        timer.setInterval(20);
        QObject::connect(&timer, &QTimer::timeout, [this] { check(); });
        timer.start();
    }

    static QString withoutLineBreaks(QString text) { return text.remove(QLatin1String("\r\n")); }

    QStringList messages;

private:
    void check()
    {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal)
            return;
        QString text;
        if (auto *box = qobject_cast<QMessageBox *>(modal))
            text = box->text();
        else if (auto *label = modal->findChild<QLabel *>(QStringLiteral("label_msg")))
            text = label->text();
        messages.append(withoutLineBreaks(text));
        if (onMessage)
            onMessage(messages.last());

        if (modal->metaObject()->indexOfSlot("on_ok()") >= 0)
            QMetaObject::invokeMethod(modal, "on_ok");
        else if (auto *box = qobject_cast<QMessageBox *>(modal))
            box->buttons().constFirst()->click();
    }

    std::function<void(const QString &)> onMessage;
    QTimer timer;
};

#endif
