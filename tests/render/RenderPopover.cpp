// SPDX-License-Identifier: GPL-3.0-or-later
// zorvik-render-popover: the popover's content in its main states, at the size it asks for,
// as PNG files. The receiver behind it runs on fakes and virtual time.
#include <QApplication>
#include <QPointer>
#include <QPushButton>
#include <optional>

#include "ZorvikMac/CodeIntake/KeyPairing.h"
#include "ZorvikMac/Popover/PopoverScreen.h"
#include "ZorvikMac/Popover/PopoverView.h"
#include "tests/render/SceneRenderer.h"
#include "tests/unit/CodeReceiverTestFixture.h"

namespace {

// A scene's state; by default a desktop that is ready, with the setup list folded.
struct PopoverState {
    // Whether the readiness checks have run, and with AutoFill on.
    bool checked = true;
    bool autoFill = true;
    bool firstRun = false;
    bool folded = true;
    // Seconds from the scene's instant to the code's expiry; no code when absent.
    std::optional<double> expiresIn{};
    QString device = QStringLiteral("iPhone 15");
    bool copied = false;
    bool diagnosticsCopied = false;
    std::optional<QString> loginItemRefusal{};
    // No key on this desktop yet, and an offer to receive it open.
    bool pairing = false;
};

// A popover view over a receiver wired to fakes on virtual time, as the receiver's unit tests
// have it.
class PopoverScene final : public SceneContent, private CodeReceiverTest {
public:
    explicit PopoverScene(const PopoverState& state) : state_(state) {
        if (state.pairing) {
            keychain.items.clear();
        }
        remote.registered = true;
        center.authorizationStatus = UserNotificationCenter::AuthorizationStatus::authorized;
        identityStore.enabled = state.autoFill;
        make().setFirstRun(state.firstRun);
        settings.setSetupCollapsed(state.folded);
        if (state.loginItemRefusal) {
            loginItem.refuseWith = state.loginItemRefusal;
            settings.setLaunchAtLogin(true);
        }
        if (state.checked) {
            actor.spawn(receiver->runChecks());
            actor.runUntilIdle();
            actor.advance(40);
            fetchNow();
        }
        if (state.expiresIn) {
            const Instant now = actor.now();
            const double expiresIn = *state.expiresIn;
            // An expired code is still held when the wall clock jumped past it.
            const Instant shownAt = expiresIn > 0 ? now : addingSeconds(now, -expiresIn + 1);
            receiver->setLatest(LatestCode{"Work GitHub", "github", "123456", state.device,
                                           addingSeconds(now, -20), addingSeconds(now, -19),
                                           addingSeconds(now, std::max(expiresIn, 1.0))});
            // The receiver's expiry timer starts first, so the jump does not fire it.
            actor.runUntilIdle();
            actor.setWallClock(shownAt);
        }
        if (state.pairing) {
            pairing_.start();
        }
        view_ = new PopoverView(
            *receiver, settings, screen_, [](double, double) {}, [] {},
            PopoverEnvironment{actor, workspace, autoFillSettings_, log, QTimeZone::utc(), nullptr,
                               &pairing_});
    }

    // A view that no frame took (the one measured for the frame's size) goes before the
    // receiver it shows.
    ~PopoverScene() override { delete view_; }

    QWidget* widget() override { return view_; }

    void settle() override {
        actor.runUntilIdle();
        QApplication::processEvents();
        if (state_.copied) {
            receiver->copyLatest();
        }
        if (state_.diagnosticsCopied) {
            view_->findChild<QPushButton*>(QStringLiteral("diagnosticsButton"))->click();
        }
        for (int round = 0; round < 4; ++round) {
            actor.runUntilIdle();
            QApplication::processEvents();
        }
    }

private:
    void TestBody() override {}

    PopoverState state_;
    PopoverScreen screen_;
    FakeAutoFillSettings autoFillSettings_;
    KeyPairing pairing_{actor, &cloud.privateCloudDatabase(), keychain, log};
    QPointer<PopoverView> view_;
};

Scene popoverScene(const QString& name, const PopoverState& state) {
    // The frame is the size the view asks for in that state.
    const QSize size = PopoverScene(state).widget()->sizeHint();
    return {QStringLiteral("popover-") + name, size,
            [state] { return std::make_unique<PopoverScene>(state); }};
}

std::vector<Scene> scenes() {
    return {
        popoverScene("first-run", {.checked = false, .firstRun = true, .folded = false}),
        popoverScene("needs-setup", {.autoFill = false, .folded = false}),
        popoverScene("ready-folded", {}),
        popoverScene("code", {.expiresIn = 42}),
        popoverScene("code-under-15s", {.expiresIn = 9, .device = "Apple Watch"}),
        popoverScene("expired", {.expiresIn = -3}),
        popoverScene("just-copied", {.expiresIn = 42, .copied = true}),
        popoverScene(
            "diagnostics-copied",
            {.diagnosticsCopied = true, .loginItemRefusal = "The login item could not be added."}),
        popoverScene("pairing", {.folded = false, .pairing = true}),
    };
}

}  // namespace

int main(int argc, char** argv) {
    return runRenderTool(
        argc, argv, QStringLiteral("zorvik-render-popover"),
        QStringLiteral(
            "Draws the popover's content in its states: first run, needs setup, ready "
            "and folded, a code with 42 s left, a code under 15 s, an expired code, "
            "just copied, diagnostics copied (with a login-item error), and pairing with the "
            "iPhone."),
        scenes);
}
