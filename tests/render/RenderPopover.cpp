// SPDX-License-Identifier: GPL-3.0-or-later
// zorvik-render-popover: the popover's content in its main states, at the size it asks for,
// as PNG files. The receiver behind it runs on fakes and virtual time.
#include <QApplication>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <optional>

#include "ZorvikMac/CodeDelivery/ClipboardPublisher.h"
#include "ZorvikMac/CodeDelivery/CredentialIdentities.h"
#include "ZorvikMac/CodeDelivery/Notifier.h"
#include "ZorvikMac/CodeIntake/KeyPairing.h"
#include "ZorvikMac/Popover/PopoverScreen.h"
#include "ZorvikMac/Popover/PopoverView.h"
#include "ZorvikMac/Readiness/MacSettings.h"
#include "ZorvikMac/Receiver/CodeReceiver.h"
#include "platform/linux/QSettingsUserDefaults.h"
#include "tests/render/SceneRenderer.h"
#include "tests/support/FakeCloudContainer.h"
#include "tests/support/FakeCredentialIdentityStore.h"
#include "tests/support/FakeKeychain.h"
#include "tests/support/FakeLoginItemService.h"
#include "tests/support/FakePasteboard.h"
#include "tests/support/FakeRemoteNotifications.h"
#include "tests/support/FakeUserNotificationCenter.h"
#include "tests/support/FakeWorkspace.h"
#include "tests/support/ManualMainActor.h"
#include "tests/support/RecordingSystemLog.h"
#include "tests/support/TemporaryAppGroupContainers.h"

namespace {

struct PopoverState {
    // Whether the readiness checks have run, and with AutoFill on.
    bool checked = false;
    bool autoFill = true;
    bool firstRun = true;
    bool folded = false;
    // Seconds from the scene's instant to the code's expiry; no code when absent.
    std::optional<double> expiresIn;
    QString device = QStringLiteral("iPhone 15");
    bool copied = false;
    bool diagnosticsCopied = false;
    std::optional<QString> loginItemRefusal;
    // No key on this desktop yet, and an offer to receive it open.
    bool pairing = false;
};

BundleInfo bundle() {
    BundleInfo info;
    info.shortVersion = QStringLiteral("1.4");
    info.build = QStringLiteral("87");
    info.systemVersion = QStringLiteral("6.1.0");
    return info;
}

// A popover view over a receiver wired to fakes on virtual time.
class PopoverScene final : public SceneContent {
public:
    explicit PopoverScene(const PopoverState& state) : state_(state) {
        if (!state.pairing) {
            keychain_.items.insert({"net.brontal.zorvik.sync", "sync-key"},
                                   QByteArray("0123456789abcdef0123456789abcdef"));
        }
        remote_.registered = true;
        center_.authorizationStatus = UserNotificationCenter::AuthorizationStatus::authorized;
        identityStore_.enabled = state.autoFill;
        receiver_.setFirstRun(state.firstRun);
        settings_.setSetupCollapsed(state.folded);
        if (state.loginItemRefusal) {
            loginItem_.refuseWith = state.loginItemRefusal;
            settings_.setLaunchAtLogin(true);
        }
        if (state.checked) {
            actor_.spawn(receiver_.runChecks());
            actor_.runUntilIdle();
            actor_.advance(40);
            actor_.spawn(receiver_.fetch());
            actor_.runUntilIdle();
        }
        if (state.expiresIn) {
            const Instant now = actor_.now();
            const double expiresIn = *state.expiresIn;
            // An expired code is still held when the wall clock jumped past it.
            const Instant shownAt = expiresIn > 0 ? now : addingSeconds(now, -expiresIn + 1);
            receiver_.setLatest(LatestCode{QStringLiteral("Work GitHub"), QStringLiteral("github"),
                                           QStringLiteral("123456"), state.device,
                                           addingSeconds(now, -20), addingSeconds(now, -19),
                                           addingSeconds(now, std::max(expiresIn, 1.0))});
            // The receiver's expiry timer starts first, so the jump does not fire it.
            actor_.runUntilIdle();
            actor_.setWallClock(shownAt);
        }
        if (state.pairing) {
            pairing_.start();
        }
        view_ = new PopoverView(
            receiver_, settings_, screen_, [](double, double) {}, [] {},
            PopoverEnvironment{actor_, workspace_, autoFillSettings_, log_, QTimeZone::utc(),
                               nullptr, &pairing_});
    }

