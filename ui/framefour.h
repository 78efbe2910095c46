#ifndef FRAMEFOUR_H
#define FRAMEFOUR_H

#include "framebase.h"

#include <QList>
#include <QString>

class BtnColor;
class ProcessBar;
class QHBoxLayout;
class QLabel;
class QMovie;
class QTableWidget;

// Page 4: the names the scan found, three to a row, the extract and refresh
// buttons and the extraction progress. States: loading, listed, extracting,
// extracted, done.
class FrameFour : public FrameBase
{
    Q_OBJECT
public:
    explicit FrameFour(QWidget *parent = nullptr);

    // A new scan has begun: empty grid, loading panel, extract and refresh disabled, progress 0.
    void resetList();
    void setSoftwareList(QList<QString> names);
    void setProgress(int index, int count);
    // The export file was written: the next step is open.
    void enableNext();
    // The extraction is over, at its last step or earlier: extract, refresh and previous work again.
    void endExtraction();

signals:
    void signal_software();
    void signal_showMsg(bool isChooseMode, QString msg, int type, QString btnOkMsg, QString btnCancelMsg,
                        QWidget *parent);
    void signal_frush();

private slots:
    void on_software();
    void on_frush();

private:
    QHBoxLayout *layout_loading;
    BtnColor *btnColor_software;
    BtnColor *btnColor_frush;
    QLabel *label_info;
    QLabel *label_list;
    QLabel *label_loading;
    QLabel *label_movie;
    QLabel *label_loadingText;
    QMovie *movie;
    QTableWidget *tableWidget;
    ProcessBar *processBar;
};

#endif
