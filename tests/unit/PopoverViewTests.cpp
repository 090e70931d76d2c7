// SPDX-License-Identifier: GPL-3.0-or-later
// The popover view on virtual time: the header's readiness mark, the code card and its
// once-a-second countdown, the scroll area's cap, the size reports, the settings bound both ways
// and the footer.
#include <gmock/gmock.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <memory>

#include "ZorvikMac/Popover/CodeArea.h"
#include "ZorvikMac/Popover/ExpiryBar.h"
#include "ZorvikMac/Popover/PopoverFooter.h"
#include "ZorvikMac/Popover/PopoverScreen.h"
#include "ZorvikMac/Popover/PopoverView.h"
#include "ZorvikMac/Popover/ReadinessMark.h"
#include "shared/Iso8601.h"
#include "shared/symbols/InterfaceStyle.h"
#include "shared/symbols/SymbolView.h"
#include "tests/support/QStringPrinter.h"
#include "tests/unit/CodeReceiverTestFixture.h"

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

    void makeView(bool panelDrawsCode = true) {
        PopoverEnvironment environment{actor, workspace, autoFillSettings, log, QTimeZone::utc()};
        environment.panelDrawsCode = panelDrawsCode;
        view = std::make_unique<PopoverView>(
            *receiver, settings, screen,
            [this](double width, double height) { sizes.emplace_back(width, height); }, [] {},
            environment);
    }

    // Made and shown; the ticks' first turn runs from the main queue, the layout from Qt's.
    // Keyboard shortcuts need the window active too.
    void show(bool active = false) {
        if (!view) {
            makeView();
        }
        view->show();
        settle();
        if (active) {
            view->activateWindow();
            ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
        }
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
    void hold(double secondsLeft, const QString& device = "iPhone 15") {
        const Instant now = actor.now();
        receiver->setLatest(LatestCode{"Work GitHub", "github", "123456", device,
                                       addingSeconds(now, -10), addingSeconds(now, -9),
                                       addingSeconds(now, secondsLeft)});
        settle();
    }

    template <class T = QWidget>
    T* child(const QString& name) const {
        auto* found = view->findChild<T*>(name);
        EXPECT_NE(found, nullptr) << "no " << name.toStdString();
        return found;
    }
    bool showing(const QString& name) const {
        const auto* widget = view->findChild<QWidget*>(name);
        return widget && widget->isVisibleTo(view.get());
    }
    QString text(const QString& name) const { return child<QLabel>(name)->text(); }
    QColor textColor(const QString& name) const {
        return child<QLabel>(name)->palette().color(QPalette::WindowText);
    }
    QPushButton* button(const QString& name) const { return child<QPushButton>(name); }
    ExpiryBar* bar() const { return child<ExpiryBar>("expiryBar"); }
    std::optional<QString> copied() const { return pasteboard.string(Pasteboard::stringType); }
    bool scrollBarShowing() const {
        return child<QScrollArea>("scrollArea")->verticalScrollBar()->isVisibleTo(view.get());
    }
    void pressCtrl(Qt::Key key) {
        QTest::keyClick(view.get(), key, Qt::ControlModifier);
        settle();
    }
    QColor secondary() const { return InterfaceStyle::secondary(view->palette()); }
    QColor orange() const { return InterfaceStyle::orange(view->palette()); }

    // Runs the checks with every row but the first code in place, or AutoFill off.
    void runChecks(bool autoFill = true) {
        makeEverythingReady();
        identityStore.enabled = autoFill;
        checkNow();
        settle();
    }

    PopoverScreen screen;
    FakeAutoFillSettings autoFillSettings;
    std::vector<std::pair<double, double>> sizes;
    std::unique_ptr<PopoverView> view;
};

