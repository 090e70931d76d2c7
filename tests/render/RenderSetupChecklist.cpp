// SPDX-License-Identifier: GPL-3.0-or-later
// zorvik-render-setup-checklist: the popover's setup checklist in its typical states, padded as
// the popover pads it in its 340-wide window, as PNG files.
#include <QPointer>
#include <QVBoxLayout>
#include <optional>

#include "ZorvikMac/Popover/SetupChecklistView.h"
#include "tests/render/SceneRenderer.h"
#include "tests/unit/CodeReceiverTestFixture.h"

namespace {

constexpr int popoverWidth = 340;

// How the desktop around the receiver stands when its checks run.
struct Situation {
    bool firstRun = false;
    bool collapsed = false;
    int accountStatus = CloudContainer::available;
    bool keyReceived = true;
    bool pushRegistered = true;
    bool autoFillOn = true;
    UserNotificationCenter::AuthorizationStatus notifications =
        UserNotificationCenter::AuthorizationStatus::authorized;
    bool launchAtLogin = false;
    // The account of the last code received, five minutes before the scene; none when absent.
    std::optional<QString> lastReceived{};
    // Which cloud (one the user can sign in to, unless unknown), and who is signed in or waits
    // for the user's confirmation.
    CloudBackendInfo::Kind cloud = CloudBackendInfo::Kind::unknown;
    std::optional<QString> account{};
    std::optional<QString> accountToConfirm{};
};

// A receiver on fakes and virtual time, as the receiver's unit tests have it, that has run its
// checks once, and the checklist over it, padded 16 left and right and 12 top and bottom as in
// the popover's scroll area.
class ChecklistScene final : public SceneContent, private CodeReceiverTest {
public:
    explicit ChecklistScene(const Situation& situation) {
        if (!situation.keyReceived) {
            keychain.items.clear();
        }
        cloud.account = situation.accountStatus;
        cloud.backend.kind = situation.cloud;
        cloud.backend.canSignIn = situation.cloud != CloudBackendInfo::Kind::unknown;
        cloud.backend.account = situation.account;
        cloud.backend.accountToConfirm = situation.accountToConfirm;
        remote.registered = situation.pushRegistered;
        identityStore.enabled = situation.autoFillOn;
        center.authorizationStatus = situation.notifications;
        if (situation.launchAtLogin) {
            settings.setLaunchAtLogin(true);
        }
        defaults.setBool(!situation.firstRun, QStringLiteral("firstRunDone"));
        if (situation.lastReceived) {
            defaults.setString(*situation.lastReceived, QStringLiteral("lastReceivedName"));
            defaults.setDate(addingSeconds(actor.now(), -300), QStringLiteral("lastReceivedAt"));
        }
        actor.spawn(make().runChecks());
        actor.runUntilIdle();
        settings.setSetupCollapsed(situation.collapsed);

        host_ = new QWidget;
        auto* layout = new QVBoxLayout(host_);
        layout->setContentsMargins(16, 12, 16, 12);
        layout->addWidget(new SetupChecklistView(
            *receiver, settings,
            PopoverEnvironment{actor, workspace, autoFillSettings_, log, QTimeZone::utc()}, host_));
        layout->addStretch(1);
    }

    ~ChecklistScene() override { delete host_; }

    QWidget* widget() override { return host_; }
    void settle() override { actor.runUntilIdle(); }

private:
    void TestBody() override {}

    FakeAutoFillSettings autoFillSettings_;
    // The frame takes the host as its child and deletes it first; until then it is ours.
    QPointer<QWidget> host_;
};

Scene checklistScene(const QString& name, int height, const Situation& situation) {
    return {QStringLiteral("setup-checklist-") + name, QSize(popoverWidth, height),
            [situation] { return std::make_unique<ChecklistScene>(situation); }};
}

std::vector<Scene> scenes() {
    using Authorization = UserNotificationCenter::AuthorizationStatus;
    const QString lastAccount = QStringLiteral("Work GitHub");
    return {
        // The browser came back with an account, which waits for the user; then it is signed in.
        checklistScene("confirm-account", 300,
                       {.lastReceived = lastAccount,
                        .cloud = CloudBackendInfo::Kind::embedded,
                        .accountToConfirm = "mallory.ortega@example.com"}),
        checklistScene("signed-in-as", 260,
                       {.lastReceived = lastAccount,
                        .cloud = CloudBackendInfo::Kind::web,
                        .account = "ann.lee@example.com"}),
        checklistScene("first-run", 280,
                       {.firstRun = true,
                        .pushRegistered = false,
                        .notifications = Authorization::notDetermined}),
        checklistScene("needs-setup", 420,
                       {.accountStatus = CloudContainer::noAccount,
                        .keyReceived = false,
                        .pushRegistered = false,
                        .autoFillOn = false,
                        .notifications = Authorization::denied,
                        .launchAtLogin = true,
                        .lastReceived = lastAccount}),
        checklistScene("ready-folded", 48, {.collapsed = true, .lastReceived = lastAccount}),
        checklistScene("ready-unfolded", 260, {.lastReceived = lastAccount}),
        checklistScene("waiting-folded", 48, {.collapsed = true}),
        checklistScene("attention-folded", 48,
                       {.collapsed = true,
                        .autoFillOn = false,
                        .notifications = Authorization::notDetermined}),
    };
}

}  // namespace

int main(int argc, char** argv) {
    return runRenderTool(argc, argv, QStringLiteral("zorvik-render-setup-checklist"),
                         QStringLiteral("Draws the popover's setup checklist: the first run "
                                        "unfolded, a Mac that needs setup, ready folded and "
                                        "unfolded, waiting for the first code folded, and "
                                        "folded with items to check; an account waiting for "
                                        "the user's confirmation and one signed in to."),
                         scenes);
}
