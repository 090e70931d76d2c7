#pragma once

#include <QString>
#include <memory>

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

private:
    class Database;
    class Pushes;

    CloudContainer& current();
    RemoteNotifications& currentPushes();
    void useWeb(bool web);
    void signInFinished(LoopbackSignIn::Outcome outcome);

    MainActor& mainActor_;
    Workspace& workspace_;
    Logger log_;
    LocalCloud& embedded_;
    CloudWebContainer* web_;
    WebCourierPush* webPush_;
    Options options_;
    bool usingWeb_ = false;
    std::unique_ptr<Database> database_;
    std::unique_ptr<Pushes> pushes_;
    LoopbackSignIn signIn_;
    std::optional<QString> signInProblem_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};
