// SPDX-License-Identifier: GPL-3.0-or-later
// zorvik-render-setup-checklist: the popover's setup checklist in its typical states, padded as
// the popover pads it in its 340-wide window, as PNG files.
#include <QPointer>
#include <QTemporaryDir>
#include <QVBoxLayout>
#include <memory>
#include <optional>

#include "ZorvikMac/CodeDelivery/ClipboardPublisher.h"
#include "ZorvikMac/CodeDelivery/CredentialIdentities.h"
#include "ZorvikMac/CodeDelivery/Notifier.h"
#include "ZorvikMac/Popover/SetupChecklistView.h"
#include "ZorvikMac/Readiness/MacSettings.h"
#include "ZorvikMac/Receiver/CodeReceiver.h"
#include "platform/linux/QSettingsUserDefaults.h"
#include "shared/LatestCodeStore.h"
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
    std::optional<QString> lastReceived;
    // Which cloud, and who is signed in or waits for the user's confirmation.
    CloudBackendInfo backend;
};

// A receiver on fakes and virtual time that has run its checks once, and the checklist over it,
// padded 16 left and right and 12 top and bottom as in the popover's scroll area.
class ChecklistScene final : public SceneContent {
public:
    explicit ChecklistScene(const Situation& situation) {
        if (situation.keyReceived) {
            keychain_.items.insert({"net.brontal.zorvik.sync", "sync-key"},
                                   QByteArray("0123456789abcdef0123456789abcdef"));
        }
        cloud_.account = situation.accountStatus;
        cloud_.backend = situation.backend;
        remote_.registered = situation.pushRegistered;
        identityStore_.enabled = situation.autoFillOn;
        center_.authorizationStatus = situation.notifications;
        loginItem_.current = situation.launchAtLogin ? LoginItemService::Status::enabled
                                                     : LoginItemService::Status::notRegistered;
        defaults_.setBool(!situation.firstRun, QStringLiteral("firstRunDone"));
        if (situation.lastReceived) {
            defaults_.setString(*situation.lastReceived, QStringLiteral("lastReceivedName"));
            defaults_.setDate(addingSeconds(actor_.now(), -300), QStringLiteral("lastReceivedAt"));
        }
        settings_ = std::make_unique<MacSettings>(defaults_, loginItem_);
        CodeReceiver::Services services{
            actor_,          log_,       keychain_,  &cloud_,      remote_,
            workspace_,      clipboard_, &notifier_, &identities_, {"1.2", "42", "6.1.0", {}},
            QTimeZone::utc()};
        receiver_ = std::make_unique<CodeReceiver>(*settings_, store_, false, defaults_, services);
        actor_.spawn(receiver_->runChecks());
        actor_.runUntilIdle();
        settings_->setSetupCollapsed(situation.collapsed);

        host_ = new QWidget;
        auto* layout = new QVBoxLayout(host_);
        layout->setContentsMargins(16, 12, 16, 12);
        layout->addWidget(new SetupChecklistView(
            *receiver_, *settings_,
            PopoverEnvironment{actor_, workspace_, autoFillSettings_, log_, QTimeZone::utc()},
            host_));
        layout->addStretch(1);
    }

    ~ChecklistScene() override {
        delete host_;
        receiver_.reset();
    }

    QWidget* widget() override { return host_; }
    void settle() override { actor_.runUntilIdle(); }

private:
    ManualMainActor actor_;
    RecordingSystemLog log_;
    FakeKeychain keychain_;
    FakeCloudContainer cloud_{actor_};
    FakeRemoteNotifications remote_;
    FakeWorkspace workspace_{actor_};
    FakeAutoFillSettings autoFillSettings_;
    FakePasteboard pasteboard_;
    ClipboardPublisher clipboard_{pasteboard_, actor_};
    FakeUserNotificationCenter center_{actor_};
    Notifier notifier_{center_, actor_, clipboard_};
    FakeCredentialIdentityStore identityStore_{actor_};
    CredentialIdentities identities_{identityStore_, actor_};
    QTemporaryDir directory_;
    QSettingsUserDefaults defaults_{directory_.filePath(QStringLiteral("ZorvikMac.conf"))};
    FakeLoginItemService loginItem_;
    std::unique_ptr<MacSettings> settings_;
    TemporaryAppGroupContainers containers_;
    std::optional<LatestCodeStore> store_ = LatestCodeStore::make(containers_);
    std::unique_ptr<CodeReceiver> receiver_;
    // The frame takes the host as its child and deletes it first; until then it is ours.
    QPointer<QWidget> host_;
};

Scene checklistScene(const QString& name, int height, const Situation& situation) {
    return {QStringLiteral("setup-checklist-") + name, QSize(popoverWidth, height),
            [situation] { return std::make_unique<ChecklistScene>(situation); }};
}

std::vector<Scene> scenes() {
    using Authorization = UserNotificationCenter::AuthorizationStatus;

    Situation firstRun;
    firstRun.firstRun = true;
    firstRun.pushRegistered = false;
    firstRun.notifications = Authorization::notDetermined;

    Situation needsSetup;
    needsSetup.accountStatus = CloudContainer::noAccount;
    needsSetup.keyReceived = false;
    needsSetup.pushRegistered = false;
    needsSetup.autoFillOn = false;
    needsSetup.notifications = Authorization::denied;
    needsSetup.launchAtLogin = true;
    needsSetup.lastReceived = QStringLiteral("Work GitHub");

    Situation ready;
    ready.collapsed = true;
    ready.lastReceived = QStringLiteral("Work GitHub");

    Situation readyUnfolded = ready;
    readyUnfolded.collapsed = false;

    Situation waitingFolded;
    waitingFolded.collapsed = true;

    Situation attentionFolded;
    attentionFolded.collapsed = true;
    attentionFolded.autoFillOn = false;
    attentionFolded.notifications = Authorization::notDetermined;

    // The browser came back with an account, which waits for the user; then it is signed in.
    Situation confirmAccount = ready;
    confirmAccount.collapsed = false;
    confirmAccount.backend.kind = CloudBackendInfo::Kind::embedded;
    confirmAccount.backend.canSignIn = true;
    confirmAccount.backend.accountToConfirm = QStringLiteral("mallory.ortega@example.com");
    Situation signedInAs = readyUnfolded;
    signedInAs.backend.kind = CloudBackendInfo::Kind::web;
    signedInAs.backend.canSignIn = true;
    signedInAs.backend.account = QStringLiteral("ann.lee@example.com");

    return {
        checklistScene(QStringLiteral("confirm-account"), 300, confirmAccount),
        checklistScene(QStringLiteral("signed-in-as"), 260, signedInAs),
        checklistScene(QStringLiteral("first-run"), 280, firstRun),
        checklistScene(QStringLiteral("needs-setup"), 420, needsSetup),
        checklistScene(QStringLiteral("ready-folded"), 48, ready),
        checklistScene(QStringLiteral("ready-unfolded"), 260, readyUnfolded),
        checklistScene(QStringLiteral("waiting-folded"), 48, waitingFolded),
        checklistScene(QStringLiteral("attention-folded"), 48, attentionFolded),
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
