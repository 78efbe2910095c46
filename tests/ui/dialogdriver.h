#ifndef DIALOGDRIVER_H
#define DIALOGDRIVER_H

#include <QList>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>

class QDialog;
class QFileDialog;
class QMessageBox;

// Drives the modal dialogs a test causes, from a timer, while their event loops
// run: every message dialog is read and closed with its OK button; file
// dialogs and question boxes get the actions queued for them, in order.
class DialogDriver : public QObject
{
    Q_OBJECT
public:
    explicit DialogDriver(QObject *parent = nullptr);

    void onFileDialog(std::function<void(QFileDialog *)> action);
    void onQuestion(std::function<void(QMessageBox *)> action);

    // Actions for the file dialogs of the Qt widget implementation.
    static void chooseDirectory(QFileDialog *dialog, const QString &path);
    static void chooseSaveFile(QFileDialog *dialog, const QString &path);
    static void cancel(QFileDialog *dialog);

    // The texts of the messages shown so far, line breaks of the wrapping removed.
    QStringList messages;
    // Where each message dialog was shown, as its top-left corner.
    QList<QPoint> messagePositions;
    int pendingActions() const;

private slots:
    void on_poll();
    void on_finished();

private:
    struct Action
    {
        bool forFileDialog;
        std::function<void(QFileDialog *)> fileAction;
        std::function<void(QMessageBox *)> questionAction;
    };

    void markHandled(QDialog *dialog);

    QTimer timer;
    QList<Action> actions;
    QPointer<QWidget> handled;
};

#endif
