// SPDX-License-Identifier: GPL-3.0-or-later
#include "ZorvikMac/Popover/PairingView.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>
#include <cmath>

#include "ZorvikMac/CodeIntake/KeyPairing.h"
#include "ZorvikMac/Popover/PopoverLook.h"
#include "platform/MainActor.h"
#include "platform/QrCode.h"
#include "shared/symbols/InterfaceStyle.h"
#include "shared/symbols/WidgetKit.h"

using InterfaceStyle::systemFont;

namespace {

QString minutesAndSeconds(double seconds) {
    const int whole = int(std::ceil(std::max(0.0, seconds)));
    return QStringLiteral("%1:%2").arg(whole / 60).arg(whole % 60, 2, 10, QLatin1Char('0'));
}

}  // namespace

PairingView::PairingView(KeyPairing& pairing, MainActor& mainActor, QWidget* parent)
    : QWidget(parent), pairing_(pairing), mainActor_(mainActor) {
    setObjectName(QStringLiteral("pairingView"));
    auto* column = WidgetKit::makeColumn(8, this);
    column->setContentsMargins(16, 12, 16, 12);

    title_ = WidgetKit::makeLabel(QStringLiteral("pairingTitle"), systemFont(13, QFont::DemiBold),
                                  this, tr("Pair with iPhone"));
    instructions_ = WidgetKit::makeLabel(
        QStringLiteral("pairingInstructions"), systemFont(12), this,
        tr("On your iPhone, open Zorvik, choose Pair with a computer and point the camera at "
           "this code. The key comes through iCloud."));
    instructions_->setWordWrap(true);
    code_ = new QLabel(this);
    code_->setObjectName(QStringLiteral("pairingCode"));
    code_->setAlignment(Qt::AlignCenter);
    timeLeft_ = WidgetKit::makeLabel(QStringLiteral("pairingTimeLeft"), systemFont(11), this);
    timeLeft_->setAlignment(Qt::AlignCenter);

    auto* buttons = WidgetKit::makeRow(8);
    cancel_ = PopoverLook::makeSmallButton(QStringLiteral("pairingCancel"), tr("Cancel"), this);
    enterKey_ = PopoverLook::makeSmallButton(QStringLiteral("pairingEnterKey"),
                                             tr("Enter the key instead"), this);
    buttons->addWidget(cancel_);
    buttons->addStretch(1);
    buttons->addWidget(enterKey_);

    keyEntry_ = new QWidget(this);
    keyEntry_->setObjectName(QStringLiteral("pairingKeyEntry"));
    auto* entryColumn = WidgetKit::makeColumn(6, keyEntry_);
    auto* entryRow = WidgetKit::makeRow(6);
    keyField_ = new QLineEdit(keyEntry_);
    keyField_->setObjectName(QStringLiteral("pairingKeyField"));
    keyField_->setPlaceholderText(tr("The key, as base64 or 64 hex digits"));
    keyField_->setAccessibleName(keyField_->placeholderText());
    // The key is a secret: not shown while typed, not offered to an input method's history.
    keyField_->setEchoMode(QLineEdit::Password);
    saveKey_ =
        PopoverLook::makeSmallButton(QStringLiteral("pairingSaveKey"), tr("Save Key"), keyEntry_);
    entryRow->addWidget(keyField_, 1);
    entryRow->addWidget(saveKey_);
    keyProblem_ =
        WidgetKit::makeLabel(QStringLiteral("pairingKeyProblem"), systemFont(11), keyEntry_);
    keyProblem_->setWordWrap(true);
    keyProblem_->hide();
    entryColumn->addLayout(entryRow);
    entryColumn->addWidget(keyProblem_);
    keyEntry_->hide();

    done_ = WidgetKit::makeLabel(QStringLiteral("pairingDone"), systemFont(12), this,
                                 tr("The key from your iPhone is stored."));
    done_->hide();

    column->addWidget(title_);
    column->addWidget(instructions_);
    column->addWidget(code_);
    column->addWidget(timeLeft_);
    column->addLayout(buttons);
    column->addWidget(keyEntry_);
    column->addWidget(done_);

    connect(cancel_, &QPushButton::clicked, this, [this] { pairing_.cancel(); });
    connect(enterKey_, &QPushButton::clicked, this, [this] { showKeyEntry(); });
    connect(saveKey_, &QPushButton::clicked, this,
            [this] { mainActor_.spawn(saveKey(QPointer<PairingView>(this), keyField_->text())); });
    connect(keyField_, &QLineEdit::returnPressed, saveKey_, &QPushButton::click);
    connect(&pairing_, &KeyPairing::stateChanged, this, &PairingView::refresh);
    // Ctrl+P anywhere in the popover opens a new offer, as the key row's button does.
    auto* pairShortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_P), parent ? parent : this);
    connect(pairShortcut, &QShortcut::activated, this, [this] { pairing_.start(); });
    refresh();
}

