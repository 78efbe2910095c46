#include "producemain.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    ProduceMain *controller = new ProduceMain(nullptr);
    controller->showMainWindow();
    const int code = app.exec();
    delete controller;
    return code;
}
