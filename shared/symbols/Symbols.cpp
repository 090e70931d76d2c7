// SPDX-License-Identifier: GPL-3.0-or-later
#include "shared/symbols/Symbols.h"

#include <QDir>
#include <QFile>
#include <QPainter>
#include <QPixmapCache>
#include <QRegularExpression>
#include <QSvgRenderer>
#include <algorithm>
#include <cmath>

#include "shared/symbols/SymbolIconEngine.h"

// The files follow one ink rule: a symbol is drawn in black, and white drawn over black cuts a
// hole. So the mark inside a filled triangle or the gap where an arrow leaves a phone needs no
// masks, which the SVG subset that Qt renders does not have. Tinting turns the amount of black
// in each pixel into the colour's coverage.

namespace Symbols {
namespace {

// Symbols of the named set are as tall as a line of text of the same size, a little more than
// the point size itself.
constexpr qreal boxPerPoint = 1.2;

QString resourcePath(const QString& name) {
    return QStringLiteral(":/symbols/") + name + QStringLiteral(".svg");
}

qreal strokeFactor(Weight weight) {
    switch (weight) {
        case Weight::light:
            return 0.75;
        case Weight::regular:
            return 1.0;
        case Weight::semibold:
            return 1.2;
        case Weight::bold:
            return 1.4;
    }
    return 1.0;
}

// The file's SVG with every line width scaled for `weight`.
QByteArray svgSource(const QString& name, Weight weight) {
    QFile file(resourcePath(name));
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    const QByteArray original = file.readAll();
    if (weight == Weight::regular) {
        return original;
    }
    static const QRegularExpression strokeWidth(QStringLiteral(R"re(stroke-width="([0-9.]+)")re"));
    const QString text = QString::fromUtf8(original);
    QString scaled;
    qsizetype copied = 0;
    for (auto it = strokeWidth.globalMatch(text); it.hasNext();) {
        const auto match = it.next();
        const qreal width = match.captured(1).toDouble() * strokeFactor(weight);
        scaled += QStringView(text).mid(copied, match.capturedStart() - copied);
        scaled += QStringLiteral(R"re(stroke-width="%1")re").arg(width, 0, 'g', 4);
        copied = match.capturedEnd();
    }
    scaled += QStringView(text).mid(copied);
    return scaled.toUtf8();
}

QImage render(const QString& name, int side, const QColor& color, qreal devicePixelRatio,
              Weight weight) {
    if (side <= 0 || !(devicePixelRatio > 0) || !contains(name)) {
        return {};
    }
    QSvgRenderer renderer(svgSource(name, weight));
    if (!renderer.isValid()) {
        return {};
    }
    const int pixels = std::max(1, qRound(side * devicePixelRatio));
    QImage ink(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    ink.fill(Qt::transparent);
    {
        QPainter painter(&ink);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter, QRectF(0, 0, pixels, pixels));
    }

    const QRgb tint = color.rgba();
    QImage tinted(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < pixels; ++y) {
        const auto* in = reinterpret_cast<const QRgb*>(ink.constScanLine(y));
        auto* out = reinterpret_cast<QRgb*>(tinted.scanLine(y));
        for (int x = 0; x < pixels; ++x) {
            // Premultiplied: alpha minus the grey level is how much black covers the pixel.
            const int grey = (qRed(in[x]) + qGreen(in[x]) + qBlue(in[x])) / 3;
            const int coverage = std::clamp(qAlpha(in[x]) - grey, 0, 255);
            const int alpha = coverage * qAlpha(tint) / 255;
            out[x] = qPremultiply(qRgba(qRed(tint), qGreen(tint), qBlue(tint), alpha));
        }
    }
    tinted.setDevicePixelRatio(devicePixelRatio);
    return tinted;
}

}  // namespace

QStringList names() {
    QStringList result;
    const auto files = QDir(QStringLiteral(":/symbols"))
                           .entryList({QStringLiteral("*.svg")}, QDir::Files, QDir::Name);
    for (const QString& file : files) {
        result.append(file.chopped(4));
    }
    return result;
}

bool contains(const QString& name) {
    return !name.isEmpty() && QFile::exists(resourcePath(name));
}

int boxSide(qreal pointSize) {
    return pointSize > 0 ? static_cast<int>(std::ceil(pointSize * boxPerPoint - 1e-9)) : 0;
}

QImage image(const QString& name, qreal pointSize, const QColor& color, qreal devicePixelRatio,
             Weight weight) {
    return render(name, boxSide(pointSize), color, devicePixelRatio, weight);
}

QPixmap boxPixmap(const QString& name, int side, const QColor& color, qreal devicePixelRatio,
                  Weight weight) {
    const QString key = QStringLiteral("zorvik.symbol/%1/%2/%3/%4/%5")
                            .arg(name)
                            .arg(side)
                            .arg(color.rgba(), 8, 16, QLatin1Char('0'))
                            .arg(devicePixelRatio)
                            .arg(static_cast<int>(weight));
    QPixmap cached;
    if (QPixmapCache::find(key, &cached)) {
        return cached;
    }
    const QImage drawn = render(name, side, color, devicePixelRatio, weight);
    if (drawn.isNull()) {
        return {};
    }
    QPixmap result = QPixmap::fromImage(drawn);
    QPixmapCache::insert(key, result);
    return result;
}

QPixmap pixmap(const QString& name, qreal pointSize, const QColor& color, qreal devicePixelRatio,
               Weight weight) {
    return boxPixmap(name, boxSide(pointSize), color, devicePixelRatio, weight);
}

QIcon icon(const QString& name, const QColor& color, Weight weight) {
    if (!contains(name)) {
        return {};
    }
    return QIcon(new SymbolIconEngine(name, color, weight));
}

}  // namespace Symbols
