// Entry point of the Quirnel application.
#include <QApplication>
#include <QTranslator>

#include <csignal>

#include "language.h"
#include "pictures.h"
#include "quirnel_app.h"

int main(int argc, char* argv[]) {
    // A server or a reader that goes away must give a write error to
    // handle, not end the process without a word.
    std::signal(SIGPIPE, SIG_IGN);
    QApplication app(argc, argv);
    // Message boxes and file dialogs carry the program's icon as well.
    QApplication::setWindowIcon(LoadAppIcon());
    // Qt's own texts (the file dialog's) in the program's language.
    QTranslator qtTexts;
    if (LoadQtTranslations(qtTexts)) QApplication::installTranslator(&qtTexts);
    // The message boxes' caption is the program file's base name, which
    // QApplication takes from argv[0] when no name is set.
    theApp.InitInstance();
    return 0;
}
