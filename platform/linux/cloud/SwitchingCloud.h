// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/CloudContainer.h"
#include "platform/Logger.h"
#include "platform/RemoteNotifications.h"
#include "platform/linux/cloud/LoopbackSignIn.h"

class CloudWebContainer;
class LocalCloud;
class MainActor;
class TerminalQuestion;
class UserDefaults;
class WebCourierPush;
class Workspace;

// The cloud the application talks to: the user's real cloud through its web service once a
// session is stored or the user signs in, and the embedded cloud on this computer otherwise.
// The receiver holds this one container, its database and its pushes for the life of the
// process; underneath, a sign-in or a sign-out moves them to the other cloud, and pushes are
// registered anew there.
//
// A sign-in is the user's only when they say so: the session the browser brings back is first
// shown to the service (users/caller), and the account it names is used only once the user
// confirms it. Its name is kept in the preferences, for the checklist to say who is signed in.
class SwitchingCloud final : public CloudContainer, public CloudAccountSignIn {
public:
    struct Options {
        // The embedded cloud only, whatever is stored (--embedded-cloud).
        bool embeddedOnly = false;
        // How long the browser has to come back after the sign-in page opened.
        double signInTimeout = 600;
        // How long a connection to the sign-in listener may take to say what it wants.
        double signInIdleTimeout = 10;
        // Where the user signs in from a terminal (--sign-in), the account is confirmed there
        // as well as in the popover.
        TerminalQuestion* terminal = nullptr;
    };

    // `web` and `webPush` are absent when the build cannot reach the web service.
    // The preferences key of the signed-in account's name.
    static constexpr auto accountKey = "iCloudAccount";

    SwitchingCloud(MainActor& mainActor, Workspace& workspace, SystemLog& systemLog,
                   UserDefaults& userDefaults, LocalCloud& embedded, CloudWebContainer* web,
                   WebCourierPush* webPush, Options options);
    ~SwitchingCloud() override;

    void accountStatus(std::function<void(std::variant<int, CloudError>)> answer) override;
    CloudDatabase& privateCloudDatabase() override;
    CloudBackendInfo backendInfo() const override;
    RemoteNotifications& remoteNotifications();

    void signIn() override;
    void confirmSignIn(const QString& account) override;
    void declineSignIn() override;
    void signOut() override;
    // The port the sign-in listens on for the browser's return; 0 when no sign-in waits.
    quint16 signInPort() const { return signIn_.isListening() ? signIn_.port() : 0; }

    // Runs `then` once the cloud in use is chosen, which waits at start for the keychain to say
    // whether a session is stored (at once after that). Every call above waits for it already.
    void whenChosen(std::function<void()> then);

private:
    class Database;
    class Pushes;

    CloudContainer& current();
    RemoteNotifications& currentPushes();
    // The first choice, once the keychain has said whether a session is stored.
    void choose(bool web);
    void useWeb(bool web);
    void signInNow();
    void signOutNow();
    void checkReturnedSession(const QByteArray& token, LoopbackSignIn::Verdict verdict);
    void signInFailed(const QString& why);
    void announce();
    void askAtTerminal(const QString& account);
    void withdrawTerminalQuestion(const QString& note);

    // A session the browser brought back that the service knows, waiting for the user.
    struct SessionToConfirm {
        QByteArray token;
        QString account;
    };

    MainActor& mainActor_;
    Workspace& workspace_;
    UserDefaults& userDefaults_;
    Logger log_;
    LocalCloud& embedded_;
    CloudWebContainer* web_;
    WebCourierPush* webPush_;
    Options options_;
    bool usingWeb_ = false;
    bool chosen_ = false;
    // Counts the user's sign-ins and sign-outs: a sign-in's late answer yields to a later one.
    std::uint64_t accountRequests_ = 0;
    std::vector<std::function<void()>> waitingForChoice_;
    std::unique_ptr<Database> database_;
    std::unique_ptr<Pushes> pushes_;
    LoopbackSignIn signIn_;
    std::optional<SessionToConfirm> toConfirm_;
    std::optional<QString> signInProblem_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};
