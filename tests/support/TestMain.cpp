#include <QApplication>
#include <gtest/gtest.h>

// Every test runs inside a QApplication on the offscreen platform, so window
// tests and core tests share one main.
int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
