// The Qt tests need one QApplication for the whole run, on the offscreen platform unless told
// otherwise; so they bring their own main instead of gtest's.
#include <gtest/gtest.h>

#include <QApplication>
#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));
    // The machine lock on the boards of this test process and the programs it starts: ctest runs
    // test processes side by side, whose windows and runs would otherwise wait for each other.
    QTemporaryDir lockDir;
    if (lockDir.isValid()) qputenv("HALVORN_LOCK_DIR", QFile::encodeName(lockDir.path()));
    ::testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