// The mark reads "Ready" and AutoFill's settings are offered once every check but the first
// code has passed.
TEST_F(PopoverViewTest, HeaderNamesTheProductAndItsReadinessFollowsTheChecks) {
    show();
    EXPECT_EQ(text("productName"), "Zorvik");
    EXPECT_EQ(text("platformName"), "for Linux");
    EXPECT_EQ(child<SymbolView>("lockSymbol")->name(), "lock.fill");
    EXPECT_EQ(child<SymbolView>("lockSymbol")->color(), InterfaceStyle::gold());
    const auto* mark = child<ReadinessMark>("readinessMark");
    EXPECT_EQ(text("readinessText"), "Needs setup");
    EXPECT_EQ(mark->dotColor(), orange());
    runChecks(false);  // AutoFill off is a row to see to
    EXPECT_EQ(text("readinessText"), "Needs setup");
    EXPECT_FALSE(showing("autoFillSettingsButton"));
    runChecks(true);
    EXPECT_EQ(text("readinessText"), "Ready");
    EXPECT_EQ(mark->dotColor(), InterfaceStyle::green(view->palette()));
    ASSERT_TRUE(showing("autoFillSettingsButton"));
    EXPECT_EQ(button("autoFillSettingsButton")->text(), "AutoFill Settings\u2026");
    button("autoFillSettingsButton")->click();
    EXPECT_EQ(autoFillSettings.opened, 1);
    EXPECT_THAT(workspace.openedURLs, IsEmpty());
}

TEST_F(PopoverViewTest, CardShowsTheCodeAndCountsDownOncePerSecondFromTheFirstDrawing) {
    hold(42.3);
    advance(0.4);  // the card is first drawn 0.4 s after the code arrived
    show();
    EXPECT_EQ(text("accountName"), "Work GitHub");
    EXPECT_EQ(text("code"), "123 456");
    // Digits of one width, and the code can be selected by hand too.
    const auto* code = child<QLabel>("code");
    EXPECT_TRUE(code->font().fixedPitch() || QFontInfo(code->font()).fixedPitch());
    EXPECT_TRUE(code->textInteractionFlags() & Qt::TextSelectableByMouse);

    const auto* area = view->findChild<CodeArea*>();
    const Instant first = *area->drawnAt();
    EXPECT_EQ(text("countdown"), "expires in 42 s");  // 41.9 s left are counted up
    advance(0.9);
    EXPECT_EQ(text("countdown"), "expires in 42 s");  // no tick yet
    EXPECT_EQ(area->drawnAt(), first);
    advance(0.1);
    EXPECT_EQ(text("countdown"), "expires in 41 s");
    EXPECT_EQ(area->drawnAt(), addingSeconds(first, 1));
    // The bar turns orange from 15 seconds left; the code stays gold while a second is left.
    advance(25);
    EXPECT_EQ(text("countdown"), "expires in 16 s");
    EXPECT_EQ(bar()->tint(), InterfaceStyle::gold());
    advance(1);
    EXPECT_EQ(text("countdown"), "expires in 15 s");
    EXPECT_EQ(bar()->tint(), orange());
    EXPECT_NEAR(bar()->fraction(), 14.9 / 90, 1e-9);
    advance(14);
    EXPECT_EQ(text("countdown"), "expires in 1 s");
    EXPECT_EQ(textColor("code"), InterfaceStyle::gold());

    // The device's symbol is the watch only for a watch.
    for (const auto& [device, symbol] : {std::pair{"Apple Watch", "applewatch"},
                                         {"Ben's WATCH Ultra", "applewatch"},
                                         {"iPhone 15", "iphone"},
                                         {"iPad", "iphone"}}) {
        hold(42, device);
        EXPECT_EQ(text("fromDevice"), QStringLiteral("from ") + device);
        EXPECT_EQ(child<SymbolView>("deviceSymbol")->name(), symbol) << device;
    }
}

