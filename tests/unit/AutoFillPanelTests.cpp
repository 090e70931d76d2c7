// The AutoFill panel on virtual time: what each state shows, the once-a-second re-reading of the
// shared file, the countdown, and the buttons and keys that end the request.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "AutoFillModel.h"
#include "AutoFillPanel.h"
#include "LatestCodeStore.h"
#include "ManualMainActor.h"
#include "QStringPrinter.h"
#include "Symbols.h"

namespace {

using testing::ElementsAre;
using testing::IsEmpty;

const QColor gold = QColor::fromRgbF(0.83f, 0.66f, 0.20f);
const QString waitingText = QStringLiteral("It will appear here within a few seconds.");
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

    std::vector<QString> filled;
    int cancels = 0;
    int dones = 0;

    void SetUp() override {
        ASSERT_TRUE(directory.isValid());
        model.onFill = [this](const QString& code) { filled.push_back(code); };
        model.onCancel = [this] { ++cancels; };
        model.onDone = [this] { ++dones; };
    }

    // The shared file keeps whole seconds, so expiries are whole seconds after the start.
    LatestCode codeExpiringIn(int seconds, const QString& code = QStringLiteral("123456"),
                              std::optional<QString> serviceID = QStringLiteral("github")) const {
        return LatestCode{
            QStringLiteral("Work GitHub"), std::move(serviceID),      code,
            QStringLiteral("iPhone 15"),   addingSeconds(start, -10), addingSeconds(start, -9),
            addingSeconds(start, seconds)};
    }

    // The application writing the shared file, as it does when a code arrives.
    void write(const LatestCode& code) { store.save(code); }

    // The first show starts the ticks; their first turn runs from the main queue.
    void show() {
        panel->show();
        actor.runUntilIdle();
    }

    // Shown and active, as the keys of the default and cancel actions need.
    void showActive() {
        show();
        panel->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(panel.get()));
    }

    bool showing(const QString& objectName) const {
        const auto* widget = panel->findChild<QWidget*>(objectName);
        return widget && widget->isVisibleTo(panel.get());
    }

    QString text(const QString& objectName) const {
        const auto* label = panel->findChild<QLabel*>(objectName);
        return label ? label->text() : QStringLiteral("<no label %1>").arg(objectName);
    }

    QColor textColor(const QString& objectName) const {
        const auto* label = panel->findChild<QLabel*>(objectName);
        return label ? label->palette().color(QPalette::WindowText) : QColor();
    }

    // The visible buttons' titles, in the order they were made.
    QStringList buttons() const {
        QStringList titles;
        for (const auto* button : panel->findChildren<QPushButton*>()) {
            if (button->isVisibleTo(panel.get())) {
                titles.append(button->text());
            }
        }
        return titles;
    }

    void click(const QString& title) {
        for (auto* button : panel->findChildren<QPushButton*>()) {
            if (button->isVisibleTo(panel.get()) && button->text() == title) {
                button->click();
                return;
            }
        }
        ADD_FAILURE() << "no visible button " << title.toStdString();
    }

    QString countdown() const { return text(QStringLiteral("countdown")); }
    bool showsCode() const { return showing(QStringLiteral("codeBody")); }
    bool showsWaiting() const { return showing(QStringLiteral("waitingBody")); }
};

// The four states of the panel.

TEST_F(AutoFillPanelTest, WaitsForACodeAndSaysWhenTheOneOnDiskExpired) {
    show();
    EXPECT_EQ(text(QStringLiteral("title")), "From Zorvik");
    EXPECT_TRUE(showsWaiting());
    EXPECT_FALSE(showsCode());
    EXPECT_FALSE(showing(QStringLiteral("configurationBody")));
    EXPECT_EQ(text(QStringLiteral("waitingTitle")), "Tap a code on your iPhone or Watch");
    EXPECT_EQ(text(QStringLiteral("waitingDetail")), waitingText);
    EXPECT_THAT(buttons(), ElementsAre("Cancel", "Refresh"));

    write(codeExpiringIn(-1));
    actor.advance(1);
    EXPECT_TRUE(showsWaiting());
    EXPECT_EQ(text(QStringLiteral("waitingDetail")), expiredText);
    EXPECT_THAT(buttons(), ElementsAre("Cancel", "Refresh"));
}

