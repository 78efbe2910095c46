#ifndef LISTDIALOG_H
#define LISTDIALOG_H

#include "shadowdialog.h"

#include <QFont>
#include <QList>
#include <QString>
#include <QStringList>

class BtnColor;
class BtnLabel;
class QLabel;
class QTableWidget;
class WidgetMove;

// A list of files under the message dialog's look: a blue title strip, a table of
// rows and two buttons, one to save the rows as CSV and one to close. Runs modally.
class ListDialog : public ShadowDialog
{
    Q_OBJECT
public:
    explicit ListDialog(QWidget *parent = nullptr);

    // Replaces the table: its column titles and its rows (each as many texts as titles).
    void setRows(const QString &title, const QStringList &headers, const QList<QStringList> &rows);
    // Writes the titles and rows as CSV (UTF-8 with a byte-order mark, which
    // spreadsheets need to read Chinese text as such). False when it cannot be written.
    bool saveCsv(const QString &path) const;
    // Shows the rows modally, centred on parent (the first screen when null).
    int showList(QWidget *parent);

public slots:
    void on_save();
    void on_close();

private:
    WidgetMove *widgetMove;
    QLabel *label_title;
    BtnLabel *btnLabel_close;
    QLabel *label_back;
    QTableWidget *tableWidget;
    QLabel *label_status;
    BtnColor *btnColor_save;
    BtnColor *btnColor_close;
    QFont dialogFont;
    QStringList headers;
    QList<QStringList> rows;
};

#endif
