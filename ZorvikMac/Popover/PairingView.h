// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QPointer>
#include <QWidget>

#include "ZorvikMac/Popover/PopoverEnvironment.h"
#include "platform/Task.h"

class KeyPairing;
class QLabel;
class QLineEdit;
class QPushButton;

// The pairing part of the popover, shown while an offer is open: the QR code the iPhone scans,
// the time the offer has left, Cancel, and "Enter the key instead", which opens a field for the
// key as base64 or hexadecimal. It hides itself when the offer ends, and says so when the key
// has arrived.
class PairingView : public QWidget {
    Q_OBJECT

public:
    // The QR code's side in device-independent pixels: at 96 dpi about 7 cm, which a phone's
    // camera reads from arm's length; twice the pixels on a 2× screen.
    static constexpr int codeSide = 264;
    // Light modules around the code, as readers want.
    static constexpr int quietZone = 4;

    PairingView(KeyPairing& pairing, MainActor& mainActor, QWidget* parent = nullptr);
    ~PairingView() override;

    // The QR code of `text`, black on white whatever the theme, `side` pixels square at the
    // screen's `devicePixelRatio`. A null image when the text cannot be encoded.
    static QImage codeImage(const QByteArray& text, int side, qreal devicePixelRatio);

protected:
    void changeEvent(QEvent* event) override;

private:
    void refresh();
    void showTimeLeft();
    void showKeyEntry();
    static Task<void> saveKey(QPointer<PairingView> view, QString text);

    KeyPairing& pairing_;
    MainActor& mainActor_;
    QLabel* title_ = nullptr;
    QLabel* instructions_ = nullptr;
    QLabel* code_ = nullptr;
    QLabel* timeLeft_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QPushButton* enterKey_ = nullptr;
    QWidget* keyEntry_ = nullptr;
    QLineEdit* keyField_ = nullptr;
    QPushButton* saveKey_ = nullptr;
    QLabel* keyProblem_ = nullptr;
    QLabel* done_ = nullptr;
    std::uint64_t ticker_ = 0;
    bool ticking_ = false;
};
