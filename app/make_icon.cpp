// Build-time helper: writes the application icon as a PNG file for the
// desktop entry. Usage: quirnel_make_icon FILE SIZE
#include <QGuiApplication>
#include <QImage>

#include <cstdio>
#include <cstdlib>

#include "pictures.h"

int main(int argc, char* argv[]) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: quirnel_make_icon FILE SIZE\n");
        return 64;
    }
    QGuiApplication app(argc, argv);
    const int size = std::atoi(argv[2]);
    if (size < 16 || size > 1024) {
        std::fprintf(stderr, "quirnel_make_icon: size must be 16 to 1024\n");
        return 64;
    }
    return DrawIconImage(size).save(QString::fromLocal8Bit(argv[1]), "PNG") ? 0 : 1;
}
