// The Qt tests need one QApplication for the whole run, on the offscreen platform unless told
// otherwise; so they bring their own main instead of gtest's.
#include <gtest/gtest.h>

#include <QApplication>
#include <QByteArray>

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));
    ::testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
