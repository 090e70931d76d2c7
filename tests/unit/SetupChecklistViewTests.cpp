// SPDX-License-Identifier: GPL-3.0-or-later
// The setup checklist drawn over a receiver wired to fakes on virtual time. Which row has which
// texts is the rows' own, tested with them.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QBoxLayout>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <functional>
#include <memory>

#include "ZorvikMac/Popover/ActivitySpinner.h"
#include "ZorvikMac/Popover/FoldingBox.h"
#include "ZorvikMac/Popover/SetupChecklistView.h"
#include "ZorvikMac/Popover/StatusDot.h"
#include "ZorvikMac/Popover/ToggleSwitch.h"
#include "shared/symbols/InterfaceStyle.h"
#include "tests/support/QStringPrinter.h"
#include "tests/unit/CodeReceiverTestFixture.h"

namespace {

const QString kWelcome = QStringLiteral("Welcome \u2014 let's check this computer");

// What a widget draws: where its ink lies and how many pixels carry a given colour.
struct Ink {
    QImage image;
    QColor background;

    static Ink of(QWidget* widget) {
        QImage image = widget->grab().toImage().convertToFormat(QImage::Format_ARGB32);
        // Every symbol leaves its top-left pixel empty.
        return {image, image.pixelColor(0, 0)};
    }
    static int distance(const QColor& a, const QColor& b) {
        return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) +
               std::abs(a.blue() - b.blue());
    }
    void each(const std::function<void(int, int, const QColor&)>& pixel) const {
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                pixel(x, y, image.pixelColor(x, y));
            }
        }
    }
    // The pixels that differ clearly from the background.
    QRect bounds() const {
        QRect inked;
        each([&](int x, int y, const QColor& c) {
            inked |= distance(c, background) > 60 ? QRect(x, y, 1, 1) : QRect();
        });
        return inked;
    }
    int pixelsNear(const QColor& color) const {
        int count = 0;
        each([&](int, int, const QColor& c) { count += distance(c, color) < 40 ? 1 : 0; });
        return count;
    }
};

class SetupChecklistViewTest : public CodeReceiverTest {
protected:
    void SetUp() override { make(); }

    // The view hosted as the popover hosts it: 340 wide, padded 16 and 12.
    void makeView() {
        host = std::make_unique<QWidget>();
        host->setFixedWidth(340);
        auto* layout = new QVBoxLayout(host.get());
        layout->setContentsMargins(16, 12, 16, 12);
        view = new SetupChecklistView(*receiver, settings,
                                      PopoverEnvironment{actor, workspace, autoFillSettings, log,
                                                         QTimeZone::utc(), cloudSignIn},
                                      host.get());
        layout->addWidget(view);
        host->show();
        QApplication::processEvents();
    }

    void runChecks() {
        actor.spawn(receiver->runChecks());
        actor.runUntilIdle();
    }

    template <class T = QWidget>
    T* child(const QString& name, QWidget* parent = nullptr) const {
        T* found = (parent ? parent : static_cast<QWidget*>(view))->findChild<T*>(name);
        EXPECT_NE(found, nullptr) << "no " << name.toStdString();
        return found;
    }
    QWidget* row(const QString& kind) const { return child("row." + kind); }
    template <class T = QWidget>
    T* in(const QString& kind, const QString& name) const {
        return child<T>(name, row(kind));
    }
    // Whether `name` in the row of `kind` shows whenever the row shows.
    bool showing(const QString& kind, const QString& name) const {
        return in(kind, name)->isVisibleTo(row(kind));
    }
    bool rowsShowing() const { return child("rows")->isVisibleTo(view); }
    QString title(const QString& kind) const { return in<QLabel>(kind, "title")->text(); }
    QPushButton* button(const QString& kind) const { return in<QPushButton>(kind, "button"); }
    ToggleSwitch* toggle(const QString& kind) const { return in<ToggleSwitch>(kind, "switch"); }
    // The round mark of a pending or info row, when it shows.
    StatusDot* mark(const QString& kind) const {
        auto* dot = in<StatusDot>(kind, "mark");
        return dot->isVisibleTo(row(kind)) ? dot : nullptr;
    }
    Ink symbolInk(const QString& kind) const { return Ink::of(in(kind, "symbol")); }

