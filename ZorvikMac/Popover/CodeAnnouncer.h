// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>

// Says a short text to a screen reader without taking the keyboard from where the user is: a
// notification of no size that appears with the text as its name, which screen readers read
// out as it appears. Nothing is drawn.
class CodeAnnouncer final : public QWidget {
    Q_OBJECT

public:
    explicit CodeAnnouncer(QWidget* parent);

    void announce(const QString& text);
};
