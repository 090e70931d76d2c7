// The popover view on virtual time: the header's readiness mark, the code card and its
// once-a-second countdown, the scroll area's cap, the size reports, the settings bound both ways
// and the footer.
#include <gmock/gmock.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <memory>

#include "CodeArea.h"
#include "CodeReceiverTestFixture.h"
#include "ExpiryBar.h"
#include "InterfaceStyle.h"
#include "Iso8601.h"
#include "PopoverFooter.h"
#include "PopoverScreen.h"
#include "PopoverView.h"
#include "QStringPrinter.h"
#include "ReadinessMark.h"
#include "SymbolView.h"

namespace {

using testing::ElementsAre;
using testing::IsEmpty;

class PopoverViewTest : public CodeReceiverTest {
protected:
    PopoverViewTest() { make(); }
    // The view goes before the receiver it shows.
    ~PopoverViewTest() override {
        view.reset();
        actor.runUntilIdle();
    }

    PopoverView& makeView() {
        view = std::make_unique<PopoverView>(
            *receiver, settings, screen,
            [this](double width, double height) { sizes.emplace_back(width, height); },
            [this] { ++quits; },
            PopoverEnvironment{actor, workspace, autoFillSettings, log, QTimeZone::utc()});
        return *view;
    }

    // Made and shown; the ticks' first turn runs from the main queue, the layout from Qt's.
    void show() {
        if (!view) {
            makeView();
        }
        view->show();
        settle();
    }

    // Shown and active, as keyboard shortcuts need.
    void showActive() {
        show();
        view->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
    }

    // Lets queued main-actor work and Qt's posted layout requests run until both are done.
    void settle() {
        for (int round = 0; round < 8; ++round) {
            actor.runUntilIdle();
            QApplication::processEvents();
        }
    }

    void advance(double seconds) {
        actor.advance(seconds);
        settle();
    }

    // The shared file keeps whole seconds, but the card takes any instant.
    LatestCode codeExpiringIn(double seconds,
                              const QString& device = QStringLiteral("iPhone 15")) const {
        const Instant now = actor.now();
        return LatestCode{QStringLiteral("Work GitHub"), QStringLiteral("github"),
                          QStringLiteral("123456"),      device,
                          addingSeconds(now, -10),       addingSeconds(now, -9),
                          addingSeconds(now, seconds)};
    }

    void hold(const LatestCode& code) {
        receiver->setLatest(code);
        settle();
    }

    template <class T = QWidget>
    T* child(const QString& objectName) const {
        auto* found = view->findChild<T*>(objectName);
        EXPECT_NE(found, nullptr) << "no " << objectName.toStdString();
        return found;
    }

    bool showing(const QString& objectName) const {
        const auto* widget = view->findChild<QWidget*>(objectName);
        return widget && widget->isVisibleTo(view.get());
    }

    QString text(const QString& objectName) const {
        const auto* label = view->findChild<QLabel*>(objectName);
        return label ? label->text() : QStringLiteral("<no label %1>").arg(objectName);
    }

    QColor textColor(const QString& objectName) const {
        const auto* label = view->findChild<QLabel*>(objectName);
        return label ? label->palette().color(QPalette::WindowText) : QColor();
    }

    QPushButton* button(const QString& objectName) const { return child<QPushButton>(objectName); }
    QCheckBox* checkBox(const QString& objectName) const { return child<QCheckBox>(objectName); }
    ExpiryBar* bar() const { return child<ExpiryBar>(QStringLiteral("expiryBar")); }
    QString countdown() const { return text(QStringLiteral("countdown")); }
    QString copyTitle() const { return button(QStringLiteral("copyButton"))->text(); }
    QString diagnosticsTitle() const { return button(QStringLiteral("diagnosticsButton"))->text(); }
    QPalette palette() const { return view->palette(); }

