// SPDX-License-Identifier: GPL-3.0-or-later
// zorvik-render-icon: renders the application's scalable icon into the fixed-size PNG files of
// the icon theme, at build time, with Qt's own SVG renderer.
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdio>

namespace {

const char* const kUsage = R"(Usage: zorvik-render-icon ICON.svg SIZE OUT.png [SIZE OUT.png ...]

Renders ICON.svg into a square PNG of SIZE pixels for each pair, with a transparent background,
creating the folders of OUT.png as needed.
)";

}  // namespace

int main(int argc, char** argv) {
    const QByteArray first = argc > 1 ? QByteArray(argv[1]) : QByteArray();
    if (first == "-h" || first == "--help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc < 4 || argc % 2 != 0) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    QSvgRenderer renderer(QString::fromLocal8Bit(argv[1]));
    if (!renderer.isValid()) {
        std::fprintf(stderr, "zorvik-render-icon: cannot read %s as SVG\n", argv[1]);
        return 1;
    }
    for (int i = 2; i < argc; i += 2) {
        bool ok = false;
        const int size = QByteArray(argv[i]).toInt(&ok);
        if (!ok || size < 1 || size > 4096) {
            std::fprintf(stderr, "zorvik-render-icon: not a size in pixels: %s\n", argv[i]);
            return 2;
        }
        const QString out = QString::fromLocal8Bit(argv[i + 1]);
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        {
            QPainter painter(&image);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
            renderer.render(&painter, QRectF(0, 0, size, size));
        }
        if (!QDir().mkpath(QFileInfo(out).path()) ||
            !image.convertToFormat(QImage::Format_ARGB32).save(out, "PNG")) {
            std::fprintf(stderr, "zorvik-render-icon: could not write %s\n", argv[i + 1]);
            return 1;
        }
    }
    return 0;
}
