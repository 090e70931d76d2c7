// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <cstdint>

#include "ZorvikMac/CodeIntake/NotificationState.h"
#include "platform/Task.h"
#include "platform/UserNotificationCenter.h"
#include "shared/LatestCode.h"

class ClipboardPublisher;
class MainActor;

// Shows each newly received code as a notification with a Copy button, takes it away when the
// code expires, copies the code when the user clicks Copy or the notification, and tells the
// setup checklist whether notifications are allowed. It is the notification centre's delegate.
// The shell makes the one instance of the process at launch; the centre, the main actor and the
// clipboard publisher must outlive it.
class Notifier final : public QObject, public UserNotificationCenter::Delegate {
    Q_OBJECT

public:
    static constexpr auto categoryIdentifier = "net.brontal.zorvik.mac.code";
    static constexpr auto copyActionIdentifier = "copy";
    static constexpr auto copyActionTitle = QT_TRANSLATE_NOOP("Notifier", "Copy");
    // Every code uses the same identifier, so a new code's notification replaces the last one.
    static constexpr auto requestIdentifier = "latest-code";
    static constexpr auto codeKey = "code";
    // Between the display code and the device in the body: blank, middle dot, blank.
    static constexpr auto bodySeparator = u" \u00b7 from ";
    // A code copied from a notification stays on the clipboard this long, whatever its expiry.
    static constexpr double copyClearDelay = 90;
    // The shortest time a notification stays up, also for a code that has already expired.
    static constexpr double minimumShowTime = 1;

    Notifier(UserNotificationCenter& center, MainActor& mainActor, ClipboardPublisher& clipboard);
    ~Notifier() override;

    // Run once at launch: becomes the centre's delegate, registers the code category with its
    // Copy button and asks whether notifications may be shown.
    void setUp();

    // Shows the notification for `latest`, replacing the previous code's, and takes it away when
    // the code expires (at least one second later); the centre is told the same lifetime.
    void post(const LatestCode& latest);

    // Whether the user lets the application post notifications.
    Task<NotificationState> notificationState();

    static NotificationState stateFor(UserNotificationCenter::AuthorizationStatus status);

    // Copy or a click on the notification copies the code it carries; anything else is ignored.
    void didReceive(const UserNotificationCenter::Response& response,
                    std::function<void()> done) override;

    // The answer to the authorization request; false until it arrives.
    bool authorized = false;

private:
    static Task<void> removeAtExpiry(QPointer<Notifier> notifier, MainActor& mainActor, double wait,
                                     std::uint64_t post);

    UserNotificationCenter& center_;
    MainActor& mainActor_;
    ClipboardPublisher& clipboard_;
    bool isDelegate_ = false;
    // Counts the posts; a removal belongs to the notification of the post it counted.
    std::uint64_t posts_ = 0;
};
