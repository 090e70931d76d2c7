// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/cloud/SwitchingCloud.h"

#include <cmath>
#include <utility>

#include "platform/MainActor.h"
#include "platform/UserDefaults.h"
#include "platform/Workspace.h"
#include "platform/linux/TerminalQuestion.h"
#include "platform/linux/cloud/CloudWebAnswers.h"
#include "platform/linux/cloud/CloudWebContainer.h"
#include "platform/linux/cloud/CloudWebSession.h"
#include "platform/linux/cloud/LocalCloud.h"
#include "platform/linux/cloud/WebCourierPush.h"

namespace {

// What the web service says of an account with Advanced Data Protection.
const auto kDataProtectionReason = QStringLiteral("private db access disabled");

QString noteForRestriction(const QString& reason) {
    if (reason.contains(kDataProtectionReason, Qt::CaseInsensitive)) {
        return QStringLiteral(
            "Advanced Data Protection keeps this Apple Account's iCloud data away from the web. "
            "On your iPhone, turn on Settings → your name → iCloud → Access iCloud Data on the "
            "Web, then sign in again.");
    }
    return QStringLiteral("iCloud says: %1").arg(reason);
}

}  // namespace

// The database of whichever cloud is in use.
class SwitchingCloud::Database final : public CloudDatabase {
public:
    explicit Database(SwitchingCloud& owner) : owner_(owner) {}
    void fetchRecord(const QString& recordName,
                     std::function<void(std::variant<CloudRecord, CloudError>)> answer) override {
        owner_.whenChosen([this, recordName, answer = std::move(answer)]() mutable {
            owner_.current().privateCloudDatabase().fetchRecord(recordName, std::move(answer));
        });
    }
    void saveSubscription(const QuerySubscription& subscription,
                          std::function<void(std::optional<CloudError>)> done) override {
        owner_.whenChosen([this, subscription, done = std::move(done)]() mutable {
            owner_.current().privateCloudDatabase().saveSubscription(subscription, std::move(done));
        });
    }

private:
    SwitchingCloud& owner_;
};

// The pushes of whichever cloud is in use; a push from the other one is dropped.
class SwitchingCloud::Pushes final : public RemoteNotifications {
public:
    explicit Pushes(SwitchingCloud& owner) : owner_(owner) {}
    void setHandlers(Handlers handlers) override { handlers_ = std::move(handlers); }
    void registerForRemoteNotifications() override {
        wanted_ = true;
        owner_.whenChosen([this] { owner_.currentPushes().registerForRemoteNotifications(); });
    }
    bool isRegisteredForRemoteNotifications() const override {
        return owner_.chosen_ && owner_.currentPushes().isRegisteredForRemoteNotifications();
    }
    bool wanted() const { return wanted_; }

    // The handlers a backend gets: they pass its events on while it is the one in use.
    Handlers forwarding(bool fromWeb) {
        const auto inUse = [this, fromWeb] { return owner_.usingWeb_ == fromWeb; };
        return {
            [this, inUse] {
                if (inUse() && handlers_.didRegister) {
                    handlers_.didRegister();
                }
            },
            [this, inUse](const QString& error) {
                if (inUse() && handlers_.didFailToRegister) {
                    handlers_.didFailToRegister(error);
                }
            },
            [this, inUse](const QVariantMap& userInfo) {
                if (inUse() && handlers_.didReceive) {
                    handlers_.didReceive(userInfo);
                }
            },
        };
    }

private:
    SwitchingCloud& owner_;
    Handlers handlers_;
    bool wanted_ = false;
};

