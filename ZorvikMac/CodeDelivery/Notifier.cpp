// SPDX-License-Identifier: GPL-3.0-or-later
#include "ZorvikMac/CodeDelivery/Notifier.h"

#include <QMetaType>
#include <QVariant>
#include <algorithm>

#include "ZorvikMac/CodeDelivery/ClipboardPublisher.h"
#include "platform/Completion.h"
#include "platform/MainActor.h"

using AuthorizationStatus = UserNotificationCenter::AuthorizationStatus;

Notifier::Notifier(UserNotificationCenter& center, MainActor& mainActor,
                   ClipboardPublisher& clipboard)
    : center_(center), mainActor_(mainActor), clipboard_(clipboard) {}

Notifier::~Notifier() {
    if (isDelegate_) {
        center_.setDelegate(nullptr);
    }
}

void Notifier::setUp() {
    center_.setDelegate(this);
    isDelegate_ = true;

    const UserNotificationCenter::Action copy{QString::fromLatin1(copyActionIdentifier),
                                              tr(copyActionTitle)};
    center_.setNotificationCategories(
        {UserNotificationCenter::Category{QString::fromLatin1(categoryIdentifier), {copy}}});

    // The answer may come after the notifier is gone; the main actor outlives it.
    MainActor* mainActor = &mainActor_;
    center_.requestAuthorization(
        [mainActor, self = QPointer<Notifier>(this)](bool granted, std::optional<QString>) {
            mainActor->post([self, granted] {
                if (self) {
                    self->authorized = granted;
                }
            });
        });
}

void Notifier::post(const LatestCode& latest) {
    const double lifetime =
        std::max(minimumShowTime, secondsBetween(mainActor_.now(), latest.expiresAt));
    UserNotificationCenter::Content content;
    content.title = latest.accountName;
    content.body = latest.displayCode() + QString::fromUtf16(bodySeparator) + latest.fromDevice;
    content.categoryIdentifier = QString::fromLatin1(categoryIdentifier);
    content.userInfo = {{QString::fromLatin1(codeKey), latest.code}};
    content.interruptionLevel = UserNotificationCenter::InterruptionLevel::timeSensitive;
    // The system takes it away by itself even if this process is gone by then.
    content.lifetime = lifetime;
    center_.add({QString::fromLatin1(requestIdentifier), content});

    mainActor_.spawn(removeAtExpiry(this, mainActor_, lifetime, ++posts_));
}

Task<void> Notifier::removeAtExpiry(QPointer<Notifier> notifier, MainActor& mainActor, double wait,
                                    std::uint64_t post) {
    co_await mainActor.sleep(wait);
    // All codes share one identifier: once a newer code was posted, the notification shown
    // under it is that code's, and its own removal takes it away.
    if (!notifier || notifier->posts_ != post) {
        co_return;
    }
    notifier->center_.removeDeliveredNotifications({QString::fromLatin1(requestIdentifier)});
}

Task<NotificationState> Notifier::notificationState() {
    const AuthorizationStatus status =
        co_await waitForCompletion<AuthorizationStatus>(mainActor_, [this](auto done) {
            center_.getAuthorizationStatus(
                [done](AuthorizationStatus answer) { done.resume(answer); });
        });
    co_return stateFor(status);
}

NotificationState Notifier::stateFor(AuthorizationStatus status) {
    switch (status) {
        case AuthorizationStatus::notDetermined:
            return NotificationState::notAsked;
        case AuthorizationStatus::denied:
            return NotificationState::off;
        case AuthorizationStatus::unavailable:
            return NotificationState::noService;
        case AuthorizationStatus::authorized:
        case AuthorizationStatus::provisional:
        case AuthorizationStatus::ephemeral:
            return NotificationState::allowed;
    }
    return NotificationState::off;
}

void Notifier::didReceive(const UserNotificationCenter::Response& response,
                          std::function<void()> done) {
    const QVariant value = response.request.content.userInfo.value(QString::fromLatin1(codeKey));
    if (value.typeId() != QMetaType::QString) {
        if (done) {
            done();
        }
        return;
    }
    const bool copies =
        response.actionIdentifier == QLatin1String(copyActionIdentifier) ||
        response.actionIdentifier == QLatin1String(UserNotificationCenter::defaultActionIdentifier);
    mainActor_.post(
        [self = QPointer<Notifier>(this), copies, code = value.toString(), done = std::move(done)] {
            if (self && copies) {
                self->clipboard_.copyToPasteboard(code, copyClearDelay);
            }
            if (done) {
                done();
            }
        });
}
