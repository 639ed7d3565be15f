// Test main: an error report that records instead of ending the program;
// for the programs that test widgets, an application on Qt's offscreen
// platform unless one is chosen. The others need no application: what they
// test runs without one in the program too (loading, drawing, handlers).
#include "support.h"

#include "platform/controls.h"

#ifdef KORVANE_TEST_WIDGETS
#include <QApplication>
#endif

#include <gtest/gtest.h>

namespace korvane::test {
void installRecordingReporter();
}

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
#ifdef KORVANE_TEST_SCALE_FACTOR
    qputenv("QT_SCALE_FACTOR", KORVANE_TEST_SCALE_FACTOR);
#endif
    // The programs the tests start keep their runtime files here, as a
    // desktop session would give them a directory of their own.
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"))
        qputenv("XDG_RUNTIME_DIR", korvane::test::tempDir().c_str());
    // No session bus here. Without an address libdbus would fork
    // dbus-launch from Qt's D-Bus thread while the decoders' threads
    // allocate; under AddressSanitizer, whose allocator a fork can leave
    // locked, that child hung about once in 150 starts, and with it the
    // window (the accessibility bridge waits for the bus as the caption is
    // set). An address that fails at once is what a session without a bus
    // whose launcher is missing amounts to.
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        qputenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + korvane::test::tempDir() + "/no-session-bus").c_str());
    ::testing::InitGoogleTest(&argc, argv);
#ifdef KORVANE_TEST_WIDGETS
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    korvane::setDevicePixelRatio(app.devicePixelRatio());
#endif
    korvane::test::installRecordingReporter();
    return RUN_ALL_TESTS();
}
