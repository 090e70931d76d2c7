// SPDX-License-Identifier: GPL-3.0-or-later
// zorvik-test-screenshot: saves what the X display shows (the whole screen, or a rectangle of
// it) as a PNG, so tests and demos can show what a user would have seen.
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <cstdio>

namespace {

const char* const kUsage = R"(Usage: zorvik-test-screenshot OUT.png [X Y WIDTH HEIGHT]

Saves the screen of the current X display ($DISPLAY) as OUT.png, or only the rectangle given
in pixels from the top-left corner. Exits 1 when there is no display or the file cannot be
written.
)";

}  // namespace

int main(int argc, char** argv) {
    const QByteArray first = argc > 1 ? QByteArray(argv[1]) : QByteArray();
    if (first == "-h" || first == "--help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc != 2 && argc != 6) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::fputs("zorvik-test-screenshot: no X display (DISPLAY is not set)\n", stderr);
        return 1;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication application(argc, argv);
    int rectangle[4] = {0, 0, -1, -1};
    for (int i = 0; argc == 6 && i < 4; ++i) {
        bool ok = false;
        rectangle[i] = QByteArray(argv[2 + i]).toInt(&ok);
        if (!ok) {
            std::fprintf(stderr, "zorvik-test-screenshot: not a whole number: %s\n", argv[2 + i]);
            return 2;
        }
    }
    const QPixmap picture = QGuiApplication::primaryScreen()->grabWindow(
        0, rectangle[0], rectangle[1], rectangle[2], rectangle[3]);
    if (picture.isNull() || !picture.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "zorvik-test-screenshot: could not write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
