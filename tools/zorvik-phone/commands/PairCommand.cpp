// SPDX-License-Identifier: GPL-3.0-or-later
#include <cmath>
#include <variant>

#include "ZorvikMac/CodeIntake/KeyHandoff.h"
#include "ZorvikMac/CodeIntake/PairingOffer.h"
#include "platform/CloudRecord.h"
#include "platform/Error.h"
#include "platform/KeyAgreement.h"
#include "shared/Iso8601.h"
#include "tools/zorvik-phone/CommandLine.h"
#include "tools/zorvik-phone/PhoneCommands.h"
#include "tools/zorvik-phone/PhoneToolSupport.h"

namespace {

const char* const kUsage = R"(Usage: zorvik-phone pair URI [OPTIONS]

Answers the pairing code that 'ZorvikMac --pair' shows, as the phone does when it scans it:
seals the sync key to the desktop's public key in URI (zorvik://pair?v=1&id=…&pk=…) and saves
it in the cloud's private database as the record "key-handoff" (type KeyHandoff), replacing any
earlier one. Only the desktop that shows the code can open it.
  --key-file PATH         hand over the key (exactly 32 raw bytes) in PATH instead of the
                          keychain's
  --expires-in SECONDS    how long the record may be taken (default 300, at most 600)
  --cloud-dir DIR         the cloud's directory (default: the desktop's)
  --cloud-url URL         write through the cloud's web service at URL instead (a test double
                          on this computer: the tool signs in by following its sign-in page)
  --cloud-api-token TOK   the container's API token for --cloud-url (default: the build's)
)";

// How long a hand-off record may be taken: the desktop's offer lasts 10 minutes at most, so a
// record meant to outlive it would only wait in the cloud for nobody.
constexpr double kDefaultHandoffLifetime = 300;
constexpr double kLongestHandoffLifetime = 600;

}  // namespace

int PhoneCommands::pair(PhoneCommandContext& context, const QStringList& arguments) {
    if (context.answeredHelp(arguments, kUsage)) {
        return PhoneTool::ok;
    }
    QString error;
    const auto line = CommandLine::parse(
        arguments,
        {QStringLiteral("key-file"), QStringLiteral("expires-in"), QStringLiteral("cloud-dir"),
         QStringLiteral("cloud-url"), QStringLiteral("cloud-api-token")},
        {}, error);
    if (!line) {
        return context.fail(PhoneTool::badInput, error);
    }
    if (line->positional().size() != 1) {
        return context.fail(PhoneTool::badInput,
                            QStringLiteral("pair needs one URI, the text of the desktop's "
                                           "pairing code"));
    }
    const auto parsed = PairingURI::parse(line->positional().first());
    if (const auto* problem = std::get_if<QString>(&parsed)) {
        return context.fail(PhoneTool::badInput, *problem);
    }
    const PairingURI& uri = std::get<PairingURI>(parsed);

    double lifetime = kDefaultHandoffLifetime;
    if (const auto given = line->value(QStringLiteral("expires-in"))) {
        bool isNumber = false;
        lifetime = given->toDouble(&isNumber);
        if (!isNumber || !std::isfinite(lifetime) || lifetime <= 0 ||
            lifetime > kLongestHandoffLifetime) {
            return context.fail(PhoneTool::badInput,
                                QStringLiteral("--expires-in must be a number of seconds above 0 "
                                               "and at most %1")
                                    .arg(kLongestHandoffLifetime));
        }
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

    const Instant expiresAt = addingSeconds(context.now(), lifetime);
    CloudRecord record;
    try {
        record = KeyHandoff::seal(*source.key, uri, expiresAt);
    } catch (const KeyAgreementError& agreementError) {
        // A key of small order, such as all zeros, agrees on nothing: the URI is at fault.
        if (agreementError.kind() == KeyAgreementError::Kind::weakPublicKey) {
            return context.fail(PhoneTool::badInput,
                                QStringLiteral("the pairing code's pk is not a usable public key"));
        }
        return context.fail(PhoneTool::failed, agreementError.localizedDescription());
    } catch (const Error& sealError) {
        return context.fail(PhoneTool::failed, sealError.localizedDescription());
    }
    if (const int saved = context.saveRecord(*destination, record); saved != PhoneTool::ok) {
        return saved;
    }
    context.io().writeStderr(
        QStringLiteral("zorvik-phone: saved the record %1 (expires %2) in %3\n")
            .arg(record.recordName, Iso8601::format(expiresAt).value_or(QString()),
                 destination->where));
    return PhoneTool::ok;
}