TEST_F(PopoverViewTest, CopyButtonAndCtrlCCopyTheCodeAndReadCopiedForTwoSecondsUntilItExpires) {
    hold(10);
    show(true);  // ticks at 0, 1, 2, 3, …
    advance(0.5);
    long before = pasteboard.changeCount();
    button("copyButton")->click();
    settle();
    EXPECT_EQ(pasteboard.changeCount(), before + 1);
    EXPECT_EQ(copied(), "123456");
    EXPECT_EQ(receiver->justCopiedAt(), actor.now());
    EXPECT_EQ(button("copyButton")->text(), "Copied");
    advance(1.5);  // the tick at 2: 1.5 s after the copy
    EXPECT_EQ(button("copyButton")->text(), "Copied");
    advance(0.6);  // 2.1 s after the copy, but no tick since
    EXPECT_EQ(button("copyButton")->text(), "Copied");
    advance(0.4);  // the tick at 3
    EXPECT_EQ(button("copyButton")->text(), "Copy");

    // The button's title has changed twice; its shortcut must survive that.
    pasteboard.changeByAnotherProgram("elsewhere");
    before = pasteboard.changeCount();
    pressCtrl(Qt::Key_C);
    EXPECT_EQ(pasteboard.changeCount(), before + 1);
    EXPECT_EQ(copied(), "123456");

    // The wall clock jumps past the expiry before the receiver's own timer clears the code.
    actor.setWallClock(addingSeconds(actor.now(), 12));
    advance(1);
    ASSERT_TRUE(receiver->latest().has_value());
    EXPECT_EQ(text("countdown"), "expired");
    EXPECT_EQ(textColor("code"), secondary());
    EXPECT_EQ(bar()->fraction(), 0);
    EXPECT_FALSE(button("copyButton")->isEnabled());
    before = pasteboard.changeCount();
    const auto copiedAt = receiver->justCopiedAt();
    pressCtrl(Qt::Key_C);
    EXPECT_EQ(pasteboard.changeCount(), before);
    EXPECT_EQ(receiver->justCopiedAt(), copiedAt);
}

TEST_F(PopoverViewTest, WithoutACodeInvitesOneAndTicksOnlyWhileACodeIsShown) {
    show();
    EXPECT_TRUE(showing("invitation"));
    EXPECT_FALSE(showing("codeCard"));
    EXPECT_EQ(child<SymbolView>("invitationSymbol")->name(), "iphone.and.arrow.right.outward");
    EXPECT_EQ(child<SymbolView>("invitationSymbol")->color(), InterfaceStyle::gold());
    const auto* area = view->findChild<CodeArea*>();
    EXPECT_FALSE(area->isTicking());
    // Other parts of the popover may keep timers of their own; the card adds one.
    const std::size_t others = actor.pendingTimers();

    hold(3);
    EXPECT_TRUE(showing("codeCard"));
    EXPECT_FALSE(showing("invitation"));
    EXPECT_TRUE(area->isTicking());
    EXPECT_EQ(actor.pendingTimers(), others + 2);  // the card's tick and the receiver's expiry
    advance(3);                                    // the receiver clears the code at its expiry
    EXPECT_FALSE(receiver->latest().has_value());
    EXPECT_TRUE(showing("invitation"));
    EXPECT_FALSE(area->isTicking());
    EXPECT_EQ(actor.pendingTimers(), others);

    // Hidden, the card does not tick; shown again, it does.
    hold(30);
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
    EXPECT_EQ(text("countdown"), "expires in 28 s");
    view.reset();
    advance(2);  // the cancelled schedule ends without touching the gone view
}

TEST_F(PopoverViewTest, ScrollHeightIsTheContentCappedByTheScreenButNotBelow160) {
    // Screen, header, bottom block, content → height.
    EXPECT_EQ(PopoverView::scrollHeight(700, 40, 170, 1000), 439);
    EXPECT_EQ(PopoverView::scrollHeight(700, 40, 170, 439), 439);
    EXPECT_EQ(PopoverView::scrollHeight(700, 40, 170, 300), 300);
    EXPECT_EQ(PopoverView::scrollHeight(400, 40, 170, 1000), 160);
    EXPECT_EQ(PopoverView::scrollHeight(400, 40, 170, 120), 120);
    EXPECT_EQ(PopoverView::scrollHeight(900, 40, 170, -5), 0);
}

