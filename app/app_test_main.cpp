// Test entry point of the application's tests: one QApplication on the
// offscreen platform for all cases.
#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // GLib's slice allocator (used by Qt's event dispatcher and by GMime,
    // which writes mail files) recycles blocks between threads through its
    // own uninstrumented locks; ThreadSanitizer would take the reuse for a
    // race. With plain malloc it sees the real hand-over. Set before GLib
    // first allocates, which is the QApplication below.
    qputenv("G_SLICE", "always-malloc");
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