    // A view that no frame took (the one measured for the frame's size) goes before the
    // receiver it shows.
    ~PopoverScene() override { delete view_; }

    QWidget* widget() override { return view_; }

    void settle() override {
        actor_.runUntilIdle();
        QApplication::processEvents();
        if (state_.copied) {
            receiver_.copyLatest();
        }
        if (state_.diagnosticsCopied) {
            view_->findChild<QPushButton*>(QStringLiteral("diagnosticsButton"))->click();
        }
        for (int round = 0; round < 4; ++round) {
            actor_.runUntilIdle();
            QApplication::processEvents();
        }
    }

private:
    PopoverState state_;
    ManualMainActor actor_;
    RecordingSystemLog log_;
    FakeKeychain keychain_;
    FakeCloudContainer cloud_{actor_};
    FakeRemoteNotifications remote_;
    FakeWorkspace workspace_{actor_};
    FakePasteboard pasteboard_;
    ClipboardPublisher clipboard_{pasteboard_, actor_};
    FakeUserNotificationCenter center_{actor_};
    Notifier notifier_{center_, actor_, clipboard_};
    FakeCredentialIdentityStore identityStore_{actor_};
    CredentialIdentities identities_{identityStore_, actor_};
    QTemporaryDir directory_;
    QSettingsUserDefaults defaults_{directory_.filePath(QStringLiteral("ZorvikMac.conf"))};
    FakeLoginItemService loginItem_;
    MacSettings settings_{defaults_, loginItem_};
    TemporaryAppGroupContainers containers_;
    CodeReceiver receiver_{settings_,
                           LatestCodeStore::make(containers_),
                           false,
                           defaults_,
                           {actor_, log_, keychain_, &cloud_, remote_, workspace_, clipboard_,
                            &notifier_, &identities_, bundle(), QTimeZone::utc()}};
    PopoverScreen screen_;
    FakeAutoFillSettings autoFillSettings_;
    KeyPairing pairing_{actor_, &cloud_.privateCloudDatabase(), keychain_, log_};
    QPointer<PopoverView> view_;
};

Scene popoverScene(const QString& name, const PopoverState& state) {
    // The frame is the size the view asks for in that state.
    const QSize size = PopoverScene(state).widget()->sizeHint();
    return {QStringLiteral("popover-") + name, size,
            [state] { return std::make_unique<PopoverScene>(state); }};
}

std::vector<Scene> scenes() {
    PopoverState firstRun;

    PopoverState needsSetup;
    needsSetup.checked = true;
    needsSetup.autoFill = false;
    needsSetup.firstRun = false;

    PopoverState ready;
    ready.checked = true;
    ready.firstRun = false;
    ready.folded = true;

    PopoverState code = ready;
    code.expiresIn = 42;

    PopoverState soon = ready;
    soon.expiresIn = 9;
    soon.device = QStringLiteral("Apple Watch");

    PopoverState expired = ready;
    expired.expiresIn = -3;

    PopoverState copied = code;
    copied.copied = true;

    PopoverState pairing;
    pairing.checked = true;
    pairing.firstRun = false;
    pairing.pairing = true;

    PopoverState diagnostics = ready;
    diagnostics.diagnosticsCopied = true;
    diagnostics.loginItemRefusal = QStringLiteral("The login item could not be added.");

    return {
        popoverScene(QStringLiteral("first-run"), firstRun),
        popoverScene(QStringLiteral("needs-setup"), needsSetup),
        popoverScene(QStringLiteral("ready-folded"), ready),
        popoverScene(QStringLiteral("code"), code),
        popoverScene(QStringLiteral("code-under-15s"), soon),
        popoverScene(QStringLiteral("expired"), expired),
        popoverScene(QStringLiteral("just-copied"), copied),
        popoverScene(QStringLiteral("diagnostics-copied"), diagnostics),
        popoverScene(QStringLiteral("pairing"), pairing),
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