TEST_F(PopoverViewTest, ScrollAreaMeasuresHeaderContentAndBottomAndFollowsTheScreenHeight) {
    hold(42);
    show();
    EXPECT_EQ(view->scrollContentHeight(), child("scrollContent")->heightForWidth(340));
    EXPECT_EQ(view->headerHeight(), child("header")->height());
    EXPECT_EQ(view->bottomHeight(), child("bottom")->height());
    // A tall screen: the area is as tall as its content, so nothing scrolls.
    EXPECT_EQ(view->scrollAreaHeight(), view->scrollContentHeight());
    EXPECT_FALSE(scrollBarShowing());

    settings.setSetupCollapsed(true);
    settle();
    const int header = view->headerHeight();
    const int bottom = view->bottomHeight();
    const int content = view->scrollContentHeight();
    ASSERT_GT(content, 170) << "the content must be taller than the floor for this test";

    // Room for all but 10 points of the content (at least the floor of 160).
    screen.setHeight(48 + header + bottom + 3 + content - 10);
    settle();
    EXPECT_EQ(view->scrollAreaHeight(), std::max(content - 10, 160));
    EXPECT_TRUE(scrollBarShowing());
    ASSERT_FALSE(sizes.empty());
    EXPECT_EQ(sizes.back().second, header + 1 + view->scrollAreaHeight() + 1 + bottom);

    screen.setHeight(200);  // far too small: the floor
    settle();
    EXPECT_EQ(view->scrollAreaHeight(), 160);
    screen.setHeight(1400);
    settle();
    EXPECT_EQ(view->scrollAreaHeight(), content);
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
    receiver->setLayoutNote("nothing the view shows");
    settle();
    EXPECT_EQ(sizes.size(), 1U);

    // A refused login item adds its error to the settings: the bottom block grows.
    const int bottomBefore = view->bottomHeight();
    loginItem.refuseWith = "Operation not permitted";
    settings.setLaunchAtLogin(true);
    settle();
    EXPECT_GT(view->bottomHeight(), bottomBefore);
    ASSERT_EQ(sizes.size(), 2U);
    EXPECT_EQ(sizes[1].second - sizes[0].second, view->bottomHeight() - bottomBefore);

    // A code makes the scroll content taller.
    const int contentBefore = view->scrollContentHeight();
    hold(42);
    EXPECT_GT(view->scrollContentHeight(), contentBefore);
    ASSERT_EQ(sizes.size(), 3U);
    EXPECT_EQ(sizes[2].second, view->sizeHint().height());
}

TEST_F(PopoverViewTest, CheckBoxesAreBoundBothWaysToTheSettingsAndNameWhereTheCodeShows) {
    const struct {
        const char* name;
        const char* title;
        bool (MacSettings::*get)() const;
        void (MacSettings::*set)(bool);
    } cases[] = {
        {"copyToClipboard", "Copy codes to the clipboard for 90 s", &MacSettings::copyToClipboard,
         &MacSettings::setCopyToClipboard},
        {"showCodeInMenuBar", "Show the code in the panel", &MacSettings::showCodeInMenuBar,
         &MacSettings::setShowCodeInMenuBar},
        {"notify", "Show a notification with a Copy button", &MacSettings::notify,
         &MacSettings::setNotify},
    };
    show();
    for (const auto& each : cases) {
        SCOPED_TRACE(each.name);
        auto* box = child<QCheckBox>(each.name);
        EXPECT_EQ(box->text(), each.title);
        EXPECT_TRUE(box->isVisibleTo(view.get()));
        box->click();
        EXPECT_FALSE((settings.*each.get)());
        EXPECT_EQ(defaults.boolForKey(each.name), false);
        (settings.*each.set)(true);
        EXPECT_TRUE(box->isChecked());
        (settings.*each.set)(false);
        EXPECT_FALSE(box->isChecked());
    }
    view.reset();
    makeView(false);  // the panel draws no code
    show();
    EXPECT_EQ(child<QCheckBox>("showCodeInMenuBar")->text(),
              "Show the code in the tray icon's tooltip");
}