TEST_F(AutoFillPanelTest, ShowsAValidCodeWithItsAccountDeviceAndCountdown) {
    write(codeExpiringIn(42));
    show();
    EXPECT_TRUE(showsCode());
    EXPECT_FALSE(showsWaiting());
    EXPECT_EQ(text(QStringLiteral("accountName")), "Work GitHub");
    EXPECT_EQ(text(QStringLiteral("fromDevice")), "from iPhone 15");
    EXPECT_EQ(text(QStringLiteral("code")), "123 456");
    // Exactly 42 seconds left is 42, not 43.
    EXPECT_EQ(countdown(), "expires in 42 s");
    EXPECT_THAT(buttons(), ElementsAre("Cancel", "Fill"));
    EXPECT_EQ(textColor(QStringLiteral("code")), gold);
}

TEST_F(AutoFillPanelTest, ConfigurationShowsOnlyItsBodyAndDoneWhateverIsOnDisk) {
    write(codeExpiringIn(42));
    model.setMode(AutoFillModel::Mode::configuration);
    show();
    EXPECT_TRUE(showing(QStringLiteral("configurationBody")));
    EXPECT_FALSE(showsCode());
    EXPECT_FALSE(showsWaiting());
    EXPECT_THAT(buttons(), ElementsAre("Done"));

    model.setMode(AutoFillModel::Mode::list);
    EXPECT_TRUE(showsCode());
}

// The countdown and the once-a-second schedule.

TEST_F(AutoFillPanelTest, CountsWholeSecondsUpAndExpiresWithoutUserAction) {
    write(codeExpiringIn(3));
    actor.advance(0.7);
    show();  // the first tick: 2.3 seconds left
    EXPECT_EQ(countdown(), "expires in 3 s");
    actor.advance(1);
    EXPECT_EQ(countdown(), "expires in 2 s");
    actor.advance(1);
    EXPECT_EQ(countdown(), "expires in 1 s");
    actor.advance(1);
    EXPECT_TRUE(showsWaiting());
    EXPECT_EQ(text(QStringLiteral("waitingDetail")), expiredText);
    EXPECT_THAT(filled, IsEmpty());
}

TEST_F(AutoFillPanelTest, ExpiresAtTheTickThatFallsExactlyOnTheExpiry) {
    write(codeExpiringIn(3));
    show();
    actor.advance(2);
    EXPECT_EQ(countdown(), "expires in 1 s");
    actor.advance(1);
    EXPECT_TRUE(showsWaiting());
    EXPECT_EQ(text(QStringLiteral("waitingDetail")), expiredText);
}

TEST_F(AutoFillPanelTest, CountdownNeverGoesBelowZero) {
    write(codeExpiringIn(2));
    show();
    actor.advance(5);
    ASSERT_TRUE(showsWaiting());
    // The controller re-reads with an instant of its own that still finds the code valid; the
    // countdown is measured from the last tick, which is already past the expiry.
    model.refresh(start);
    ASSERT_TRUE(showsCode());
    EXPECT_EQ(countdown(), "expires in 0 s");
}

TEST_F(AutoFillPanelTest, DoesNotTickBeforeItIsFirstShown) {
    write(codeExpiringIn(42));
    actor.advance(5);
    EXPECT_FALSE(model.latest().has_value());
    EXPECT_EQ(actor.pendingTimers(), 0u);
    EXPECT_FALSE(actor.hasQueuedJobs());

    show();
    EXPECT_TRUE(model.latest().has_value());
    EXPECT_EQ(countdown(), "expires in 37 s");
}

