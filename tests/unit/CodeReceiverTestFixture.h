// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <memory>

#include "ZorvikMac/CodeDelivery/ClipboardPublisher.h"
#include "ZorvikMac/CodeDelivery/CredentialIdentities.h"
#include "ZorvikMac/CodeDelivery/Notifier.h"
#include "ZorvikMac/CodeIntake/PendingCode.h"
#include "ZorvikMac/CodeIntake/SymmetricKey.h"
#include "ZorvikMac/Readiness/MacSettings.h"
#include "ZorvikMac/Receiver/CodeReceiver.h"
#include "platform/linux/QSettingsUserDefaults.h"
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

// A receiver wired to fakes on virtual time, with helpers to put records in the cloud.
class CodeReceiverTest : public testing::Test {
protected:
    static constexpr char kKey[] = "0123456789abcdef0123456789abcdef";

    CodeReceiverTest() {
        keychain.items.insert({"net.brontal.zorvik.sync", "sync-key"}, QByteArray(kKey));
    }
    ~CodeReceiverTest() override { receiver.reset(); }

    CodeReceiver& make(bool preview = false) {
        CodeReceiver::Services services{actor,           log,
                                        keychain,        &cloud,
                                        remote,          workspace,
                                        clipboard,       &notifier,
                                        &identities,     {"1.2", "42", "Linux 6.1", std::nullopt},
                                        QTimeZone::utc()};
        receiver = std::make_unique<CodeReceiver>(settings, store, preview, defaults, services);
        return *receiver;
    }

    PendingCode code(const QString& digits = "123456", double lifetime = 90) const {
        return PendingCode{
            QUuid::fromString(u"E621E1F8-C36C-495A-93FC-0C247A3E6E5F"),
            "Work",
            "github",
            digits,
            std::chrono::floor<std::chrono::seconds>(actor.now()),
            addingSeconds(std::chrono::floor<std::chrono::seconds>(actor.now()), lifetime),
            "iPhone"};
    }

    // The record the phone writes, with the plain expiry unless told otherwise.
    void putRecord(const PendingCode& pending, bool withExpiresField = true) {
        CloudRecord record{"pending-code", "PendingCode", {}};
        record.fields.insert("blob", pending.seal(*SymmetricKey::fromBytes(QByteArray(kKey))));
        if (withExpiresField) {
            record.fields.insert("expiresAt", pending.expiresAt);
        }
        cloud.record = record;
    }

    void fetchNow() {
        actor.spawn(receiver->fetch());
        actor.runUntilIdle();
    }
    void checkNow() {
        actor.spawn(receiver->runChecks());
        actor.runUntilIdle();
    }
    // With the fixture's key and AutoFill on, every check but the first code's then passes.
    void makeEverythingReady() {
        remote.registered = true;
        center.authorizationStatus = UserNotificationCenter::AuthorizationStatus::authorized;
    }
    // The digits of the code held; absent while none is.
    std::optional<QString> latestCode() const {
        return receiver->latest() ? std::optional(receiver->latest()->code) : std::nullopt;
    }

    QStringList logSince(std::size_t first) const {
        return log.messages().mid(static_cast<qsizetype>(first));
    }
    // The same lines with their levels.
    using Leveled = std::pair<LogLevel, QString>;
    std::vector<Leveled> leveledSince(std::size_t first) const {
        std::vector<Leveled> lines;
        for (std::size_t i = first; i < log.lines.size(); ++i) {
            lines.emplace_back(log.lines[i].level, log.lines[i].message);
        }
        return lines;
    }
    QStringList errorLines() const {
        QStringList lines;
        for (const auto& line : log.lines) {
            if (line.level == LogLevel::error) {
                lines.append(line.message);
            }
        }
        return lines;
    }

    ManualMainActor actor;
    RecordingSystemLog log;
    FakeKeychain keychain;
    FakeCloudContainer cloud{actor};
    FakeRemoteNotifications remote;
    FakeWorkspace workspace{actor};
    FakePasteboard pasteboard;
    ClipboardPublisher clipboard{pasteboard, actor};
    FakeUserNotificationCenter center{actor};
    Notifier notifier{center, actor, clipboard};
    FakeCredentialIdentityStore identityStore{actor};
    CredentialIdentities identities{identityStore, actor};
    QTemporaryDir directory;
    QSettingsUserDefaults defaults{directory.filePath("ZorvikMac.conf")};
    FakeLoginItemService loginItem;
    MacSettings settings{defaults, loginItem};
    TemporaryAppGroupContainers containers;
    std::optional<LatestCodeStore> store = LatestCodeStore::make(containers);
    std::unique_ptr<CodeReceiver> receiver;
};
