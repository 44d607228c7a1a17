#include "common/QtUi.h"
#include "support/ModalDialog.h"

#include <QApplication>
#include <gtest/gtest.h>

// Every test runs inside a QApplication on the offscreen platform, so window
// tests and core tests share one main.
int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // The windows read Chinese throughout, Qt's own buttons and dialogs too.
    if (!ov::LoadQtChineseTranslation())
        qWarning("Qt's Chinese translation (qt6-translations-l10n) is not installed");
    ::testing::InitGoogleTest(&argc, argv);
    ovtest::InstallDialogGuard();
    return RUN_ALL_TESTS();
}
