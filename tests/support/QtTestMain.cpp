// The main of every test executable: an application object for Qt, then GoogleTest.
#include <gmock/gmock.h>

#include <QGuiApplication>

int main(int argc, char** argv) {
    // Unit tests need no display; integration tests that do ask for xcb, and skip outside the
    // private session, where there is no display to open.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") ||
        (qEnvironmentVariable("QT_QPA_PLATFORM") == "xcb" && qEnvironmentVariableIsEmpty("DISPLAY"))) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QGuiApplication application(argc, argv);
    testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