    // Runs the checks with every row but the first code in place, or AutoFill off.
    void runChecks(bool autoFill = true) {
        remote.registered = true;
        center.authorizationStatus = UserNotificationCenter::AuthorizationStatus::authorized;
        identityStore.enabled = autoFill;
        actor.spawn(receiver->runChecks());
        settle();
    }

    long copies() const { return pasteboard.changeCount(); }

    PopoverScreen screen;
    FakeAutoFillSettings autoFillSettings;
    std::vector<std::pair<double, double>> sizes;
    int quits = 0;
    std::unique_ptr<PopoverView> view;
};

// The header.

TEST_F(PopoverViewTest, HeaderNamesTheProductInItsColours) {
    show();
    EXPECT_EQ(text(QStringLiteral("productName")), "Zorvik");
    EXPECT_EQ(text(QStringLiteral("platformName")), "for Mac");
    EXPECT_EQ(textColor(QStringLiteral("platformName")), InterfaceStyle::secondary(palette()));
    const auto* lock = child<SymbolView>(QStringLiteral("lockSymbol"));
    EXPECT_EQ(lock->name(), "lock.fill");
    EXPECT_EQ(lock->color(), InterfaceStyle::gold());
}

TEST_F(PopoverViewTest, ReadinessMarkFollowsTheProbe) {
    show();
    const auto* mark = child<ReadinessMark>(QStringLiteral("readinessMark"));
    EXPECT_EQ(text(QStringLiteral("readinessText")), "Needs setup");
    EXPECT_EQ(mark->dotColor(), InterfaceStyle::orange(palette()));
    EXPECT_EQ(textColor(QStringLiteral("readinessText")), InterfaceStyle::secondary(palette()));

    runChecks();
    EXPECT_EQ(text(QStringLiteral("readinessText")), "Ready");
    EXPECT_EQ(mark->dotColor(), InterfaceStyle::green(palette()));

    runChecks(false);  // AutoFill off is a row to see to
    EXPECT_EQ(text(QStringLiteral("readinessText")), "Needs setup");
    EXPECT_EQ(mark->dotColor(), InterfaceStyle::orange(palette()));
}

// The code card and its countdown.

TEST_F(PopoverViewTest, CardShowsTheCodeItsAccountDeviceAndTimeLeft) {
    hold(codeExpiringIn(42.3));
    show();
    EXPECT_TRUE(showing(QStringLiteral("codeCard")));
    EXPECT_FALSE(showing(QStringLiteral("invitation")));
    EXPECT_EQ(text(QStringLiteral("accountName")), "Work GitHub");
    EXPECT_EQ(text(QStringLiteral("fromDevice")), "from iPhone 15");
    EXPECT_EQ(text(QStringLiteral("code")), "123 456");
    // 42.3 seconds are counted up to 43; the bar stands at 42.3 / 90.
    EXPECT_EQ(countdown(), "expires in 43 s");
    EXPECT_NEAR(bar()->fraction(), 0.47, 1e-9);
    EXPECT_EQ(bar()->tint(), InterfaceStyle::gold());
    EXPECT_EQ(textColor(QStringLiteral("code")), InterfaceStyle::gold());
    EXPECT_EQ(textColor(QStringLiteral("countdown")), InterfaceStyle::secondary(palette()));
    EXPECT_EQ(copyTitle(), "Copy");
    EXPECT_TRUE(button(QStringLiteral("copyButton"))->isEnabled());

    // Digits of one width, and the code can be selected by hand too.
    const auto* code = child<QLabel>(QStringLiteral("code"));
    EXPECT_TRUE(code->font().fixedPitch() || QFontInfo(code->font()).fixedPitch());
    EXPECT_TRUE(code->textInteractionFlags() & Qt::TextSelectableByMouse);
}

TEST_F(PopoverViewTest, CountdownTicksOncePerSecondFromTheFirstDrawing) {
    hold(codeExpiringIn(42.3));
    advance(0.4);  // the card is first drawn 0.4 s after the code arrived
    show();
    const Instant first = *view->findChild<CodeArea*>()->drawnAt();
    EXPECT_EQ(countdown(), "expires in 42 s");  // 41.9 s left
    advance(0.9);
    EXPECT_EQ(countdown(), "expires in 42 s");  // no tick yet
    EXPECT_EQ(view->findChild<CodeArea*>()->drawnAt(), first);
    advance(0.1);
    EXPECT_EQ(countdown(), "expires in 41 s");
    EXPECT_EQ(view->findChild<CodeArea*>()->drawnAt(), addingSeconds(first, 1));
}

TEST_F(PopoverViewTest, BarTurnsOrangeFromFifteenSecondsLeft) {
    hold(codeExpiringIn(42));
    show();
    advance(26);
    EXPECT_EQ(countdown(), "expires in 16 s");
    EXPECT_EQ(bar()->tint(), InterfaceStyle::gold());
    advance(1);
    EXPECT_EQ(countdown(), "expires in 15 s");
    EXPECT_EQ(bar()->tint(), InterfaceStyle::orange(palette()));
    EXPECT_NEAR(bar()->fraction(), 15.0 / 90, 1e-9);
    // The code itself stays gold while a second is left.
    advance(14);
    EXPECT_EQ(countdown(), "expires in 1 s");
    EXPECT_EQ(textColor(QStringLiteral("code")), InterfaceStyle::gold());
}

TEST_F(PopoverViewTest, AnExpiredCodeReadsExpiredAndCannotBeCopied) {
    hold(codeExpiringIn(10));
    showActive();
    // The wall clock jumps past the expiry before the receiver's own timer clears the code.
    actor.setWallClock(addingSeconds(actor.now(), 12));
    advance(1);
    ASSERT_TRUE(receiver->latest().has_value());
    EXPECT_EQ(countdown(), "expired");
    EXPECT_EQ(textColor(QStringLiteral("code")), InterfaceStyle::secondary(palette()));
    EXPECT_EQ(bar()->fraction(), 0);
    EXPECT_FALSE(button(QStringLiteral("copyButton"))->isEnabled());

    const long before = copies();
    QTest::keyClick(view.get(), Qt::Key_C, Qt::ControlModifier);
    settle();
    EXPECT_EQ(copies(), before);
    EXPECT_FALSE(receiver->justCopiedAt().has_value());
}

TEST_F(PopoverViewTest, CopyButtonAndCtrlCCopyTheCode) {
    hold(codeExpiringIn(42));
    showActive();
    const long before = copies();
    button(QStringLiteral("copyButton"))->click();
    EXPECT_EQ(copies(), before + 1);
    EXPECT_EQ(pasteboard.string(QString::fromLatin1(Pasteboard::stringType)), "123456");
    EXPECT_EQ(receiver->justCopiedAt(), actor.now());

    // The button's title changes with the copy; its shortcut must survive that.
    pasteboard.changeByAnotherProgram(QStringLiteral("elsewhere"));
    const long afterOther = copies();
    QTest::keyClick(view.get(), Qt::Key_C, Qt::ControlModifier);
    settle();
    EXPECT_EQ(copies(), afterOther + 1);
    EXPECT_EQ(pasteboard.string(QString::fromLatin1(Pasteboard::stringType)), "123456");
}

TEST_F(PopoverViewTest, ReadsCopiedForTwoSecondsThenCopyAtTheNextTick) {
    hold(codeExpiringIn(60));
    show();  // ticks at 0, 1, 2, 3, …
    advance(0.5);
    button(QStringLiteral("copyButton"))->click();
    settle();
    EXPECT_EQ(copyTitle(), "Copied");
    advance(1.5);  // the tick at 2: 1.5 s after the copy
    EXPECT_EQ(copyTitle(), "Copied");
    advance(0.6);  // 2.1 s after the copy, but no tick since
    EXPECT_EQ(copyTitle(), "Copied");
    advance(0.4);  // the tick at 3
    EXPECT_EQ(copyTitle(), "Copy");
}

TEST_F(PopoverViewTest, DeviceSymbolIsTheWatchOnlyForAWatch) {
    struct Case {
        QString device;
        QString symbol;
    };
    const Case cases[] = {
        {QStringLiteral("Apple Watch"), QStringLiteral("applewatch")},
        {QStringLiteral("Ben's WATCH Ultra"), QStringLiteral("applewatch")},
        {QStringLiteral("iPhone 15"), QStringLiteral("iphone")},
        {QStringLiteral("iPad"), QStringLiteral("iphone")},
    };
    show();
    for (const Case& each : cases) {
        hold(codeExpiringIn(42, each.device));
        EXPECT_EQ(text(QStringLiteral("fromDevice")), "from " + each.device);
        EXPECT_EQ(child<SymbolView>(QStringLiteral("deviceSymbol"))->name(), each.symbol)
            << each.device.toStdString();
    }
}

TEST_F(PopoverViewTest, WithoutACodeInvitesOneAndTicksOnlyWhileACodeIsShown) {
    show();
    EXPECT_TRUE(showing(QStringLiteral("invitation")));
    EXPECT_FALSE(showing(QStringLiteral("codeCard")));
    EXPECT_EQ(child<SymbolView>(QStringLiteral("invitationSymbol"))->name(),
              "iphone.and.arrow.right.outward");
    EXPECT_EQ(child<SymbolView>(QStringLiteral("invitationSymbol"))->color(),
              InterfaceStyle::gold());
    const auto* area = view->findChild<CodeArea*>();
    EXPECT_FALSE(area->isTicking());
    // Other parts of the popover may keep timers of their own; the card adds one.
    const std::size_t others = actor.pendingTimers();

    hold(codeExpiringIn(3));
    EXPECT_TRUE(showing(QStringLiteral("codeCard")));
    EXPECT_FALSE(showing(QStringLiteral("invitation")));
    EXPECT_EQ(countdown(), "expires in 3 s");
    EXPECT_TRUE(area->isTicking());
    EXPECT_EQ(actor.pendingTimers(), others + 2);  // the card's tick and the receiver's expiry

    advance(3);  // the receiver clears the code at its expiry
    EXPECT_FALSE(receiver->latest().has_value());
    EXPECT_TRUE(showing(QStringLiteral("invitation")));
    EXPECT_FALSE(area->isTicking());
    EXPECT_EQ(actor.pendingTimers(), others);

    // Hidden, the card does not tick; shown again, it does.
    hold(codeExpiringIn(30));
    EXPECT_TRUE(area->isTicking());
    view->hide();
    settle();
    EXPECT_FALSE(area->isTicking());
    const auto hiddenAt = area->drawnAt();
    advance(2);
    EXPECT_EQ(area->drawnAt(), hiddenAt);
    view->show();
    settle();
    EXPECT_TRUE(area->isTicking());
    EXPECT_EQ(area->drawnAt(), actor.now());
    EXPECT_EQ(countdown(), "expires in 28 s");
    view.reset();
    advance(2);  // the cancelled schedule ends without touching the gone view
}

// The scroll area's height and the size the view asks for.

TEST_F(PopoverViewTest, ScrollHeightIsTheContentCappedByTheScreenButNotBelow160) {
    // Screen, header, bottom block, content → height.
    EXPECT_EQ(PopoverView::scrollHeight(700, 40, 170, 1000), 439);
    EXPECT_EQ(PopoverView::scrollHeight(700, 40, 170, 439), 439);
    EXPECT_EQ(PopoverView::scrollHeight(700, 40, 170, 300), 300);
    EXPECT_EQ(PopoverView::scrollHeight(400, 40, 170, 1000), 160);
    EXPECT_EQ(PopoverView::scrollHeight(400, 40, 170, 120), 120);
    EXPECT_EQ(PopoverView::scrollHeight(900, 40, 170, 0), 0);
    EXPECT_EQ(PopoverView::scrollHeight(900, 40, 170, -5), 0);
}

TEST_F(PopoverViewTest, MeasuresItsPartsAtTheFirstLayout) {
    hold(codeExpiringIn(42));
    show();
    const auto* content = child<QWidget>(QStringLiteral("scrollContent"));
    EXPECT_EQ(view->scrollContentHeight(), content->heightForWidth(340));
    EXPECT_EQ(view->headerHeight(), child<QWidget>(QStringLiteral("header"))->height());
    EXPECT_EQ(view->bottomHeight(), child<QWidget>(QStringLiteral("bottom"))->height());
    // A tall screen: the area is as tall as its content, so nothing scrolls.
    EXPECT_EQ(view->scrollAreaHeight(), view->scrollContentHeight());
    EXPECT_FALSE(child<QScrollArea>(QStringLiteral("scrollArea"))
                     ->verticalScrollBar()
                     ->isVisibleTo(view.get()));
}

TEST_F(PopoverViewTest, ScrollAreaFollowsTheScreenHeight) {
    hold(codeExpiringIn(42));
    settings.setSetupCollapsed(true);
    show();
    const int header = view->headerHeight();
    const int bottom = view->bottomHeight();
    const int content = view->scrollContentHeight();
    ASSERT_GT(content, 170) << "the content must be taller than the floor for this test";

    // Room for all but 10 points of the content (at least the floor of 160).
    screen.setHeight(48 + header + bottom + 3 + content - 10);
    settle();
    EXPECT_EQ(view->scrollAreaHeight(), std::max(content - 10, 160));
    EXPECT_TRUE(child<QScrollArea>(QStringLiteral("scrollArea"))
                    ->verticalScrollBar()
                    ->isVisibleTo(view.get()));
    ASSERT_FALSE(sizes.empty());
    EXPECT_EQ(sizes.back().second, header + 1 + view->scrollAreaHeight() + 1 + bottom);
    EXPECT_LE(sizes.back().second, screen.height() - 48);

    screen.setHeight(200);  // far too small: the floor
    settle();
    EXPECT_EQ(view->scrollAreaHeight(), 160);

    screen.setHeight(1400);
    settle();
    EXPECT_EQ(view->scrollAreaHeight(), view->scrollContentHeight());
}

TEST_F(PopoverViewTest, ReportsItsSizeFromTheFirstLayoutAndOnEveryChange) {
    makeView();
    settle();
    EXPECT_THAT(sizes, IsEmpty());
    show();
    ASSERT_EQ(sizes.size(), 1U);
    EXPECT_EQ(sizes[0].first, 340);
    EXPECT_EQ(sizes[0].second, view->sizeHint().height());
    EXPECT_EQ(view->width(), 340);

    settle();
    receiver->setLayoutNote(QStringLiteral("nothing the view shows"));
    settle();
    EXPECT_EQ(sizes.size(), 1U);

    // A refused login item adds its error to the settings: the bottom block grows.
    const int bottomBefore = view->bottomHeight();
    loginItem.refuseWith = QStringLiteral("Operation not permitted");
    settings.setLaunchAtLogin(true);
    settle();
    EXPECT_GT(view->bottomHeight(), bottomBefore);
    ASSERT_EQ(sizes.size(), 2U);
    EXPECT_EQ(sizes[1].second - sizes[0].second, view->bottomHeight() - bottomBefore);

    // A code makes the scroll content taller.
    const int contentBefore = view->scrollContentHeight();
    hold(codeExpiringIn(42));
    EXPECT_GT(view->scrollContentHeight(), contentBefore);
    ASSERT_EQ(sizes.size(), 3U);
    EXPECT_EQ(sizes[2].second, view->sizeHint().height());
}

// The settings.

TEST_F(PopoverViewTest, CheckBoxesAreBoundBothWaysToTheSettings) {
    struct Case {
        QString objectName;
        QString title;
        bool (MacSettings::*get)() const;
        void (MacSettings::*set)(bool);
        const char* key;
    };
    const Case cases[] = {
        {QStringLiteral("copyToClipboard"), QStringLiteral("Copy codes to the clipboard for 90 s"),
         &MacSettings::copyToClipboard, &MacSettings::setCopyToClipboard, "copyToClipboard"},
        {QStringLiteral("showCodeInMenuBar"), QStringLiteral("Show the code in the menu bar"),
         &MacSettings::showCodeInMenuBar, &MacSettings::setShowCodeInMenuBar, "showCodeInMenuBar"},
        {QStringLiteral("notify"), QStringLiteral("Show a notification with a Copy button"),
         &MacSettings::notify, &MacSettings::setNotify, "notify"},
    };
    show();
    for (const Case& each : cases) {
        SCOPED_TRACE(each.objectName.toStdString());
        QCheckBox* box = checkBox(each.objectName);
        EXPECT_EQ(box->text(), each.title);
        EXPECT_TRUE(box->isVisibleTo(view.get()));
        EXPECT_TRUE(box->isChecked());

        box->click();
        EXPECT_FALSE((settings.*each.get)());
        EXPECT_EQ(defaults.boolForKey(QString::fromLatin1(each.key)), false);

        (settings.*each.set)(true);
        EXPECT_TRUE(box->isChecked());
        (settings.*each.set)(false);
        EXPECT_FALSE(box->isChecked());
    }
}

TEST_F(PopoverViewTest, LaunchAtLoginIsASettingOnlyWhileTheChecklistIsFolded) {
    show();
    EXPECT_FALSE(showing(QStringLiteral("launchAtLogin")));
    settings.setSetupCollapsed(true);
    EXPECT_TRUE(showing(QStringLiteral("launchAtLogin")));
    QCheckBox* box = checkBox(QStringLiteral("launchAtLogin"));
    EXPECT_EQ(box->text(), "Launch at login");
    EXPECT_FALSE(box->isChecked());

    box->click();
    EXPECT_TRUE(settings.launchAtLogin());
    EXPECT_EQ(loginItem.registerCalls, 1);
    settings.setLaunchAtLogin(false);
    EXPECT_FALSE(box->isChecked());

    settings.setSetupCollapsed(false);
    EXPECT_FALSE(showing(QStringLiteral("launchAtLogin")));
}

TEST_F(PopoverViewTest, ARefusedLoginItemShowsItsErrorInOrangeWhileItLasts) {
    settings.setSetupCollapsed(true);
    show();
    EXPECT_FALSE(showing(QStringLiteral("launchAtLoginError")));

    loginItem.refuseWith = QStringLiteral("Operation not permitted");
    checkBox(QStringLiteral("launchAtLogin"))->click();
    EXPECT_FALSE(settings.launchAtLogin());
    EXPECT_FALSE(checkBox(QStringLiteral("launchAtLogin"))->isChecked());
    EXPECT_TRUE(showing(QStringLiteral("launchAtLoginError")));
    EXPECT_EQ(text(QStringLiteral("launchAtLoginError")), "Operation not permitted");
    EXPECT_EQ(textColor(QStringLiteral("launchAtLoginError")), InterfaceStyle::orange(palette()));

    loginItem.refuseWith.reset();
    checkBox(QStringLiteral("launchAtLogin"))->click();
    EXPECT_TRUE(settings.launchAtLogin());
    EXPECT_FALSE(showing(QStringLiteral("launchAtLoginError")));
}

TEST_F(PopoverViewTest, IntervalPickerOffersTheChoicesAndIsBoundBothWays) {
    show();
    auto* picker = child<QComboBox>(QStringLiteral("pollInterval"));
    QStringList titles;
    for (int i = 0; i < picker->count(); ++i) {
        titles.append(picker->itemText(i));
    }
    EXPECT_THAT(titles, ElementsAre("3 s", "5 s", "10 s", "30 s", "60 s"));
    EXPECT_EQ(text(QStringLiteral("pollIntervalLabel")), "Check iCloud every");
    EXPECT_EQ(picker->currentText(), "5 s");

    picker->setCurrentIndex(3);
    EXPECT_EQ(settings.pollInterval(), 30);
    EXPECT_EQ(defaults.doubleForKey(QString::fromLatin1(MacSettings::pollIntervalKey)), 30);

    settings.setPollInterval(60);
    EXPECT_EQ(picker->currentText(), "60 s");
    settings.setPollInterval(3);
    EXPECT_EQ(picker->currentText(), "3 s");
}

TEST_F(PopoverViewTest, AutoFillSettingsButtonOnlyWhileAutoFillIsOn) {
    show();
    EXPECT_FALSE(receiver->probe().autoFillEnabled.has_value());
    EXPECT_FALSE(showing(QStringLiteral("autoFillSettingsButton")));
    runChecks(false);
    EXPECT_FALSE(showing(QStringLiteral("autoFillSettingsButton")));
    runChecks(true);
    ASSERT_TRUE(showing(QStringLiteral("autoFillSettingsButton")));
    EXPECT_EQ(button(QStringLiteral("autoFillSettingsButton"))->text(),
              QStringLiteral("AutoFill Settings\u2026"));

    button(QStringLiteral("autoFillSettingsButton"))->click();
    EXPECT_EQ(autoFillSettings.opened, 1);
    EXPECT_THAT(workspace.openedURLs, IsEmpty());
}

TEST_F(PopoverViewTest, CopyDiagnosticsCopiesTheReportAndSaysSoForThreeSeconds) {
    show();
    EXPECT_EQ(diagnosticsTitle(), "Copy diagnostics");
    button(QStringLiteral("diagnosticsButton"))->click();
    EXPECT_EQ(pasteboard.string(QString::fromLatin1(Pasteboard::stringType)),
              receiver->diagnosticsSnapshot());
    EXPECT_FALSE(pasteboard.string(QString::fromLatin1(Pasteboard::concealedType)));
    EXPECT_EQ(diagnosticsTitle(), "Diagnostics copied");

    advance(2.9);
    EXPECT_EQ(diagnosticsTitle(), "Diagnostics copied");
    advance(0.1);
    EXPECT_EQ(diagnosticsTitle(), "Copy diagnostics");

    // A second click starts its three seconds afresh.
    button(QStringLiteral("diagnosticsButton"))->click();
    advance(2);
    button(QStringLiteral("diagnosticsButton"))->click();
    advance(2);
    EXPECT_EQ(diagnosticsTitle(), "Diagnostics copied");
    advance(1);
    EXPECT_EQ(diagnosticsTitle(), "Copy diagnostics");
}

// The footer.

TEST_F(PopoverViewTest, FooterShowsTheLastFetchElseTheLastCheckElseNoTime) {
    show();
    EXPECT_FALSE(showing(QStringLiteral("lastCheck")));
    EXPECT_EQ(text(QStringLiteral("build")), "42");
    EXPECT_EQ(textColor(QStringLiteral("build")), InterfaceStyle::tertiary(palette()));

    runChecks();
    const Instant checked = *receiver->info().checkedAt;
    ASSERT_TRUE(showing(QStringLiteral("lastCheck")));
    EXPECT_EQ(text(QStringLiteral("lastCheck")),
              PopoverFooter::timeText(checked, QTimeZone::utc()));
    EXPECT_EQ(textColor(QStringLiteral("lastCheck")), InterfaceStyle::tertiary(palette()));

    advance(180);
    fetchNow();
    settle();
    const Instant fetched = *receiver->info().lastFetchAt;
    ASSERT_NE(PopoverFooter::timeText(checked, QTimeZone::utc()),
              PopoverFooter::timeText(fetched, QTimeZone::utc()));
    EXPECT_EQ(text(QStringLiteral("lastCheck")),
              PopoverFooter::timeText(fetched, QTimeZone::utc()));

    advance(180);
    runChecks();  // a later check does not replace the fetch time
    EXPECT_EQ(text(QStringLiteral("lastCheck")),
              PopoverFooter::timeText(fetched, QTimeZone::utc()));
}

TEST_F(PopoverViewTest, FooterTimeIsTheLocalesShortTimeInTheUsersTimeZone) {
    const Instant noon = *Iso8601::parse(u"2026-03-01T12:34:56Z");
    EXPECT_EQ(PopoverFooter::timeText(noon, QTimeZone::utc()),
              QLocale().toString(QTime(12, 34, 56), QLocale::ShortFormat));
    EXPECT_EQ(PopoverFooter::timeText(noon, QTimeZone(3600)),
              QLocale().toString(QTime(13, 34, 56), QLocale::ShortFormat));
}

TEST_F(PopoverViewTest, CheckNowRunsTheChecksThenOneFetch) {
    show();
    const auto before = log.lines.size();
    button(QStringLiteral("checkNowButton"))->click();
    settle();
    EXPECT_EQ(cloud.accountRequests, 1);
    EXPECT_EQ(cloud.fetches, 1);
    ASSERT_TRUE(receiver->info().checkedAt.has_value());
    ASSERT_TRUE(receiver->info().lastFetchAt.has_value());
    const QStringList lines = logSince(before);
    qsizetype lastCheck = -1;
    qsizetype fetch = -1;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (lines[i].startsWith(QStringLiteral("check "))) {
            lastCheck = i;
        } else if (lines[i].startsWith(QStringLiteral("fetch: ")) && fetch < 0) {
            fetch = i;
        }
    }
    ASSERT_GE(lastCheck, 0) << lines.join('\n').toStdString();
    ASSERT_GE(fetch, 0) << lines.join('\n').toStdString();
    EXPECT_LT(lastCheck, fetch) << lines.join('\n').toStdString();
    EXPECT_EQ(button(QStringLiteral("checkNowButton"))->text(), "Check now");
}

