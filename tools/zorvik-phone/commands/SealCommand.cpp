// SPDX-License-Identifier: GPL-3.0-or-later
#include "ZorvikMac/CodeIntake/PendingCode.h"
#include "platform/Error.h"
#include "tools/zorvik-phone/CommandLine.h"
#include "tools/zorvik-phone/PhoneCommands.h"
#include "tools/zorvik-phone/PhoneToolSupport.h"
#include "tools/zorvik-phone/commands/PendingCodeOptions.h"

namespace {

const char* const kUsage = R"(Usage: zorvik-phone seal --account NAME --code CODE [OPTIONS]

Seals a code with the sync key and writes the blob to stdout.
  --account NAME        account name shown to the user (required)
  --code CODE           the one-time code (required)
  --service ID          service key, for example github
  --device NAME         sending device (default: iPhone)
  --account-id UUID     the account's identifier (default: a fresh one)
  --issued ISO          issue time, like 2026-01-02T03:04:05Z (default: now)
  --expires ISO         expiry time (default: 90 seconds after issue)
  --ttl SECONDS         expiry as seconds after issue (instead of --expires)
  --key-file PATH       read the key (exactly 32 raw bytes) from PATH instead of the keychain
  --base64              write the blob in base64 with a line end
)";

}  // namespace

int PhoneCommands::seal(PhoneCommandContext& context, const QStringList& arguments) {
    if (context.answeredHelp(arguments, kUsage)) {
        return PhoneTool::ok;
    }
    QString error;
    const auto line = CommandLine::parse(arguments, PendingCodeOptions::names(),
                                         {QStringLiteral("base64")}, error);
    if (!line) {
        return context.fail(PhoneTool::badInput, error);
    }
    PendingCode pending;
    if (const int problem =
            PendingCodeOptions::read(context, QStringLiteral("seal"), *line, pending);
        problem != PhoneTool::ok) {
        return problem;
    }

    const bool base64 = line->has(QStringLiteral("base64"));
    if (!base64 && context.io().stdoutIsTerminal) {
        return context.fail(PhoneTool::badInput,
                            QStringLiteral("the blob is binary: redirect stdout or add --base64"));
    }
    const KeySource source = context.readKey(line->value(QStringLiteral("key-file")));
    if (!source.key) {
        return context.fail(source.exitCode, source.problem);
    }
    try {
        const QByteArray blob = pending.seal(*source.key);
        context.io().writeStdout(base64 ? blob.toBase64() + '\n' : blob);
    } catch (const Error& sealError) {
        return context.fail(PhoneTool::failed, sealError.localizedDescription());
    }
    return PhoneTool::ok;
}
