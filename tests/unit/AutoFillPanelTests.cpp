// SPDX-License-Identifier: GPL-3.0-or-later
// The AutoFill panel on virtual time: what each state shows, the once-a-second re-reading of the
// shared file, the countdown, and the buttons and keys that end the request.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "ZorvikMacAutoFill/AutoFillModel.h"
#include "ZorvikMacAutoFill/AutoFillPanel.h"
#include "shared/LatestCodeStore.h"
#include "shared/symbols/Symbols.h"
#include "tests/support/ManualMainActor.h"
#include "tests/support/QStringPrinter.h"

namespace {

const QColor gold = QColor::fromRgbF(0.83f, 0.66f, 0.20f);
const QString expiredText = QStringLiteral("The last code expired. Tap it again.");

class AutoFillPanelTest : public testing::Test {
protected:
    // Declared in this order so the panel goes first, then the model it shows, then the actor
    // its ticks run on.
    QTemporaryDir directory;
    LatestCodeStore store{directory.filePath(QStringLiteral("latest-code.json"))};
    ManualMainActor actor;
    Instant start = actor.now();
    AutoFillModel model{store};
    std::unique_ptr<AutoFillPanel> panel = std::make_unique<AutoFillPanel>(model, gold, actor);

    QStringList endings;

    void SetUp() override {
        ASSERT_TRUE(directory.isValid());
        model.onFill = [this](const QString& code) { endings << "fill " + code; };
        model.onCancel = [this] { endings << "cancel"; };
        model.onDone = [this] { endings << "done"; };
    }

    // The application writing the shared file; it keeps whole seconds, so expiries are whole
    // seconds after the start.
    void write(int secondsLeft, const QString& code = QStringLiteral("123456"),
               std::optional<QString> serviceID = QStringLiteral("github")) {
        store.save({QStringLiteral("Work GitHub"), std::move(serviceID), code,
                    QStringLiteral("iPhone 15"), addingSeconds(start, -10),
                    addingSeconds(start, -9), addingSeconds(start, secondsLeft)});
    }

    // The first show starts the ticks; their first turn runs from the main queue. The keys of
    // the default and cancel actions need the window active.
    void show(bool active = false) {
        panel->show();
        actor.runUntilIdle();
        if (active) {
            panel->activateWindow();
            ASSERT_TRUE(QTest::qWaitForWindowActive(panel.get()));
        }
    }

    bool showing(const char* objectName) const {
        const auto* widget = panel->findChild<QWidget*>(QString::fromLatin1(objectName));
        return widget && widget->isVisibleTo(panel.get());
    }

    // Which of the three bodies shows: exactly one always does.
    QString body() const {
        QStringList shown;
        for (const char* name : {"configurationBody", "codeBody", "waitingBody"}) {
            if (showing(name)) {
                shown.append(QString::fromLatin1(name));
            }
        }
        return shown.join('+');
    }

    QString text(const char* objectName) const {
        const auto* label = panel->findChild<QLabel*>(QString::fromLatin1(objectName));
        return label ? label->text() : QStringLiteral("<no label %1>").arg(objectName);
    }
    QColor color(const char* objectName) const {
        const auto* label = panel->findChild<QLabel*>(QString::fromLatin1(objectName));
        return label ? label->palette().color(QPalette::WindowText) : QColor();
    }

    void click(const char* objectName) {
        auto* button = panel->findChild<QPushButton*>(QString::fromLatin1(objectName));
        ASSERT_TRUE(button && button->isVisibleTo(panel.get())) << objectName;
        button->click();
    }