// Where the keyboard lands as the popover opens, as a screen reader then reads it out.
TEST_F(PopoverViewTest, OpeningPutsTheKeyboardOnCopyElseOnTheFirstRowThatNeedsTheUser) {
    hold(42);
    show();
    EXPECT_EQ(view->focusWidget(), button("copyButton"));
    EXPECT_EQ(button("copyButton")->accessibleDescription(),
              "Work GitHub: 1 2 3 4 5 6, from iPhone 15");
    EXPECT_EQ(child<QLabel>("code")->accessibleName(), "1 2 3 4 5 6");
    view->hide();

    // Expired, the code can no longer be copied: the first row to see to takes the keyboard.
    advance(43);
    runChecks(false);  // AutoFill off is a row to see to
    settings.setSetupCollapsed(false);
    view->show();
    settle();
    QWidget* focused = view->focusWidget();
    ASSERT_TRUE(focused && focused->parentWidget());
    EXPECT_EQ(focused->parentWidget()->objectName() + "/" + focused->objectName(),
              "row.autoFill/button");
    EXPECT_TRUE(focused->isVisibleTo(view.get()));
    view->hide();

    // With the rows folded away, the first control in the order of Tab.
    settings.setSetupCollapsed(true);
    view->show();
    settle();
    ASSERT_NE(view->focusWidget(), nullptr);
    EXPECT_EQ(view->focusWidget()->accessibleName(), "Show setup");
}

TEST_F(PopoverViewTest, LaunchAtLoginIsASettingWhileTheChecklistIsFoldedAndShowsARefusal) {
    show();
    EXPECT_FALSE(showing("launchAtLogin"));
    settings.setSetupCollapsed(true);
    EXPECT_TRUE(showing("launchAtLogin"));
    auto* box = child<QCheckBox>("launchAtLogin");
    EXPECT_EQ(box->text(), "Launch at login");
    EXPECT_FALSE(showing("launchAtLoginError"));

    loginItem.refuseWith = "Operation not permitted";
    box->click();
    EXPECT_FALSE(box->isChecked());
    EXPECT_TRUE(showing("launchAtLoginError"));
    EXPECT_EQ(text("launchAtLoginError"), "Operation not permitted");

    loginItem.refuseWith.reset();
    box->click();
    EXPECT_TRUE(settings.launchAtLogin());
    EXPECT_FALSE(showing("launchAtLoginError"));
    settings.setLaunchAtLogin(false);
    EXPECT_FALSE(box->isChecked());
    settings.setSetupCollapsed(false);
    EXPECT_FALSE(showing("launchAtLogin"));
}

TEST_F(PopoverViewTest, IntervalPickerOffersTheChoicesAndIsBoundBothWays) {
    show();
    auto* picker = child<QComboBox>("pollInterval");
    QStringList titles;
    for (int i = 0; i < picker->count(); ++i) {
        titles.append(picker->itemText(i));
    }
    EXPECT_THAT(titles, ElementsAre("3 s", "5 s", "10 s", "30 s", "60 s"));
    EXPECT_EQ(text("pollIntervalLabel"), "Check iCloud every");
    EXPECT_EQ(picker->currentText(), "5 s");
    picker->setCurrentIndex(3);
    EXPECT_EQ(settings.pollInterval(), 30);
    EXPECT_EQ(defaults.doubleForKey(MacSettings::pollIntervalKey), 30);
    settings.setPollInterval(60);
    EXPECT_EQ(picker->currentText(), "60 s");
}

TEST_F(PopoverViewTest, CopyDiagnosticsCopiesTheReportAndSaysSoForThreeSeconds) {
    show();
    QPushButton* diagnostics = button("diagnosticsButton");
    diagnostics->click();
    EXPECT_EQ(copied(), receiver->diagnosticsSnapshot());
    EXPECT_FALSE(pasteboard.string(Pasteboard::concealedType));
    EXPECT_EQ(diagnostics->text(), "Diagnostics copied");
    advance(2.9);
    EXPECT_EQ(diagnostics->text(), "Diagnostics copied");
    advance(0.1);
    EXPECT_EQ(diagnostics->text(), "Copy diagnostics");

    // A second click starts its three seconds afresh.
    diagnostics->click();
    advance(2);
    diagnostics->click();
    advance(2);
    EXPECT_EQ(diagnostics->text(), "Diagnostics copied");
    advance(1);
    EXPECT_EQ(diagnostics->text(), "Copy diagnostics");
}

