// Entry point of the Quirnel application.
#include <QApplication>

#include "quirnel_app.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    // The message boxes' caption is the program file's base name, which
    // QApplication takes from argv[0] when no name is set.
    theApp.InitInstance();
    return 0;
}
