// Test main: Qt's offscreen platform unless one is chosen, and an error
// report that records instead of ending the program.
#include <QApplication>

#include <gtest/gtest.h>

namespace korvane::test {
void installRecordingReporter();
}

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    korvane::test::installRecordingReporter();
    return RUN_ALL_TESTS();
}
