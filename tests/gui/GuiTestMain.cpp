// The GUI tests need one QApplication; they run on the offscreen platform unless the
// environment names another (an Xvfb display, say), in English unless a test says otherwise.
#include "TestLanguage.h"

#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    runTestsInEnglish();
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
