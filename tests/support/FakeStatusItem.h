// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QColor>
#include <QImage>
#include <QPoint>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "platform/StatusItem.h"

// A status item that keeps what it was last given and logs every call, one line each:
//   setImage(16x16, "Zorvik")         or setImage(null, "")
//   setAttributedTitle("123 456", #ff000000)
//   setImagePosition(imageLeading)    or setImagePosition(imageOnly)
//   setImageHugsTitle(true)
//   setLength(-1)
//   setToolTip("Zorvik — codes from your iPhone")
//   setAction()                       or setAction(none)
// `activate` plays a click on the item.
class FakeStatusItem final : public StatusItem {
public:
    void setImage(const QImage& newImage, const QString& description) override {
        image = newImage;
        accessibilityDescription = description;
        calls << QStringLiteral("setImage(%1, \"%2\")")
                     .arg(
                         newImage.isNull()
                             ? QStringLiteral("null")
                             : QStringLiteral("%1x%2").arg(newImage.width()).arg(newImage.height()),
                         description);
    }
    void setAttributedTitle(const AttributedTitle& title) override {
        attributedTitle = title;
        calls << QStringLiteral("setAttributedTitle(\"%1\", %2)")
                     .arg(title.text, title.foregroundColor.isValid()
                                          ? title.foregroundColor.name(QColor::HexArgb)
                                          : QStringLiteral("invalid"));
    }
    void setImagePosition(ImagePosition position) override {
        imagePosition = position;
        calls << QStringLiteral("setImagePosition(%1)")
                     .arg(position == ImagePosition::imageOnly ? QStringLiteral("imageOnly")
                                                               : QStringLiteral("imageLeading"));
    }
    void setImageHugsTitle(bool hugs) override {
        imageHugsTitle = hugs;
        calls << QStringLiteral("setImageHugsTitle(%1)")
                     .arg(hugs ? QStringLiteral("true") : QStringLiteral("false"));
    }
    void setLength(double newLength) override {
        length = newLength;
        calls << QStringLiteral("setLength(%1)").arg(newLength);
    }
    void setToolTip(const QString& newToolTip) override {
        toolTip = newToolTip;
        calls << QStringLiteral("setToolTip(\"%1\")").arg(newToolTip);
    }
    void setAction(std::function<void(QPoint anchor)> newAction) override {
        action = std::move(newAction);
        calls << (action ? QStringLiteral("setAction()") : QStringLiteral("setAction(none)"));
    }

    // Answers with `shown` at once; a test that wants the answer later empties `shown`, and
    // answers through `pendingAnswers`.
    void askWhetherShown(std::function<void(bool)> answer) override {
        ++askedWhetherShown;
        if (shown) {
            answer(*shown);
        } else {
            pendingAnswers.push_back(std::move(answer));
        }
    }

    // Runs the action as a click at `anchor` would; false when there is none.
    bool activate(QPoint anchor = QPoint()) {
        const auto run = action;
        if (!run) {
            return false;
        }
        run(anchor);
        return true;
    }

    // The calls whose log line starts with `name`, e.g. "setAttributedTitle".
    QStringList callsTo(const QString& name) const {
        QStringList found;
        for (const QString& call : calls) {
            if (call.startsWith(name + QLatin1Char('('))) {
                found << call;
            }
        }
        return found;
    }

    QImage image;
    QString accessibilityDescription;
    AttributedTitle attributedTitle;
    ImagePosition imagePosition = ImagePosition::imageOnly;
    bool imageHugsTitle = false;
    double length = squareLength;
    QString toolTip;
    std::function<void(QPoint)> action;
    QStringList calls;
    std::optional<bool> shown = true;
    int askedWhetherShown = 0;
    std::vector<std::function<void(bool)>> pendingAnswers;
};
