// The main of every test executable: an application object for Qt, then GoogleTest.
#include <gmock/gmock.h>

#include <QGuiApplication>

int main(int argc, char** argv) {
    // Unit tests need no display; integration tests that do set xcb themselves.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QGuiApplication application(argc, argv);
    testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
