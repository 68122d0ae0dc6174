// Test entry point of the application's tests: one QApplication on the
// offscreen platform for all cases.
#include <gtest/gtest.h>

#include <QApplication>

#include <cstdlib>

#include <unistd.h>

int main(int argc, char* argv[]) {
    // GLib's slice allocator (used by Qt's event dispatcher and by GMime,
    // which writes mail files) recycles blocks between threads under its own
    // locks, which ThreadSanitizer cannot see: it would take the reuse for a
    // race. GLib reads G_SLICE when it is loaded, before main, so the test
    // starts itself once more with it set.
    if (std::getenv("G_SLICE") == nullptr) {
        ::setenv("G_SLICE", "always-malloc", 1);
        ::execv("/proc/self/exe", argv);
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