SwitchingCloud::SwitchingCloud(MainActor& mainActor, Workspace& workspace, SystemLog& systemLog,
                               UserDefaults& userDefaults, LocalCloud& embedded,
                               CloudWebContainer* web, WebCourierPush* webPush, Options options)
    : mainActor_(mainActor),
      workspace_(workspace),
      userDefaults_(userDefaults),
      log_(systemLog, QStringLiteral("net.brontal.zorvik"), QStringLiteral("cloud")),
      embedded_(embedded),
      web_(options.embeddedOnly ? nullptr : web),
      webPush_(options.embeddedOnly ? nullptr : webPush),
      options_(options),
      database_(std::make_unique<Database>(*this)),
      pushes_(std::make_unique<Pushes>(*this)) {
    embedded_.remoteNotifications().setHandlers(pushes_->forwarding(false));
    if (webPush_) {
        webPush_->setHandlers(pushes_->forwarding(true));
    }
    if (web_ == nullptr || webPush_ == nullptr) {
        choose(false);
        return;
    }
    // The stored session, if any, decides; the keychain answers without blocking the start.
    web_->session().loadToken([this, alive = std::weak_ptr<bool>(alive_)] {
        if (!alive.expired()) {
            choose(web_->session().hasToken());
        }
    });
}

void SwitchingCloud::choose(bool web) {
    usingWeb_ = web;
    chosen_ = true;
    log_.info("cloud: %{public}s", backendInfo().description);
    for (const auto& waiting : std::exchange(waitingForChoice_, {})) {
        waiting();
    }
}

void SwitchingCloud::whenChosen(std::function<void()> then) {
    if (chosen_) {
        then();
        return;
    }
    waitingForChoice_.push_back(std::move(then));
}

SwitchingCloud::~SwitchingCloud() {
    *alive_ = false;
}

CloudContainer& SwitchingCloud::current() {
    if (usingWeb_) {
        return *web_;
    }
    return embedded_;
}

RemoteNotifications& SwitchingCloud::currentPushes() {
    if (usingWeb_) {
        return *webPush_;
    }
    return embedded_.remoteNotifications();
}

RemoteNotifications& SwitchingCloud::remoteNotifications() {
    return *pushes_;
}

CloudDatabase& SwitchingCloud::privateCloudDatabase() {
    return *database_;
}

void SwitchingCloud::useWeb(bool web) {
    if (usingWeb_ == web || (web && (web_ == nullptr || webPush_ == nullptr))) {
        return;
    }
    if (pushes_->wanted()) {
        if (usingWeb_) {
            webPush_->unregister();
        } else {
            embedded_.remoteNotifications().unregister();
        }
    }
    usingWeb_ = web;
    log_.info("cloud: %{public}s", backendInfo().description);
    if (pushes_->wanted()) {
        currentPushes().registerForRemoteNotifications();
    }
}

void SwitchingCloud::accountStatus(std::function<void(std::variant<int, CloudError>)> answer) {
    whenChosen([this, answer = std::move(answer)]() mutable {
        if (usingWeb_ || web_ == nullptr) {
            current().accountStatus(std::move(answer));
            return;
        }
        // A session the keychain could not give at start (a locked keyring) is looked for again.
        web_->session().loadToken(
            [this, alive = std::weak_ptr<bool>(alive_), answer = std::move(answer)]() mutable {
                if (alive.expired()) {
                    return;
                }
                if (!usingWeb_ && web_->session().hasToken()) {
                    useWeb(true);
                }
                current().accountStatus(std::move(answer));
            });
    });
}

CloudBackendInfo SwitchingCloud::backendInfo() const {
    CloudBackendInfo info;
    info.canSignIn = web_ != nullptr;
    info.note = signInProblem_;
    if (toConfirm_) {
        info.accountToConfirm = toConfirm_->account;
    }
    if (usingWeb_) {
        const auto account = userDefaults_.stringForKey(QString::fromLatin1(accountKey));
        if (account && !account->isEmpty()) {
            info.account = account;
        }
        const CloudWebConfiguration& configuration = web_->session().configuration();
        info.kind = CloudBackendInfo::Kind::web;
        info.description = QStringLiteral("iCloud on the web (%1, %2)")
                               .arg(configuration.containerIdentifier, configuration.environment);
        if (web_->restrictionReason()) {
            info.note = noteForRestriction(*web_->restrictionReason());
        }
        if (const auto ahead = web_->session().serverClockAhead()) {
            // Whole minutes, so that the checklist does not change with every answer.
            info.clockAhead = std::abs(*ahead) <= 60 ? 0.0 : std::round(*ahead / 60) * 60;
        }
        return info;
    }
    info.kind = CloudBackendInfo::Kind::embedded;
    info.description =
        QStringLiteral("embedded cloud on this computer (%1)").arg(embedded_.rootDirectory());
    return info;
}

