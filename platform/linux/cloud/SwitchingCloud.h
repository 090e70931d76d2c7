#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "CloudContainer.h"
#include "Logger.h"
#include "LoopbackSignIn.h"
#include "RemoteNotifications.h"

class CloudWebContainer;
class LocalCloud;
class MainActor;
class WebCourierPush;
class Workspace;

// The cloud the application talks to: the user's real cloud through its web service once a
// session is stored or the user signs in, and the embedded cloud on this computer otherwise.
// The receiver holds this one container, its database and its pushes for the life of the
// process; underneath, a sign-in or a sign-out moves them to the other cloud, and pushes are
// registered anew there.
class SwitchingCloud final : public CloudContainer, public CloudAccountSignIn {
public:
    struct Options {
        // The embedded cloud only, whatever is stored (--embedded-cloud).
        bool embeddedOnly = false;
        // How long the browser has to come back after the sign-in page opened.
        double signInTimeout = 600;
    };

    // `web` and `webPush` are absent when the build cannot reach the web service.
    SwitchingCloud(MainActor& mainActor, Workspace& workspace, SystemLog& systemLog,
                   LocalCloud& embedded, CloudWebContainer* web, WebCourierPush* webPush,
                   Options options);
    ~SwitchingCloud() override;

    void accountStatus(std::function<void(std::variant<int, CloudError>)> answer) override;
    CloudDatabase& privateCloudDatabase() override;
    CloudBackendInfo backendInfo() const override;
    RemoteNotifications& remoteNotifications();

    void signIn() override;
    void signOut() override;

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
    void signInFinished(LoopbackSignIn::Outcome outcome);

    MainActor& mainActor_;
    Workspace& workspace_;
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
    std::optional<QString> signInProblem_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};