TEST_F(PopoverViewTest, QuitByButtonAndByCtrlQ) {
    showActive();
    EXPECT_EQ(button(QStringLiteral("quitButton"))->text(), "Quit");
    button(QStringLiteral("quitButton"))->click();
    EXPECT_EQ(quits, 1);
    QTest::keyClick(view.get(), Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(quits, 2);
}

// Colours follow the palette, so a dark desktop gets light secondary text and the dark orange.

TEST_F(PopoverViewTest, ColoursFollowADarkPalette) {
    hold(codeExpiringIn(10));
    settings.setSetupCollapsed(true);
    loginItem.refuseWith = QStringLiteral("Operation not permitted");
    settings.setLaunchAtLogin(true);
    show();
    runChecks();

    QPalette dark = view->palette();
    dark.setColor(QPalette::Window, QColor(0x2B, 0x2B, 0x2D));
    dark.setColor(QPalette::WindowText, QColor(0xEC, 0xEC, 0xEE));
    ASSERT_NE(InterfaceStyle::secondary(dark), InterfaceStyle::secondary(view->palette()));
    view->setPalette(dark);
    settle();
    EXPECT_EQ(textColor(QStringLiteral("platformName")), InterfaceStyle::secondary(dark));
    EXPECT_EQ(textColor(QStringLiteral("readinessText")), InterfaceStyle::secondary(dark));
    EXPECT_EQ(child<ReadinessMark>(QStringLiteral("readinessMark"))->dotColor(),
              InterfaceStyle::green(dark));
    EXPECT_EQ(textColor(QStringLiteral("countdown")), InterfaceStyle::secondary(dark));
    EXPECT_EQ(bar()->tint(), InterfaceStyle::orange(dark));
    EXPECT_EQ(textColor(QStringLiteral("launchAtLoginError")), InterfaceStyle::orange(dark));
    EXPECT_EQ(textColor(QStringLiteral("build")), InterfaceStyle::tertiary(dark));
    EXPECT_EQ(child<SymbolView>(QStringLiteral("deviceSymbol"))->color(),
              InterfaceStyle::secondary(dark));
}

}  // namespace
