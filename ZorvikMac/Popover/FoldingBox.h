// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>

// Shows a widget wholly, not at all, or its top part only: the box is as tall as the revealed
// share of its content's height and clips the rest, so the content keeps its own layout while
// it folds away or opens. At share 0 the box is hidden and takes no room in a layout.
class FoldingBox : public QWidget {
    Q_OBJECT

public:
    // Takes `content` as its only child.
    explicit FoldingBox(QWidget* content, QWidget* parent = nullptr);

    QWidget* content() const { return content_; }
    qreal revealed() const { return revealed_; }
    // `share` is limited to 0 to 1.
    void setRevealed(qreal share);
    // The content's full height at `width`.
    int contentHeight(int width) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

protected:
    bool event(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void placeContent();

    QWidget* content_;
    qreal revealed_ = 1.0;
};
