// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QVariant>
#include <functional>
#include <optional>

// Notices that every process of the user can post and observe, each with a name and an
// optional object.
class DistributedNotificationCenter {
public:
    using ObserverToken = int;

    virtual ~DistributedNotificationCenter() = default;
    // `handler` runs on the main queue for every notice named `name`, from any process,
    // this one included; the object is absent when the notice carried none.
    virtual ObserverToken addObserver(
        const QString& name, std::function<void(std::optional<QVariant> object)> handler) = 0;
    virtual void removeObserver(ObserverToken token) = 0;
    // Delivered at once to whoever observes; nobody observing is no error.
    virtual void post(const QString& name, const std::optional<QVariant>& object) = 0;
};
