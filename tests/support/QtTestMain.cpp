// SPDX-License-Identifier: GPL-3.0-or-later
// The main of every test executable: an application object for Qt, then GoogleTest.
#include <gmock/gmock.h>

#include <QApplication>
#include <cstring>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    // Unit tests need no display. Integration tests that do are registered with
    // "-platform xcb"; outside the private session there is no display to open, so they run
    // offscreen there and skip what needs one.
    std::string platform = qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")
                               ? "offscreen"
                               : qEnvironmentVariable("QT_QPA_PLATFORM").toStdString();
    std::vector<char*> arguments;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0 && i + 1 < argc) {
            platform = argv[++i];
            continue;
        }
        arguments.push_back(argv[i]);
    }
    if (platform == "xcb" && qEnvironmentVariableIsEmpty("DISPLAY")) {
        platform = "offscreen";
    }
    qputenv("QT_QPA_PLATFORM", QByteArray::fromStdString(platform));
    int count = static_cast<int>(arguments.size());
    arguments.push_back(nullptr);
    // Widgets need the full application object; everything else is content with it too.
    QApplication application(count, arguments.data());
    testing::InitGoogleMock(&count, arguments.data());
    return RUN_ALL_TESTS();
}
