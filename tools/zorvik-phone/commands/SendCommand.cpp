// SPDX-License-Identifier: GPL-3.0-or-later
#include "ZorvikMac/CodeIntake/PendingCode.h"
#include "platform/CloudRecord.h"
#include "platform/Error.h"
#include "shared/Iso8601.h"
#include "tools/zorvik-phone/CommandLine.h"
#include "tools/zorvik-phone/PhoneCommands.h"
#include "tools/zorvik-phone/PhoneToolSupport.h"
#include "tools/zorvik-phone/commands/PendingCodeOptions.h"

namespace {

const char* const kUsage = R"(Usage: zorvik-phone send --account NAME --code CODE [OPTIONS]

Seals a code with the sync key and saves it in the cloud's private database as the record
"pending-code" (type PendingCode): the blob in the field "blob" (BYTES) and the expiry in
"expiresAt" (TIMESTAMP). The record is created or replaced in one step, so the desktop never
reads half of it.
  --account NAME        account name shown to the user (required)
  --code CODE           the one-time code (required)
  --service ID          service key, for example github
  --device NAME         sending device (default: iPhone)
  --account-id UUID     the account's identifier (default: a fresh one)
  --issued ISO          issue time, like 2026-01-02T03:04:05Z (default: now)
  --expires ISO         expiry time (default: 90 seconds after issue)
  --ttl SECONDS         expiry as seconds after issue (instead of --expires)
  --key-file PATH       read the key (exactly 32 raw bytes) from PATH instead of the keychain
  --no-expires-field    leave the field "expiresAt" out of the record
  --cloud-dir DIR       the cloud's directory (default: the desktop's)
  --cloud-url URL       write through the cloud's web service at URL instead (a test double
                        on this computer: the tool signs in by following its sign-in page)
  --cloud-api-token TOK the container's API token for --cloud-url (default: the build's)
)";

}  // namespace

int PhoneCommands::send(PhoneCommandContext& context, const QStringList& arguments) {
    if (context.answeredHelp(arguments, kUsage)) {
        return PhoneTool::ok;
    }
    QString error;
    QSet<QString> options = PendingCodeOptions::names();
    options.insert(QStringLiteral("cloud-dir"));
    options.insert(QStringLiteral("cloud-url"));
    options.insert(QStringLiteral("cloud-api-token"));
    const auto line =
        CommandLine::parse(arguments, options, {QStringLiteral("no-expires-field")}, error);
    if (!line) {
        return context.fail(PhoneTool::badInput, error);
    }
    PendingCode pending;
    if (const int problem =
            PendingCodeOptions::read(context, QStringLiteral("send"), *line, pending);
        problem != PhoneTool::ok) {
        return problem;
    }
    int problem = PhoneTool::ok;
    auto destination = context.recordDestination(*line, problem);
    if (!destination) {
        return problem;
    }
    const KeySource source = context.readKey(line->value(QStringLiteral("key-file")));
    if (!source.key) {
        return context.fail(source.exitCode, source.problem);
    }

    CloudRecord record{kPendingCodeRecordName, kPendingCodeRecordType, {}};
    try {
        record.fields.insert(QStringLiteral("blob"), pending.seal(*source.key));
    } catch (const Error& sealError) {
        return context.fail(PhoneTool::failed, sealError.localizedDescription());
    }
    const bool withExpiry = !line->has(QStringLiteral("no-expires-field"));
    if (withExpiry) {
        record.fields.insert(QStringLiteral("expiresAt"), pending.expiresAt);
    }
    if (const int saved = context.saveRecord(*destination, record); saved != PhoneTool::ok) {
        return saved;
    }
    context.io().writeStderr(
        QStringLiteral("zorvik-phone: saved the record %1 (%2) in %3\n")
            .arg(kPendingCodeRecordName,
                 withExpiry ? QStringLiteral("expires ") + *Iso8601::format(pending.expiresAt)
                            : QStringLiteral("no expiresAt field"),
                 destination->where));
    return PhoneTool::ok;
}
