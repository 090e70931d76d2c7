// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/zorvik-phone/commands/PendingCodeOptions.h"

#include <QUuid>
#include <chrono>
#include <cmath>

#include "ZorvikMac/CodeIntake/PendingCode.h"
#include "shared/Iso8601.h"
#include "tools/zorvik-phone/CommandLine.h"
#include "tools/zorvik-phone/PhoneToolSupport.h"

namespace {

constexpr double kDefaultLifetime = 90;

}  // namespace

QSet<QString> PendingCodeOptions::names() {
    return {QStringLiteral("account"), QStringLiteral("code"),       QStringLiteral("service"),
            QStringLiteral("device"),  QStringLiteral("account-id"), QStringLiteral("issued"),
            QStringLiteral("expires"), QStringLiteral("ttl"),        QStringLiteral("key-file")};
}

int PendingCodeOptions::read(PhoneCommandContext& context, const QString& command,
                             const CommandLine& line, PendingCode& pending) {
    if (!line.positional().isEmpty()) {
        return context.fail(
            PhoneTool::badInput,
            QStringLiteral("unexpected argument '%1'").arg(line.positional().first()));
    }
    const auto account = line.value(QStringLiteral("account"));
    const auto code = line.value(QStringLiteral("code"));
    if (!account || !code) {
        return context.fail(PhoneTool::badInput,
                            command + QStringLiteral(" needs --account and --code"));
    }

    pending.accountName = *account;
    pending.code = *code;
    pending.serviceID = line.value(QStringLiteral("service"));
    pending.fromDevice = line.value(QStringLiteral("device")).value_or(QStringLiteral("iPhone"));

    if (const auto id = line.value(QStringLiteral("account-id"))) {
        pending.accountID = QUuid::fromString(*id);
        if (pending.accountID.isNull() || id->size() != 36) {
            return context.fail(PhoneTool::badInput,
                                QStringLiteral("--account-id must be a UUID like "
                                               "E621E1F8-C36C-495A-93FC-0C247A3E6E5F"));
        }
    } else {
        pending.accountID = QUuid::createUuid();
    }

    if (const auto issued = line.value(QStringLiteral("issued"))) {
        const auto instant = Iso8601::parse(*issued);
        if (!instant) {
            return context.fail(
                PhoneTool::badInput,
                QStringLiteral("--issued must be a date like 2026-01-02T03:04:05Z"));
        }
        pending.issuedAt = *instant;
    } else {
        pending.issuedAt = std::chrono::floor<std::chrono::seconds>(context.now());
    }

    const auto expires = line.value(QStringLiteral("expires"));
    const auto ttl = line.value(QStringLiteral("ttl"));
    if (expires && ttl) {
        return context.fail(PhoneTool::badInput,
                            QStringLiteral("give --expires or --ttl, not both"));
    }
    if (expires) {
        const auto instant = Iso8601::parse(*expires);
        if (!instant) {
            return context.fail(
                PhoneTool::badInput,
                QStringLiteral("--expires must be a date like 2026-01-02T03:04:05Z"));
        }
        pending.expiresAt = *instant;
    } else {
        double seconds = kDefaultLifetime;
        if (ttl) {
            bool isNumber = false;
            seconds = ttl->toDouble(&isNumber);
            if (!isNumber || !std::isfinite(seconds) || std::fabs(seconds) > 1e9) {
                return context.fail(PhoneTool::badInput,
                                    QStringLiteral("--ttl must be a number of seconds"));
            }
        }
        pending.expiresAt = addingSeconds(pending.issuedAt, seconds);
    }
    if (!Iso8601::format(pending.issuedAt) || !Iso8601::format(pending.expiresAt)) {
        return context.fail(PhoneTool::badInput,
                            QStringLiteral("the dates must lie in the years 0000 to 9999"));
    }
    return PhoneTool::ok;
}