    // What a row shows: its symbol, and which of its spinner, detail, button and switch.
    struct Look {
        const char* kind;
        enum { dot, ring, check, cross } symbol;
        bool spinner, detail, button, toggle;
    };
    void expectLooks(std::initializer_list<Look> looks) const {
        for (const Look& look : looks) {
            SCOPED_TRACE(look.kind);
            EXPECT_EQ(showing(look.kind, "spinner"), look.spinner);
            EXPECT_EQ(showing(look.kind, "detail"), look.detail);
            EXPECT_EQ(showing(look.kind, "button"), look.button);
            EXPECT_EQ(showing(look.kind, "switch"), look.toggle);
            const StatusDot* dot = mark(look.kind);
            const Ink ink = symbolInk(look.kind);
            switch (look.symbol) {
                case Look::dot:  // pending: an orange dot
                    ASSERT_NE(dot, nullptr);
                    EXPECT_EQ(dot->shape(), StatusDot::Shape::filled);
                    EXPECT_EQ(dot->color(), orange());
                    EXPECT_GT(ink.pixelsNear(orange()), 30) << "the dot is drawn";
                    EXPECT_EQ(ink.pixelsNear(green()), 0);
                    break;
                case Look::ring:  // info: a faint, hollow ring
                    ASSERT_NE(dot, nullptr);
                    EXPECT_EQ(dot->shape(), StatusDot::Shape::ring);
                    EXPECT_EQ(dot->color(), faint(InterfaceStyle::secondary(view->palette())));
                    EXPECT_EQ(ink.image.pixelColor(ink.bounds().center()), ink.background);
                    break;
                case Look::check:  // ok: a green check, moved down by 2 (its rim is faint)
                    EXPECT_EQ(dot, nullptr);
                    EXPECT_GT(ink.pixelsNear(green()), 40);
                    EXPECT_EQ(ink.pixelsNear(red()), 0);
                    EXPECT_GE(ink.bounds().top(), 2);
                    EXPECT_LE(ink.bounds().top(), 3);
                    break;
                case Look::cross:  // failed: a red cross
                    EXPECT_EQ(dot, nullptr);
                    EXPECT_GT(ink.pixelsNear(red()), 40);
                    EXPECT_EQ(ink.pixelsNear(green()), 0);
                    break;
            }
        }
    }
    static QColor faint(QColor color) {
        color.setAlphaF(0.5f);
        return color;
    }

    QAbstractButton* header() const { return child<QAbstractButton>("header"); }
    QString headerTitle() const { return child<QLabel>("headerTitle")->text(); }
    QString summary() const {
        auto* label = child<QLabel>("headerSummary");
        return label->isVisibleTo(view) ? label->text() : QStringLiteral("<hidden>");
    }
    // The header's dot colour, or nothing while it is hidden.
    std::optional<QColor> headerDot() const {
        auto* dot = child<StatusDot>("headerDot");
        return dot->isVisibleTo(view) ? std::optional<QColor>(dot->color()) : std::nullopt;
    }
    // The chevron's ink: taller than wide points right, wider than tall points down.
    QRect chevronInk() const { return Ink::of(child("chevron")).bounds(); }

    QColor orange() const { return InterfaceStyle::orange(view->palette()); }
    QColor green() const { return InterfaceStyle::green(view->palette()); }
    QColor red() const { return InterfaceStyle::red(view->palette()); }

    FakeAutoFillSettings autoFillSettings;
    std::unique_ptr<QWidget> host;
    SetupChecklistView* view = nullptr;
    CloudAccountSignIn* cloudSignIn = nullptr;
};

