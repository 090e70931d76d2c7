// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QColor>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <optional>

#include "platform/Instant.h"
#include "platform/Task.h"
#include "platform/TaskContext.h"

class CodeReceiver;
class ExpiryBar;
class MainActor;
class CodeAnnouncer;
class QLabel;
class QPushButton;
class QShortcut;
class SymbolView;

// The lower part of the popover's scroll area. With a code: a card with the account, the
// device, the code, a bar and a text counting down to the expiry, and the Copy button (Ctrl+C,
// the platform's Command-C). From the moment the card is shown it is redrawn once a second on
// the main actor's clock. Without a code: an invitation to tap one on the phone.
class CodeArea : public QWidget {
    Q_OBJECT

public:
    // The lifetime of a code, which the bar measures the time left against.
    static constexpr double lifetime = 90;
    // How long the button reads "Copied" after a copy.
    static constexpr double copiedFor = 2;
    // From this many seconds left the bar turns orange.
    static constexpr long long warningSeconds = 15;

    CodeArea(CodeReceiver& receiver, MainActor& mainActor, QWidget* parent = nullptr);
    ~CodeArea() override;

    // Whole seconds from `now` to `expiresAt`, rounded up; never below 0.
    static long long remainingSeconds(Instant now, Instant expiresAt);
    // The share of the lifetime left at `now`, between 0 and 1.
    static double fraction(Instant now, Instant expiresAt);

    // The instant the card was last drawn for, while it shows a code.
    std::optional<Instant> drawnAt() const { return drawnAt_; }
    bool isTicking() const { return ticks_ != TaskHandle() && !ticks_.isFinished(); }
    // Where the keyboard starts when the popover opens: the Copy button while a code can be
    // copied, else nothing.
    QWidget* firstForKeyboard() const;
    // The code as a screen reader should say it, one digit at a time ("4 8 2 9 1 3").
    static QString spokenCode(const QString& code);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QWidget* buildCard();
    QWidget* buildInvitation();

    // Shows the card or the invitation for the receiver's latest code, and starts or stops the
    // once-a-second schedule with it.
    void showLatest();
    // Redraws the card's countdown, colours and button for `now`.
    void draw(Instant now);
    void applyColors();
    void startTicks();
    void stopTicks();
    static Task<void> runTicks(QPointer<CodeArea> area, MainActor& mainActor);

    CodeReceiver& receiver_;
    MainActor& mainActor_;
    TaskHandle ticks_;
    std::optional<Instant> drawnAt_;
    long long remaining_ = 0;
    std::optional<bool> showsCopied_;
    // The symbol on the Copy button and its colour, as last set.
    QString copySymbol_;
    QColor copySymbolColor_;

    QWidget* card_ = nullptr;
    QLabel* accountName_ = nullptr;
    SymbolView* deviceSymbol_ = nullptr;
    QLabel* fromDevice_ = nullptr;
    QLabel* code_ = nullptr;
    ExpiryBar* bar_ = nullptr;
    QLabel* countdown_ = nullptr;
    QPushButton* copyButton_ = nullptr;
    QShortcut* copyShortcut_ = nullptr;

    // Tells a screen reader of a code that arrives while the popover is open, once; a code
    // already there when it opens is read with the Copy button that takes the keyboard.
    CodeAnnouncer* announcer_ = nullptr;
    std::optional<Instant> announcedReceivedAt_;

    QWidget* invitation_ = nullptr;
    SymbolView* phoneSymbol_ = nullptr;
    QLabel* invitationDetail_ = nullptr;
};