void SwitchingCloud::signIn() {
    whenChosen([this] { signInNow(); });
}

void SwitchingCloud::announce() {
    if (accountChanged) {
        accountChanged();
    }
}

void SwitchingCloud::signInFailed(const QString& why) {
    signInProblem_ = QStringLiteral("Sign-in did not finish: %1.").arg(why);
    log_.error("sign-in: %{public}s", why);
    announce();
}

void SwitchingCloud::signInNow() {
    ++accountRequests_;
    // A new sign-in replaces an account still waiting for the user, which the row stops asking.
    if (std::exchange(toConfirm_, std::nullopt)) {
        withdrawTerminalQuestion(QStringLiteral("A new sign-in started."));
        announce();
    }
    if (web_ == nullptr) {
        signInProblem_ = options_.embeddedOnly
                             ? QStringLiteral("Zorvik runs with --embedded-cloud.")
                             : QStringLiteral(
                                   "This build of Zorvik has no iCloud API token, so "
                                   "it cannot sign in to iCloud.");
        log_.error("sign-in: %{public}s", *signInProblem_);
        announce();
        return;
    }
    CloudWebSession& session = web_->session();
    LoopbackSignIn::Handlers handlers;
    handlers.check = [this](const QByteArray& token, LoopbackSignIn::Verdict verdict) {
        checkReturnedSession(token, std::move(verdict));
    };
    handlers.expired = [this](const QString& why) { signInFailed(why); };
    const QString problem =
        signIn_.listen(session.configuration().signInPort,
                       {options_.signInTimeout, options_.signInIdleTimeout}, std::move(handlers));
    if (!problem.isEmpty()) {
        signInProblem_ = QStringLiteral("Sign-in could not start: %1.").arg(problem);
        log_.error("sign-in: %{public}s", problem);
        announce();
        return;
    }
    // A call without a session: the service answers with the address of its sign-in page.
    session.call(
        CloudWebSession::Api::database, "GET", QStringLiteral("public/users/caller"), {},
        [this, alive = std::weak_ptr<bool>(alive_)](const CloudWebReply& reply) {
            if (alive.expired()) {
                return;
            }
            const auto redirect =
                reply.serverError ? reply.serverError->redirectURL : std::optional<QString>();
            QString why;
            if (!redirect) {
                why = reply.error ? reply.error->localizedDescription()
                                  : QStringLiteral("no sign-in page was offered");
            } else if (!web_->session().configuration().mayFollow(QUrl(*redirect))) {
                // Opening it would hand a file or another program to the desktop's handler.
                why = QStringLiteral("iCloud offered a sign-in page that is not https");
            }
            if (!why.isEmpty()) {
                signIn_.stop();
                signInProblem_ = QStringLiteral("Sign-in could not start: %1.").arg(why);
                log_.error("sign-in: %{public}s", why);
                announce();
                return;
            }
            // The address is the service's public sign-in page, no secret; the line lets a user
            // whose browser did not open go there by hand.
            log_.info("sign-in: open %{public}s in a browser on this computer", *redirect);
            if (!workspace_.openURL(*redirect)) {
                log_.error("sign-in: no browser could open the sign-in page");
            }
        },
        false);
}

void SwitchingCloud::checkReturnedSession(const QByteArray& token,
                                          LoopbackSignIn::Verdict verdict) {
    // Anyone on this computer can send a session to the listener: the service must know it, and
    // the user must then recognise its account.
    web_->session().checkToken(token, [this, alive = std::weak_ptr<bool>(alive_),
                                       attempt = accountRequests_, verdict = std::move(verdict)](
                                          const CloudWebReply& reply, QByteArray next) {
        if (alive.expired() || attempt != accountRequests_) {
            return;
        }
        const CloudWebAnswers::AccountAnswer answer = CloudWebAnswers::accountStatus(reply);
        if (!answer.accountName) {
            const QString why = reply.error ? reply.error->localizedDescription()
                                            : QStringLiteral("iCloud named no account");
            log_.error("sign-in: a session came back that iCloud does not accept: %{public}s", why);
            verdict(QStringLiteral("iCloud does not accept its session (%1)").arg(why));
            return;
        }
        verdict(std::nullopt);
        toConfirm_ = SessionToConfirm{std::move(next), *answer.accountName};
        signInProblem_.reset();
        // The account's name stays out of the log; the checklist shows it to the user.
        log_.info(
            "sign-in: the browser came back; waiting for the user to confirm the "
            "account");
        askAtTerminal(toConfirm_->account);
        announce();
    });
}