TEST_F(SetupChecklistViewTest, FoldedHeaderCountsWhatNeedsTheUserAndTheFirstRunIsWelcomed) {
    ASSERT_TRUE(receiver->firstRun());
    makeView();
    ASSERT_FALSE(settings.setupCollapsed()) << "a fresh probe needs attention";
    EXPECT_EQ(headerTitle(), kWelcome);
    EXPECT_EQ(headerDot(), std::nullopt);
    EXPECT_EQ(summary(), "<hidden>");
    EXPECT_TRUE(rowsShowing());
    EXPECT_EQ(header()->accessibleName(), "Hide setup");

    settings.setSetupCollapsed(true);
    EXPECT_EQ(headerTitle(), "Setup");
    EXPECT_EQ(summary(), "5 items to check");
    EXPECT_EQ(headerDot(), orange());
    EXPECT_FALSE(rowsShowing());
    EXPECT_EQ(header()->accessibleName(), "Show setup");

    settings.setSetupCollapsed(false);
    EXPECT_EQ(headerTitle(), kWelcome) << "welcomed only while unfolded";
    receiver->setFirstRun(false);
    EXPECT_EQ(headerTitle(), "Setup");

    // The receiver folds a checklist that needs nothing but the first code, and unfolds it, at
    // once.
    remote.registered = true;
    center.authorizationStatus = UserNotificationCenter::AuthorizationStatus::authorized;
    identityStore.enabled = true;
    runChecks();
    EXPECT_TRUE(settings.setupCollapsed());
    EXPECT_FALSE(rowsShowing()) << "no animation for the receiver's own folding";
    EXPECT_EQ(summary(), "ready, waiting for your first code");
    EXPECT_EQ(headerDot(), green());
    receiver->setPushRegistration(false, "no network");
    EXPECT_FALSE(settings.setupCollapsed());
    EXPECT_TRUE(rowsShowing());
}

TEST_F(SetupChecklistViewTest, ShowsTheSevenRowsInOrderNamedByKindAndReCheckRunsTheChecksQueued) {
    makeView();
    QStringList kinds;
    QLayout* rows = child("rowsContent")->layout();
    for (int i = 0; i < rows->count(); ++i) {
        QWidget* widget = rows->itemAt(i)->widget();
        if (widget && widget->objectName().startsWith("row.")) {
            kinds.append(widget->objectName().mid(4));
        }
    }
    EXPECT_EQ(kinds, (QStringList{"cloud", "syncKey", "push", "autoFill", "notifications",
                                  "launchAtLogin", "firstCode"}));
    EXPECT_EQ(title("cloud"), "iCloud: checking\u2026");

    auto* recheck = child<QPushButton>("recheckButton");
    EXPECT_EQ(recheck->text(), "Re-check");
    EXPECT_FALSE(recheck->icon().isNull());
    EXPECT_TRUE(recheck->isVisibleTo(view));
    const auto before = log.lines.size();
    recheck->click();
    EXPECT_EQ(cloud.accountRequests, 0) << "the task starts from the queue, never inline";
    actor.runUntilIdle();
    EXPECT_EQ(cloud.accountRequests, 1);
    EXPECT_EQ(title("cloud"), "iCloud: signed in");
    EXPECT_TRUE(logSince(before).contains("check cloud: ok \u2014 iCloud: signed in"));
}

TEST_F(SetupChecklistViewTest, EachRowShowsItsStatesSymbolAndOnlyTheControlsItHas) {
    cloud.account = CloudContainer::noAccount;
    identityStore.enabled = false;
    keychain.items.clear();
    runChecks();
    makeView();
    expectLooks({
        {"cloud", Look::cross, false, true, true, false},
        {"syncKey", Look::dot, true, true, true, false},
        {"push", Look::dot, true, false, false, false},
        {"autoFill", Look::cross, false, true, true, false},
        {"notifications", Look::dot, true, false, false, false},
        {"launchAtLogin", Look::ring, false, false, false, true},
        {"firstCode", Look::dot, true, false, false, false},
    });
    EXPECT_EQ(in<QLabel>("cloud", "detail")->text(),
              "Sign in with the same Apple Account as your iPhone.");
    EXPECT_EQ(button("cloud")->text(), "Open iCloud settings");
    EXPECT_FALSE(toggle("launchAtLogin")->isChecked());

    // An item in order keeps its explanation to itself, except AutoFill's, which says where the
    // code shows.
    cloud.account = CloudContainer::available;
    identityStore.enabled = true;
    loginItem.current = LoginItemService::Status::enabled;
    runChecks();
    expectLooks({
        {"cloud", Look::check, false, false, false, false},
        {"autoFill", Look::check, false, true, false, false},
        {"launchAtLogin", Look::check, false, false, false, true},
    });
    EXPECT_TRUE(toggle("launchAtLogin")->isChecked());
}