PairingView::~PairingView() {
    if (ticking_) {
        mainActor_.stopTimer(ticker_);
    }
}

QImage PairingView::codeImage(const QByteArray& text, int side, qreal devicePixelRatio) {
    const QrCode code = QrCode::encode(text);
    if (code.size == 0) {
        return {};
    }
    const int modules = code.size + 2 * quietZone;
    const int pixels = int(std::lround(side * devicePixelRatio));
    // Whole device pixels per module keep the edges sharp; what is left is light margin.
    const int modulePixels = std::max(1, pixels / modules);
    const int offset = (pixels - modulePixels * modules) / 2 + quietZone * modulePixels;
    QImage image(pixels, pixels, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    for (int y = 0; y < code.size; ++y) {
        for (int x = 0; x < code.size; ++x) {
            if (code.isDark(x, y)) {
                painter.fillRect(offset + x * modulePixels, offset + y * modulePixels, modulePixels,
                                 modulePixels, Qt::black);
            }
        }
    }
    painter.end();
    image.setDevicePixelRatio(devicePixelRatio);
    return image;
}

void PairingView::refresh() {
    const KeyPairing::State state = pairing_.state();
    const bool offering = state == KeyPairing::State::offering;
    setVisible(offering || state == KeyPairing::State::paired);
    for (QWidget* part : {static_cast<QWidget*>(instructions_), static_cast<QWidget*>(code_),
                          static_cast<QWidget*>(timeLeft_), static_cast<QWidget*>(cancel_),
                          static_cast<QWidget*>(enterKey_)}) {
        part->setVisible(offering);
    }
    if (!offering) {
        keyEntry_->hide();
    }
    done_->setVisible(state == KeyPairing::State::paired);
    if (offering) {
        code_->setPixmap(QPixmap::fromImage(
            codeImage(pairing_.offerText().toUtf8(), codeSide, devicePixelRatioF())));
        showTimeLeft();
    }
}

void PairingView::showTimeLeft() {
    if (ticking_) {
        mainActor_.stopTimer(ticker_);
        ticking_ = false;
    }
    if (pairing_.state() != KeyPairing::State::offering) {
        return;
    }
    timeLeft_->setText(tr("Open for %1").arg(minutesAndSeconds(pairing_.secondsLeft())));
    ticking_ = true;
    ticker_ = mainActor_.startTimer(1, [self = QPointer<PairingView>(this)] {
        if (self) {
            self->ticking_ = false;
            self->showTimeLeft();
        }
    });
}

void PairingView::showKeyEntry() {
    keyEntry_->show();
    keyField_->setFocus();
}

Task<void> PairingView::saveKey(QPointer<PairingView> view, QString text) {
    if (!view) {
        co_return;
    }
    view->saveKey_->setEnabled(false);
    const std::optional<QString> problem = co_await view->pairing_.enterKey(std::move(text));
    if (!view) {
        co_return;
    }
    view->saveKey_->setEnabled(true);
    view->keyProblem_->setVisible(problem.has_value());
    if (problem) {
        view->keyProblem_->setText(*problem);
        WidgetKit::setTextColor(view->keyProblem_, QColor(QStringLiteral("#d70015")));
    } else {
        view->keyField_->clear();
        view->keyEntry_->hide();
    }
}

void PairingView::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    // A move to a screen of another scale draws the code anew at that scale.
    if (event->type() == QEvent::ScreenChangeInternal && isVisible()) {
        refresh();
    }
}
