#ifndef MESSAGECATCHER_H
#define MESSAGECATCHER_H

#include <QApplication>
#include <QLabel>
#include <QStringList>
#include <QTimer>

#include <functional>

// Reads and closes every modal message the program shows, the way a user would. The
// texts are kept as the dialog shows them, with the line breaks of its own wrapping.
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

    QStringList messages;

private:
    void check()
    {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal)
            return;
        auto *label = modal->findChild<QLabel *>(QStringLiteral("label_msg"));
        messages.append(label ? label->text() : QStringLiteral("<not the message dialog>"));
        if (onMessage)
            onMessage(messages.last());
        QMetaObject::invokeMethod(modal, "on_ok");
    }

    std::function<void(const QString &)> onMessage;
    QTimer timer;
};

#endif