TEST_F(SetupChecklistViewTest, TheSwitchAndTheSettingFollowEachOtherAndARefusalTurnsItBack) {
    makeView();
    ToggleSwitch* launch = toggle("launchAtLogin");
    launch->click();
    EXPECT_TRUE(settings.launchAtLogin());
    EXPECT_TRUE(launch->isChecked());
    settings.setLaunchAtLogin(false);
    EXPECT_FALSE(launch->isChecked());

    loginItem.refuseWith = "Operation not permitted";
    launch->click();
    EXPECT_EQ(loginItem.registerCalls, 2);
    EXPECT_FALSE(launch->isChecked());
}

TEST_F(SetupChecklistViewTest, ClickingTheHeaderFlipsTheSettingAndAnimatesTheFold) {
    makeView();
    auto* rows = child<FoldingBox>("rows");
    actor.runUntilIdle();
    const std::size_t spinnersTimers = actor.pendingTimers();
    ASSERT_GT(spinnersTimers, 0U) << "the spinners of pending rows wait on timers";
    const QRect down = chevronInk();
    EXPECT_GT(down.width(), down.height()) << "unfolded, the chevron points down";

    header()->click();
    EXPECT_TRUE(settings.setupCollapsed());
    EXPECT_TRUE(rowsShowing()) << "the rows fold away over 0.15 s";
    EXPECT_EQ(rows->revealed(), 1.0);
    actor.advance(0.045);
    // Slow at the start: less than the linear 30 % of the way after 30 % of the time.
    EXPECT_GT(rows->revealed(), 0.75);
    EXPECT_LT(rows->revealed(), 1.0);
    actor.advance(0.030);
    EXPECT_NEAR(rows->revealed(), 0.5, 0.01) << "half way at half time";
    actor.advance(0.074);
    EXPECT_TRUE(rowsShowing());
    actor.advance(0.001);
    EXPECT_FALSE(rowsShowing());
    EXPECT_EQ(rows->revealed(), 0.0);
    const QRect right = chevronInk();
    EXPECT_GT(right.height(), right.width()) << "folded, the chevron points right";

    header()->click();
    EXPECT_FALSE(settings.setupCollapsed());
    actor.advance(0.015);
    EXPECT_TRUE(rowsShowing());
    EXPECT_GT(rows->revealed(), 0.0);
    EXPECT_LT(rows->revealed(), 0.1);
    actor.advance(0.135);
    EXPECT_EQ(rows->revealed(), 1.0);
    EXPECT_EQ(actor.pendingTimers(), spinnersTimers) << "the animation is over; spinners turn";

    // A click during the animation turns it back from where it was.
    header()->click();
    actor.advance(0.075);
    const qreal halfWay = rows->revealed();
    header()->click();
    EXPECT_FALSE(settings.setupCollapsed());
    actor.advance(0.015);
    EXPECT_GT(rows->revealed(), halfWay - 0.01);
    actor.advance(0.135);
    EXPECT_EQ(rows->revealed(), 1.0);
}

// The keyring's password prompt is asked for only by its row's button: the user pressed it.
TEST_F(SetupChecklistViewTest, RowButtonsCarryOutTheirActionAndLogItAndALockedKeyringsUnlocks) {
    cloud.account = CloudContainer::noAccount;
    center.authorizationStatus = UserNotificationCenter::AuthorizationStatus::denied;
    identityStore.enabled = false;
    keychain.failWith = Keychain::interactionNotAllowed;
    runChecks();
    makeView();
    const auto before = log.lines.size();
    button("autoFill")->click();
    button("notifications")->click();
    button("cloud")->click();
    // What each action does is the actions' own, tested with them.
    EXPECT_EQ(logSince(before),
              (QStringList{"setup action turnOnAutoFill", "setup action openNotificationSettings",
                           "setup action openICloudSettings"}));
    EXPECT_EQ(log.lines[before].subsystem, "net.brontal.zorvik");
    EXPECT_EQ(log.lines[before].category, "mac");

    EXPECT_EQ(title("syncKey"), "Keyring locked");
    EXPECT_EQ(keychain.unlocks, 0) << "nothing prompts before the user asks";
    EXPECT_EQ(button("syncKey")->text(), "Unlock");
    button("syncKey")->click();
    actor.runUntilIdle();
    EXPECT_EQ(keychain.unlocks, 1);
    EXPECT_EQ(title("syncKey"), "Key received from your iPhone");
    EXPECT_TRUE(logSince(before).contains("keyring unlocked"));
}