TEST_F(AutoFillPanelTest, ShowsANewCodeAtTheNextTickButNeverFillsItByItself) {
    show();
    ASSERT_TRUE(showsWaiting());
    write(codeExpiringIn(60, QStringLiteral("654321")));
    EXPECT_TRUE(showsWaiting()) << "the file is read on ticks, not watched";

    actor.advance(1);
    EXPECT_TRUE(showsCode());
    EXPECT_EQ(text(QStringLiteral("code")), "654 321");
    EXPECT_EQ(countdown(), "expires in 59 s");
    actor.advance(10);
    EXPECT_THAT(filled, IsEmpty());
    EXPECT_EQ(cancels, 0);
}

TEST_F(AutoFillPanelTest, RefreshReadsTheFileAtOnce) {
    show();
    write(codeExpiringIn(-5));
    click(QStringLiteral("Refresh"));
    EXPECT_EQ(text(QStringLiteral("waitingDetail")), expiredText);

    write(codeExpiringIn(30));
    click(QStringLiteral("Refresh"));
    EXPECT_TRUE(showsCode());
    EXPECT_EQ(countdown(), "expires in 30 s");
    EXPECT_THAT(filled, IsEmpty());
}

TEST_F(AutoFillPanelTest, StopsTickingWhenItIsGone) {
    show();
    EXPECT_EQ(actor.pendingTimers(), 1u);
    panel.reset();
    actor.runUntilIdle();
    EXPECT_EQ(actor.pendingTimers(), 0u);

    write(codeExpiringIn(60));
    actor.advance(3);
    EXPECT_FALSE(model.latest().has_value());
}

// "different site" only when the code's service covers none of the requested sites; which
// sites a service covers is the model's, tested there.

TEST_F(AutoFillPanelTest, DifferentSiteFollowsTheRequestedSitesAndIsOrange) {
    write(codeExpiringIn(42));
    show();
    EXPECT_FALSE(showing(QStringLiteral("differentSite")));
    model.setServiceIdentifiers({QStringLiteral("example.com")});
    EXPECT_TRUE(showing(QStringLiteral("differentSite")));
    EXPECT_EQ(text(QStringLiteral("differentSiteText")), "different site");
    EXPECT_EQ(textColor(QStringLiteral("differentSiteText")), QColor(0xFF, 0x95, 0x00));
    model.setServiceIdentifiers({QStringLiteral("github.com")});
    EXPECT_FALSE(showing(QStringLiteral("differentSite")));

    // A code without a service cannot be held against any site.
    model.setServiceIdentifiers({QStringLiteral("example.com")});
    write(codeExpiringIn(42, QStringLiteral("123456"), std::nullopt));
    actor.advance(1);
    EXPECT_FALSE(showing(QStringLiteral("differentSite")));
}

// Buttons and keys.

TEST_F(AutoFillPanelTest, FillPassesThePlainCodeNotTheDisplayedOne) {
    write(codeExpiringIn(42, QStringLiteral("12345678")));
    show();
    ASSERT_EQ(text(QStringLiteral("code")), "1234 5678");
    click(QStringLiteral("Fill"));
    EXPECT_THAT(filled, ElementsAre("12345678"));
    EXPECT_EQ(cancels, 0);
}

TEST_F(AutoFillPanelTest, CancelAndDoneCallTheirCallbacks) {
    write(codeExpiringIn(42));
    show();
    click(QStringLiteral("Cancel"));
    EXPECT_EQ(cancels, 1);

    store.clear();
    actor.advance(1);
    ASSERT_TRUE(showsWaiting());
    click(QStringLiteral("Cancel"));
    EXPECT_EQ(cancels, 2);

    model.setMode(AutoFillModel::Mode::configuration);
    click(QStringLiteral("Done"));
    EXPECT_EQ(dones, 1);
    EXPECT_THAT(filled, IsEmpty());
}

TEST_F(AutoFillPanelTest, ButtonsWithoutCallbacksDoNothing) {
    model.onFill = nullptr;
    model.onCancel = nullptr;
    model.onDone = nullptr;
    write(codeExpiringIn(42));
    show();
    click(QStringLiteral("Fill"));
    click(QStringLiteral("Cancel"));
    model.setMode(AutoFillModel::Mode::configuration);
    click(QStringLiteral("Done"));
    EXPECT_TRUE(showing(QStringLiteral("configurationBody")));
}

