// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

#include "platform/Instant.h"
#include "shared/LatestCode.h"
#include "shared/LatestCodeStore.h"

// What the AutoFill panel shows: the mode of the request, the sites the browser asked for and
// the code on disk. It reads the shared latest-code file only when refreshed, and never writes.
class AutoFillModel : public QObject {
    Q_OBJECT

public:
    enum class Mode { list, configuration };
    // Whether the held code's service covers one of the requested sites.
    enum class SiteMatch { yes, no, undetermined };

    explicit AutoFillModel(std::optional<LatestCodeStore> store, QObject* parent = nullptr);

    Mode mode() const { return mode_; }
    const QStringList& serviceIdentifiers() const { return serviceIdentifiers_; }
    // The code on disk while it is valid.
    const std::optional<LatestCode>& latest() const { return latest_; }
    // A code is on disk but no longer valid.
    bool hasExpired() const { return hasExpired_; }
    const std::optional<LatestCodeStore>& store() const { return store_; }

    void setMode(Mode mode);
    void setServiceIdentifiers(const QStringList& identifiers);

    // Re-reads the file and judges the code at `now`.
    void refresh(Instant now);
    SiteMatch siteMatch() const;

    // A lower-case host name from a domain or URL the browser gave, or nothing.
    static std::optional<QString> normalizedHost(const QString& identifier);

    // Set by the controller; the panel's buttons call them. An absent callback does nothing.
    std::function<void(const QString& code)> onFill;
    std::function<void()> onCancel;
    std::function<void()> onDone;

Q_SIGNALS:
    void modeChanged(AutoFillModel::Mode mode);
    void serviceIdentifiersChanged(const QStringList& identifiers);
    void latestChanged(const std::optional<LatestCode>& latest);
    void hasExpiredChanged(bool hasExpired);

private:
    Mode mode_ = Mode::list;
    QStringList serviceIdentifiers_;
    std::optional<LatestCode> latest_;
    bool hasExpired_ = false;
    std::optional<LatestCodeStore> store_;
};