TEST_F(SetupChecklistViewTest, AnAccountToConfirmIsAChoiceOfTwoButtonsThatNameIt) {
    struct RecordingSignIn : CloudAccountSignIn {
        void signIn() override {}
        void confirmSignIn(const QString& account) override { answers << "use " + account; }
        void declineSignIn() override { answers << "decline"; }
        void signOut() override {}
        QStringList answers;
    } signIn;
    cloudSignIn = &signIn;
    cloud.backend.kind = CloudBackendInfo::Kind::embedded;
    cloud.backend.canSignIn = true;
    cloud.backend.accountToConfirm = QStringLiteral("me@example.com");
    runChecks();
    makeView();
    EXPECT_EQ(title("cloud"), "iCloud: use me@example.com?");
    EXPECT_FALSE(showing("cloud", "button")) << "the single button stays hidden";
    auto* use = in<QPushButton>("cloud", "choiceButton");
    auto* notMine = in<QPushButton>("cloud", "secondaryButton");
    ASSERT_TRUE(use && notMine);
    EXPECT_TRUE(showing("cloud", "choiceButton") && showing("cloud", "secondaryButton"));
    EXPECT_EQ(use->text(), "Use this account");
    EXPECT_EQ(notMine->text(), "Not mine");
    use->click();
    notMine->click();
    EXPECT_EQ(signIn.answers, (QStringList{"use me@example.com", "decline"}));
    // Other rows have no choice to show.
    EXPECT_FALSE(showing("autoFill", "choiceButton"));
}

TEST_F(SetupChecklistViewTest, FollowsProbeChangesWithoutPollingAndSpinsOnlyWhileShown) {
    makeView();
    auto* spinner = in<ActivitySpinner>("push", "spinner");
    ASSERT_TRUE(spinner->isVisible());
    const int phase = spinner->phase();
    actor.advance(ActivitySpinner::step);
    EXPECT_EQ(spinner->phase(), (phase + 1) % ActivitySpinner::spokes);

    settings.setSetupCollapsed(true);
    actor.runUntilIdle();
    EXPECT_FALSE(spinner->isSpinning());
    EXPECT_EQ(actor.pendingTimers(), 0u) << "nothing of the view waits for time while folded";
    EXPECT_FALSE(actor.hasQueuedJobs());
    receiver->setPushRegistration(true, std::nullopt);
    EXPECT_EQ(title("push"), "Registering\u2026") << "the subscription is still unknown";
    receiver->setPushRegistration(false, "no network");
    EXPECT_EQ(title("push"), "Push: no network");
    EXPECT_FALSE(showing("push", "spinner"));
    EXPECT_TRUE(showing("push", "detail"));
    EXPECT_EQ(actor.pendingTimers(), 0u);
}

TEST_F(SetupChecklistViewTest, ColoursFollowADarkPalette) {
    cloud.account = CloudContainer::noAccount;
    runChecks();
    makeView();
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(0x2B, 0x2B, 0x2D));
    dark.setColor(QPalette::WindowText, QColor(0xEC, 0xEC, 0xEE));
    ASSERT_NE(InterfaceStyle::orange(dark), orange());
    host->setPalette(dark);
    EXPECT_EQ(mark("push")->color(), InterfaceStyle::orange(dark));
    EXPECT_EQ(mark("launchAtLogin")->color(), faint(InterfaceStyle::secondary(dark)));
    const auto textColor = [](QLabel* label) {
        return label->palette().color(label->foregroundRole());
    };
    EXPECT_EQ(textColor(in<QLabel>("cloud", "detail")), InterfaceStyle::secondary(dark));
    EXPECT_GT(symbolInk("cloud").pixelsNear(InterfaceStyle::red(dark)), 40);

    settings.setSetupCollapsed(true);
    EXPECT_EQ(headerDot(), InterfaceStyle::orange(dark));
    EXPECT_EQ(textColor(child<QLabel>("headerSummary")), InterfaceStyle::secondary(dark));
}

}  // namespace