void SwitchingCloud::askAtTerminal(const QString& account) {
    if (options_.terminal == nullptr) {
        return;
    }
    options_.terminal->ask(
        QStringLiteral("iCloud: the sign-in page came back with the account %1.\n"
                       "Use it only if it is the Apple Account on your iPhone. Use it? [yes/no] ")
            .arg(account),
        [this, alive = std::weak_ptr<bool>(alive_), account](std::optional<QString> answer) {
            if (alive.expired() || !answer) {
                return;  // no one at the terminal any more: the popover can still decide
            }
            if (answer->compare(u"yes", Qt::CaseInsensitive) == 0 ||
                answer->compare(u"y", Qt::CaseInsensitive) == 0) {
                confirmSignIn(account);
            } else {
                declineSignIn();
            }
        });
}

void SwitchingCloud::withdrawTerminalQuestion(const QString& note) {
    if (options_.terminal != nullptr && options_.terminal->isAsking()) {
        options_.terminal->withdraw(note);
    }
}

void SwitchingCloud::confirmSignIn(const QString& account) {
    whenChosen([this, account] {
        if (!toConfirm_ || toConfirm_->account != account) {
            return;  // shown something else, or decided already
        }
        const SessionToConfirm confirmed = *std::exchange(toConfirm_, std::nullopt);
        withdrawTerminalQuestion(QStringLiteral("The account was confirmed in the popover."));
        web_->session().adoptToken(confirmed.token, [this, alive = std::weak_ptr<bool>(alive_),
                                                     attempt = accountRequests_,
                                                     account](std::int32_t status) {
            // A sign-out or a new sign-in since has the last word.
            if (alive.expired() || attempt != accountRequests_) {
                return;
            }
            if (status != Keychain::success) {
                signInProblem_ =
                    QStringLiteral("Sign-in did not finish: the session could not be kept, as %1.")
                        .arg(Keychain::describe(status));
                log_.error("sign-in: the session could not be kept: %{public}s",
                           Keychain::describe(status));
            } else {
                signInProblem_.reset();
                userDefaults_.setString(account, QString::fromLatin1(accountKey));
                log_.info("sign-in: signed in to iCloud");
                useWeb(true);
            }
            announce();
        });
    });
}

void SwitchingCloud::declineSignIn() {
    whenChosen([this] {
        if (!toConfirm_) {
            return;
        }
        toConfirm_.reset();
        ++accountRequests_;
        withdrawTerminalQuestion(QStringLiteral("The account was turned down in the popover."));
        signInProblem_ = QStringLiteral("Sign-in cancelled: that account was not used.");
        log_.info("sign-in: the user turned the account down");
        announce();
    });
}

void SwitchingCloud::signOut() {
    whenChosen([this] { signOutNow(); });
}

void SwitchingCloud::signOutNow() {
    ++accountRequests_;
    signIn_.stop();
    toConfirm_.reset();
    withdrawTerminalQuestion(QStringLiteral("Signed out."));
    signInProblem_.reset();
    userDefaults_.setString(QString(), QString::fromLatin1(accountKey));
    if (web_ != nullptr) {
        web_->session().forgetToken(
            [this, alive = std::weak_ptr<bool>(alive_)](std::int32_t status) {
                // Signed out either way; a session the keychain kept is used again at the next
                // start.
                if (!alive.expired() && status != Keychain::success) {
                    log_.error("sign-out: the session could not be removed: %{public}s",
                               Keychain::describe(status));
                }
            });
        web_->database().forgetSavedSubscriptions();
    }
    useWeb(false);
    log_.info("sign-out: codes come through the embedded cloud");
    announce();
}