TEST_F(PopoverViewTest, FooterShowsTheLastFetchElseTheLastCheckElseNoTime) {
    const auto time = [](Instant at) { return PopoverFooter::timeText(at, QTimeZone::utc()); };
    show();
    EXPECT_FALSE(showing("lastCheck"));
    EXPECT_EQ(text("build"), "42");

    runChecks();
    const Instant checked = *receiver->info().checkedAt;
    ASSERT_TRUE(showing("lastCheck"));
    EXPECT_EQ(text("lastCheck"), time(checked));
    EXPECT_EQ(textColor("lastCheck"), InterfaceStyle::tertiary(view->palette()));
    advance(180);
    fetchNow();
    settle();
    const Instant fetched = *receiver->info().lastFetchAt;
    ASSERT_NE(time(checked), time(fetched));
    EXPECT_EQ(text("lastCheck"), time(fetched));
    advance(180);
    runChecks();  // a later check does not replace the fetch time
    EXPECT_EQ(text("lastCheck"), time(fetched));

    // The locale's short time in the user's time zone.
    const Instant noon = *Iso8601::parse(u"2026-03-01T12:34:56Z");
    EXPECT_EQ(time(noon), QLocale().toString(QTime(12, 34, 56), QLocale::ShortFormat));
    EXPECT_EQ(PopoverFooter::timeText(noon, QTimeZone(3600)),
              QLocale().toString(QTime(13, 34, 56), QLocale::ShortFormat));
}

TEST_F(PopoverViewTest, CheckNowRunsTheChecksThenOneFetchAndTheFooterOffersQuit) {
    show();
    const auto before = log.lines.size();
    EXPECT_EQ(button("checkNowButton")->text(), "Check now");
    button("checkNowButton")->click();
    settle();
    EXPECT_EQ(cloud.accountRequests, 1);
    EXPECT_EQ(cloud.fetches, 1);
    const QStringList lines = logSince(before);
    const qsizetype fetch = lines.indexOf(QRegularExpression("fetch: .*"));
    const QRegularExpression check("^check ");
    ASSERT_GE(fetch, 0) << lines.join('\n').toStdString();
    EXPECT_FALSE(lines.mid(0, fetch).filter(check).isEmpty()) << lines.join('\n').toStdString();
    EXPECT_TRUE(lines.mid(fetch).filter(check).isEmpty()) << lines.join('\n').toStdString();

    EXPECT_EQ(button("quitButton")->text(), "Quit");
}

// Colours follow the palette, so a dark desktop gets light secondary text and the dark orange.
TEST_F(PopoverViewTest, ColoursFollowADarkPalette) {
    hold(10);
    settings.setSetupCollapsed(true);
    loginItem.refuseWith = "Operation not permitted";
    settings.setLaunchAtLogin(true);
    show();
    runChecks();
    QPalette dark = view->palette();
    dark.setColor(QPalette::Window, QColor(0x2B, 0x2B, 0x2D));
    dark.setColor(QPalette::WindowText, QColor(0xEC, 0xEC, 0xEE));
    ASSERT_NE(InterfaceStyle::secondary(dark), secondary());
    view->setPalette(dark);
    settle();
    for (const char* name : {"platformName", "readinessText", "countdown"}) {
        EXPECT_EQ(textColor(name), InterfaceStyle::secondary(dark)) << name;
    }
    EXPECT_EQ(child<ReadinessMark>("readinessMark")->dotColor(), InterfaceStyle::green(dark));
    EXPECT_EQ(bar()->tint(), InterfaceStyle::orange(dark));
    EXPECT_EQ(textColor("launchAtLoginError"), InterfaceStyle::orange(dark));
    EXPECT_EQ(textColor("build"), InterfaceStyle::tertiary(dark));
    EXPECT_EQ(child<SymbolView>("deviceSymbol")->color(), InterfaceStyle::secondary(dark));
}

}  // namespace