TEST_F(AutoFillPanelTest, ReturnFillsAndEscapeCancelsWhereverTheFocusIs) {
    write(codeExpiringIn(42));
    showActive();
    // Focus on Cancel does not make Return press it: Return is the default action.
    panel->findChild<QPushButton*>(QStringLiteral("codeCancelButton"))->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_THAT(filled, ElementsAre("123456"));
    EXPECT_EQ(cancels, 0);

    QTest::keyClick(panel.get(), Qt::Key_Escape);
    EXPECT_EQ(cancels, 1);
    EXPECT_THAT(filled, ElementsAre("123456"));
}

TEST_F(AutoFillPanelTest, ReturnIsDoneInConfigurationAndEscapeDoesNothingThere) {
    model.setMode(AutoFillModel::Mode::configuration);
    showActive();
    QTest::keyClick(panel.get(), Qt::Key_Escape);
    EXPECT_EQ(cancels, 0);
    QTest::keyClick(panel.get(), Qt::Key_Return);
    EXPECT_EQ(dones, 1);
}

TEST_F(AutoFillPanelTest, WhileWaitingReturnDoesNothingAndEscapeCancels) {
    showActive();
    QTest::keyClick(panel.get(), Qt::Key_Return);
    EXPECT_THAT(filled, IsEmpty());
    EXPECT_EQ(dones, 0);
    QTest::keyClick(panel.get(), Qt::Key_Escape);
    EXPECT_EQ(cancels, 1);
}

// Colours follow the palette, so a dark desktop gets light secondary text and the dark orange.

TEST_F(AutoFillPanelTest, ColoursFollowADarkPalette) {
    model.setServiceIdentifiers({QStringLiteral("example.com")});
    write(codeExpiringIn(42));
    show();
    const QColor lightSecondary = textColor(QStringLiteral("countdown"));
    EXPECT_LT(lightSecondary.lightnessF(), 0.6);

    QPalette dark = panel->palette();
    dark.setColor(QPalette::Window, QColor(0x1E, 0x1E, 0x1E));
    dark.setColor(QPalette::WindowText, QColor(0xF0, 0xF0, 0xF0));
    panel->setPalette(dark);
    EXPECT_GT(textColor(QStringLiteral("countdown")).lightnessF(), 0.5);
    EXPECT_EQ(textColor(QStringLiteral("differentSiteText")), QColor(0xFF, 0x9F, 0x0A));
    EXPECT_EQ(textColor(QStringLiteral("code")), gold);
}

// The symbols the panel and the popover draw come from the bundled resource.

TEST(PanelSymbols, EverySymbolTheInterfaceNamesIsBundled) {
    for (const char* name : {"lock.fill", "lock.open.fill", "exclamationmark.triangle.fill",
                             "iphone.and.arrow.right.outward", "arrow.clockwise", "applewatch",
                             "iphone", "doc.on.doc", "checkmark", "stethoscope", "chevron.right",
                             "checkmark.circle.fill", "xmark.circle.fill"}) {
        EXPECT_TRUE(Symbols::contains(QString::fromLatin1(name))) << name;
        EXPECT_FALSE(Symbols::pixmap(QString::fromLatin1(name), 13, gold).isNull()) << name;
    }
    EXPECT_FALSE(Symbols::contains(QStringLiteral("no.such.symbol")));
    EXPECT_TRUE(Symbols::pixmap(QStringLiteral("no.such.symbol"), 13, gold).isNull());
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

TEST(PanelSymbols, DrawsWithEveryDevicePixelForHiDpiScreens) {
    const QPixmap sharp = Symbols::pixmap(QStringLiteral("lock.fill"), 13, gold, 2.0);
    EXPECT_EQ(sharp.size(), QSize(32, 32));
    EXPECT_EQ(sharp.devicePixelRatio(), 2.0);
    EXPECT_EQ(Symbols::pixmap(QStringLiteral("lock.fill"), 13, gold).size(), QSize(16, 16));
}

}  // namespace