    void press(Qt::Key key) { QTest::keyClick(panel.get(), key); }
};

TEST_F(AutoFillPanelTest, ShowsOneBodyForEachStateAndRefreshReadsTheFileAtOnce) {
    show();
    EXPECT_EQ(body(), "waitingBody");
    EXPECT_EQ(text("waitingDetail"), "It will appear here within a few seconds.");

    write(42);
    actor.advance(0.5);
    click("refreshButton");
    EXPECT_EQ(body(), "codeBody");
    EXPECT_EQ(text("accountName"), "Work GitHub");
    EXPECT_EQ(text("fromDevice"), "from iPhone 15");
    EXPECT_EQ(text("code"), "123 456");
    EXPECT_EQ(text("countdown"), "expires in 42 s") << "41.5 seconds left";

    // Configuration shows only its body, whatever is on disk.
    model.setMode(AutoFillModel::Mode::configuration);
    EXPECT_EQ(body(), "configurationBody");
    model.setMode(AutoFillModel::Mode::list);
    EXPECT_EQ(body(), "codeBody");

    write(-1);
    actor.advance(1);
    EXPECT_EQ(body(), "waitingBody");
    EXPECT_EQ(text("waitingDetail"), expiredText);
    EXPECT_TRUE(endings.isEmpty());
}

TEST_F(AutoFillPanelTest, TicksEachSecondFromTheFirstShowUntilItIsGone) {
    write(9);
    actor.advance(5);
    EXPECT_FALSE(model.latest().has_value());
    EXPECT_EQ(actor.pendingTimers(), 0u);
    EXPECT_FALSE(actor.hasQueuedJobs());

    show();
    EXPECT_EQ(text("countdown"), "expires in 4 s") << "exactly 4 seconds left is 4, not 5";
    write(8, QStringLiteral("654321"));
    EXPECT_EQ(text("code"), "123 456") << "the file is read on ticks, not watched";
    for (const char* expected : {"expires in 2 s", "expires in 1 s"}) {
        actor.advance(1);
        EXPECT_EQ(text("code"), "654 321");
        EXPECT_EQ(text("countdown"), expected);
    }
    actor.advance(1);
    EXPECT_EQ(body(), "waitingBody") << "the tick falling exactly on the expiry ends it";
    EXPECT_EQ(text("waitingDetail"), expiredText);
    EXPECT_TRUE(endings.isEmpty());

    // The controller re-reads with an instant of its own that still finds the code valid; the
    // countdown is measured from the last tick, two seconds past the expiry.
    actor.advance(2);
    model.refresh(start);
    ASSERT_EQ(body(), "codeBody");
    EXPECT_EQ(text("countdown"), "expires in 0 s");

    EXPECT_EQ(actor.pendingTimers(), 1u);
    panel.reset();
    actor.runUntilIdle();
    EXPECT_EQ(actor.pendingTimers(), 0u);
    store.clear();
    actor.advance(3);
    EXPECT_TRUE(model.latest().has_value());
}

// "different site" only when the code's service covers none of the requested sites; which
// sites a service covers is the model's, tested there. Its orange, like the secondary text,
// follows the palette, so a dark desktop gets the dark orange.
TEST_F(AutoFillPanelTest, DifferentSiteFollowsTheRequestedSitesAndColoursTheirPalette) {
    write(42);
    show();
    EXPECT_FALSE(showing("differentSite"));
    model.setServiceIdentifiers({QStringLiteral("example.com")});
    EXPECT_TRUE(showing("differentSite"));
    EXPECT_EQ(color("differentSiteText"), QColor(0xFF, 0x95, 0x00));
    EXPECT_LT(color("countdown").lightnessF(), 0.6);

    QPalette dark = panel->palette();
    dark.setColor(QPalette::Window, QColor(0x1E, 0x1E, 0x1E));
    dark.setColor(QPalette::WindowText, QColor(0xF0, 0xF0, 0xF0));
    panel->setPalette(dark);
    EXPECT_GT(color("countdown").lightnessF(), 0.5);
    EXPECT_EQ(color("differentSiteText"), QColor(0xFF, 0x9F, 0x0A));
    EXPECT_EQ(color("code"), gold);

    model.setServiceIdentifiers({QStringLiteral("github.com")});
    EXPECT_FALSE(showing("differentSite"));
    // A code without a service cannot be held against any site.
    model.setServiceIdentifiers({QStringLiteral("example.com")});
    write(42, QStringLiteral("123456"), std::nullopt);
    actor.advance(1);
    EXPECT_FALSE(showing("differentSite"));
}

// Return is the default action and Escape the cancel, wherever the focus is, on whichever body
// shows; each presses that body's button.
TEST_F(AutoFillPanelTest, ReturnAndEscapeActOnTheBodyShowing) {
    write(42, QStringLiteral("12345678"));
    show(true);
    ASSERT_EQ(text("code"), "1234 5678");
    // Focus on Cancel does not make Return press it.
    panel->findChild<QPushButton*>(QStringLiteral("codeCancelButton"))->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    press(Qt::Key_Escape);

    store.clear();
    actor.advance(1);
    ASSERT_EQ(body(), "waitingBody");
    press(Qt::Key_Return);

    model.setMode(AutoFillModel::Mode::configuration);
    press(Qt::Key_Escape);
    // The plain code, not the displayed one; nothing for Return while waiting, nothing for
    // Escape in the configuration.
    EXPECT_EQ(endings, (QStringList{"fill 12345678", "cancel"}));
}

TEST_F(AutoFillPanelTest, ButtonsWithoutCallbacksDoNothing) {
    model.onFill = nullptr;
    model.onCancel = nullptr;
    model.onDone = nullptr;
    write(42);
    show();
    click("fillButton");
    click("codeCancelButton");
    model.setMode(AutoFillModel::Mode::configuration);
    click("doneButton");
    EXPECT_EQ(body(), "configurationBody");
}

// The symbols the panel and the popover draw come from the bundled resource.
TEST(PanelSymbols, EverySymbolTheInterfaceNamesIsBundledAndDrawnForHiDpiScreens) {
    for (const char* name : {"lock.fill", "lock.open.fill", "exclamationmark.triangle.fill",
                             "iphone.and.arrow.right.outward", "arrow.clockwise", "applewatch",
                             "iphone", "doc.on.doc", "checkmark", "stethoscope", "chevron.right",
                             "checkmark.circle.fill", "xmark.circle.fill"}) {
        EXPECT_TRUE(Symbols::contains(QString::fromLatin1(name))) << name;
        EXPECT_FALSE(Symbols::pixmap(QString::fromLatin1(name), 13, gold).isNull()) << name;
    }
    EXPECT_FALSE(Symbols::contains(QStringLiteral("no.such.symbol")));
    EXPECT_TRUE(Symbols::pixmap(QStringLiteral("no.such.symbol"), 13, gold).isNull());

    const QPixmap sharp = Symbols::pixmap(QStringLiteral("lock.fill"), 13, gold, 2.0);
    EXPECT_EQ(sharp.size(), QSize(32, 32));
    EXPECT_EQ(sharp.devicePixelRatio(), 2.0);
    EXPECT_EQ(Symbols::pixmap(QStringLiteral("lock.fill"), 13, gold).size(), QSize(16, 16));
}

TEST(PanelSymbols, TintsEveryInkedPixelAndKeepsCutOutsClear) {
    const QImage warning = Symbols::image(QStringLiteral("exclamationmark.triangle.fill"), 20,
                                          QColor(0xFF, 0x95, 0x00))
                               .convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(warning.size(), QSize(24, 24));
    int opaque = 0;
    for (int y = 0; y < warning.height(); ++y) {
        for (int x = 0; x < warning.width(); ++x) {
            const QColor pixel = warning.pixelColor(x, y);
            if (pixel.alpha() > 200) {
                ++opaque;
                EXPECT_NEAR(pixel.red(), 0xFF, 2);
                EXPECT_NEAR(pixel.green(), 0x95, 2);
                EXPECT_NEAR(pixel.blue(), 0x00, 2);
            }
        }
    }
    EXPECT_GT(opaque, 100);
    // The stem of the exclamation mark is a hole through the triangle.
    EXPECT_EQ(warning.pixelColor(12, 12).alpha(), 0);
}

}  // namespace
