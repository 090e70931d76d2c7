#include "PhoneTool.h"

#include <QFile>
#include <cmath>

#include "CloudRecordCoding.h"
#include "CloudSyncCrypto.h"
#include "CloudWebConfiguration.h"
#include "CommandLine.h"
#include "Iso8601.h"
#include "KeyAgreement.h"
#include "KeyHandoff.h"
#include "Keychain.h"
#include "LocalCloud.h"
#include "PairingOffer.h"
#include "PendingCode.h"
#include "WebCloudWriter.h"

namespace {

const char* const kUsage = R"(Usage: zorvik-phone COMMAND [OPTIONS]

Plays the companion phone: holds the sync key and seals one-time codes for the desktop.

Commands:
  key generate [--force]   put a new random sync key into the keychain
  key import [--force]     put the base64 sync key read from stdin into the keychain
  key export               print the sync key in base64
  key delete               remove the sync key from the keychain
  seal ...                 seal a code; the blob goes to stdout
  open ...                 open a blob from stdin the way the desktop does
  send ...                 seal a code and save it as the cloud record pending-code
  clear                    delete the cloud record pending-code
  account STATUS           set the cloud account status the desktop sees
  show                     print the cloud record, the subscriptions and the account status
  pair URI                 answer the desktop's pairing code: hand it the sync key

Run 'zorvik-phone COMMAND --help' for the options of a command. The cloud is the embedded
one, a directory (default: $XDG_DATA_HOME/net.brontal.zorvik/cloud/iCloud.net.brontal.zorvik).
Exit status: 0 done, 1 the operation failed, 2 bad input.
)";

const char* const kKeyUsage = R"(Usage: zorvik-phone key generate [--force]
       zorvik-phone key import [--force]    (base64 of 32 bytes on stdin)
       zorvik-phone key export
       zorvik-phone key delete

Manages the sync key in the keychain item (service net.brontal.zorvik.sync, account sync-key).
  --force   replace a key that is there already (generate, import)
)";

const char* const kSealUsage = R"(Usage: zorvik-phone seal --account NAME --code CODE [OPTIONS]

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

const char* const kOpenUsage = R"(Usage: zorvik-phone open [--key-file PATH] [--base64]

Reads a sealed blob on stdin, opens it exactly as the desktop does and prints the code's
record as JSON. Prints the error's text and exits 1 when it cannot be opened.
  --key-file PATH   read the key (exactly 32 raw bytes) from PATH instead of the keychain
  --base64          the blob on stdin is base64
)";

const char* const kSendUsage = R"(Usage: zorvik-phone send --account NAME --code CODE [OPTIONS]

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

const char* const kClearUsage = R"(Usage: zorvik-phone clear [--cloud-dir DIR | --cloud-url URL]

Deletes the cloud record "pending-code". Nothing to delete is fine (a note on stderr).
  --cloud-dir DIR         the cloud's directory (default: the desktop's)
  --cloud-url URL         delete it through the cloud's web service at URL instead
  --cloud-api-token TOK   the container's API token for --cloud-url (default: the build's)
)";

const char* const kAccountUsage = R"(Usage: zorvik-phone account STATUS [--cloud-dir DIR]

Sets the account status the cloud reports to the desktop (account.json).
STATUS is one of
  available                 1
  restricted                2
  no-account                3
  temporarily-unavailable   4
  unknown                   0 (the status could not be determined)
or any whole number.
  --cloud-dir DIR   the cloud's directory (default: the desktop's)
)";

const char* const kShowUsage = R"(Usage: zorvik-phone show [--cloud-dir DIR]

Prints the account status, the record "pending-code" with its fields and the saved
subscriptions. The blob is shown as its length and base64; it is never opened. Exits 1 when
something there cannot be read (and says what).
  --cloud-dir DIR   the cloud's directory (default: the desktop's)
)";

const char* const kPairUsage = R"(Usage: zorvik-phone pair URI [OPTIONS]

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

constexpr double kDefaultLifetime = 90;
// How long a hand-off record may be taken: the desktop's offer lasts 10 minutes at most, so a
// record meant to outlive it would only wait in the cloud for nobody.
constexpr double kDefaultHandoffLifetime = 300;
constexpr double kLongestHandoffLifetime = 600;

const QString kRecordName = QStringLiteral("pending-code");
const QString kRecordType = QStringLiteral("PendingCode");

struct AccountStatusName {
    const char* name;
    int status;
};
constexpr AccountStatusName kAccountStatusNames[] = {
    {"unknown", CloudContainer::couldNotDetermine},
    {"available", CloudContainer::available},
    {"restricted", CloudContainer::restricted},
    {"no-account", CloudContainer::noAccount},
    {"temporarily-unavailable", CloudContainer::temporarilyUnavailable},
};

QString accountStatusText(int status) {
    for (const auto& known : kAccountStatusNames) {
        if (known.status == status) {
            return QStringLiteral("%1 (%2)").arg(status).arg(QString::fromLatin1(known.name));
        }
    }
    return QString::number(status);
}

bool wantsHelp(const QStringList& arguments) {
    return arguments.contains(QStringLiteral("--help")) || arguments.contains(QStringLiteral("-h"));
}

}  // namespace

std::optional<CommandLine> PhoneTool::parseOptions(const QStringList& arguments,
                                                   const QSet<QString>& valueOptions,
                                                   const QSet<QString>& flags) {
    QString error;
    auto line = CommandLine::parse(arguments, valueOptions, flags, error);
    if (!line) {
        fail(badInput, error);
        return std::nullopt;
    }
    if (!line->positional().isEmpty()) {
        fail(badInput, QStringLiteral("unexpected argument '%1'").arg(line->positional().first()));
        return std::nullopt;
    }
    return line;
}

int PhoneTool::fail(int code, const QString& message) {
    io_.writeStderr(QStringLiteral("zorvik-phone: ") + message + u'\n');
    return code;
}

int PhoneTool::run(const QStringList& arguments) {
    if (arguments.isEmpty()) {
        io_.writeStderr(QString::fromUtf8(kUsage));
        return badInput;
    }
    const QString command = arguments.first();
    const QStringList rest = arguments.mid(1);
    if (command == u"--help" || command == u"-h" || command == u"help") {
        io_.writeStdout(kUsage);
        return ok;
    }
    if (command == u"key") {
        return key(rest);
    }
    if (command == u"seal") {
        return seal(rest);
    }
    if (command == u"open") {
        return open(rest);
    }
    if (command == u"send") {
        return send(rest);
    }
    if (command == u"clear") {
        return clear(rest);
    }
    if (command == u"account") {
        return account(rest);
    }
    if (command == u"show") {
        return show(rest);
    }
    if (command == u"pair") {
        return pair(rest);
    }
    return fail(badInput, QStringLiteral("unknown command '%1' (see --help)").arg(command));
}

namespace {

// The key from --key-file, or from the keychain the way the desktop reads it. Reports the
// problem and answers nothing when there is no usable key.
struct KeySource {
    std::optional<SymmetricKey> key;
    int exitCode = 0;
    QString problem;
};

KeySource readKey(const std::optional<QString>& keyFile, Keychain& keychain) {
    if (keyFile) {
        QFile file(*keyFile);
        if (!file.open(QIODevice::ReadOnly)) {
            return {std::nullopt, PhoneTool::badInput,
                    QStringLiteral("cannot read the key file %1: %2")
                        .arg(*keyFile, file.errorString())};
        }
        const auto key = SymmetricKey::fromBytes(file.read(AesGcm::keySize + 1));
        if (!key) {
            return {std::nullopt, PhoneTool::badInput,
                    QStringLiteral("the key file %1 must hold exactly 32 bytes").arg(*keyFile)};
        }
        return {key, PhoneTool::ok, {}};
    }
    try {
        return {CloudSyncCrypto::loadSyncKey(keychain), PhoneTool::ok, {}};
    } catch (const CloudSyncCrypto::Error& error) {
        if (error.kind() == CloudSyncCrypto::Error::Kind::noKeyYet) {
            return {std::nullopt, PhoneTool::badInput,
                    QStringLiteral("there is no sync key in the keychain (run 'zorvik-phone key "
                                   "generate')")};
        }
        return {std::nullopt, PhoneTool::failed, Keychain::describe(error.status())};
    }
}

}  // namespace

int PhoneTool::key(const QStringList& arguments) {
    if (wantsHelp(arguments)) {
        io_.writeStdout(kKeyUsage);
        return ok;
    }
    QString error;
    const auto line = CommandLine::parse(arguments, {}, {QStringLiteral("force")}, error);
    if (!line) {
        return fail(badInput, error);
    }
    if (line->positional().size() != 1) {
        return fail(badInput, QStringLiteral("key needs one of generate, import, export, delete"));
    }
    const QString action = line->positional().first();
    const Keychain::Query query = CloudSyncCrypto::syncKeyQuery();
    const bool force = line->has(QStringLiteral("force"));

    if (action == u"generate" || action == u"import") {
        QByteArray key;
        if (action == u"generate") {
            key = SymmetricKey::random().bytes();
        } else {
            const auto decoded = QByteArray::fromBase64Encoding(
                io_.readStdin().trimmed(), QByteArray::AbortOnBase64DecodingErrors);
            if (!decoded || decoded.decoded.size() != AesGcm::keySize) {
                return fail(badInput,
                            QStringLiteral("stdin must hold the base64 of exactly 32 bytes"));
            }
            key = decoded.decoded;
        }
        if (force) {
            const auto removed = keychain_.remove(query);
            if (removed != Keychain::success && removed != Keychain::itemNotFound) {
                return fail(failed, Keychain::describe(removed));
            }
        }
        const auto added = keychain_.add(query, key);
        if (added == Keychain::duplicateItem) {
            return fail(
                failed,
                QStringLiteral("a sync key is in the keychain already; add --force to replace it"));
        }
        if (added != Keychain::success) {
            return fail(failed, Keychain::describe(added));
        }
        io_.writeStderr(QStringLiteral("zorvik-phone: sync key stored in the keychain\n"));
        return ok;
    }
    if (line->has(QStringLiteral("force"))) {
        return fail(badInput, QStringLiteral("--force goes with generate or import"));
    }
    if (action == u"export") {
        const Keychain::Result result = keychain_.copyMatching(query);
        if (result.status == Keychain::itemNotFound) {
            return fail(failed, QStringLiteral("there is no sync key in the keychain"));
        }
        if (result.status != Keychain::success || !result.data) {
            return fail(failed, Keychain::describe(result.status));
        }
        io_.writeStdout(result.data->toBase64() + '\n');
        return ok;
    }
    if (action == u"delete") {
        const auto removed = keychain_.remove(query);
        if (removed == Keychain::itemNotFound) {
            io_.writeStderr(QStringLiteral("zorvik-phone: there was no sync key to delete\n"));
            return ok;
        }
        if (removed != Keychain::success) {
            return fail(failed, Keychain::describe(removed));
        }
        io_.writeStderr(QStringLiteral("zorvik-phone: sync key deleted\n"));
        return ok;
    }
    return fail(badInput, QStringLiteral("unknown key action '%1'").arg(action));
}

namespace {

const QSet<QString> kSealOptions{
    QStringLiteral("account"), QStringLiteral("code"),       QStringLiteral("service"),
    QStringLiteral("device"),  QStringLiteral("account-id"), QStringLiteral("issued"),
    QStringLiteral("expires"), QStringLiteral("ttl"),        QStringLiteral("key-file")};

}  // namespace

int PhoneTool::readPendingCode(const QString& command, const CommandLine& line,
                               PendingCode& pending) {
    if (!line.positional().isEmpty()) {
        return fail(badInput,
                    QStringLiteral("unexpected argument '%1'").arg(line.positional().first()));
    }
    const auto account = line.value(QStringLiteral("account"));
    const auto code = line.value(QStringLiteral("code"));
    if (!account || !code) {
        return fail(badInput, command + QStringLiteral(" needs --account and --code"));
    }

    pending.accountName = *account;
    pending.code = *code;
    pending.serviceID = line.value(QStringLiteral("service"));
    pending.fromDevice = line.value(QStringLiteral("device")).value_or(QStringLiteral("iPhone"));

    if (const auto id = line.value(QStringLiteral("account-id"))) {
        pending.accountID = QUuid::fromString(*id);
        if (pending.accountID.isNull() || id->size() != 36) {
            return fail(badInput, QStringLiteral("--account-id must be a UUID like "
                                                 "E621E1F8-C36C-495A-93FC-0C247A3E6E5F"));
        }
    } else {
        pending.accountID = QUuid::createUuid();
    }

    if (const auto issued = line.value(QStringLiteral("issued"))) {
        const auto instant = Iso8601::parse(*issued);
        if (!instant) {
            return fail(badInput,
                        QStringLiteral("--issued must be a date like 2026-01-02T03:04:05Z"));
        }
        pending.issuedAt = *instant;
    } else {
        pending.issuedAt = std::chrono::floor<std::chrono::seconds>(now_());
    }

    const auto expires = line.value(QStringLiteral("expires"));
    const auto ttl = line.value(QStringLiteral("ttl"));
    if (expires && ttl) {
        return fail(badInput, QStringLiteral("give --expires or --ttl, not both"));
    }
    if (expires) {
        const auto instant = Iso8601::parse(*expires);
        if (!instant) {
            return fail(badInput,
                        QStringLiteral("--expires must be a date like 2026-01-02T03:04:05Z"));
        }
        pending.expiresAt = *instant;
    } else {
        double seconds = kDefaultLifetime;
        if (ttl) {
            bool isNumber = false;
            seconds = ttl->toDouble(&isNumber);
            if (!isNumber || !std::isfinite(seconds) || std::fabs(seconds) > 1e9) {
                return fail(badInput, QStringLiteral("--ttl must be a number of seconds"));
            }
        }
        pending.expiresAt = addingSeconds(pending.issuedAt, seconds);
    }
    if (!Iso8601::format(pending.issuedAt) || !Iso8601::format(pending.expiresAt)) {
        return fail(badInput, QStringLiteral("the dates must lie in the years 0000 to 9999"));
    }
    return ok;
}

std::optional<WebCloudWriter> PhoneTool::webCloud(const CommandLine& line, int& problem) {
    problem = ok;
    const auto url = line.value(QStringLiteral("cloud-url"));
    if (!url) {
        if (line.has(QStringLiteral("cloud-api-token"))) {
            problem = fail(badInput, QStringLiteral("--cloud-api-token goes with --cloud-url"));
        }
        return std::nullopt;
    }
    if (line.has(QStringLiteral("cloud-dir"))) {
        problem = fail(badInput, QStringLiteral("give --cloud-dir or --cloud-url, not both"));
        return std::nullopt;
    }
    const QUrl parsed(*url, QUrl::StrictMode);
    if (!CloudWebConfiguration::isServiceURL(parsed)) {
        problem = fail(badInput, QStringLiteral("--cloud-url needs an http or https URL"));
        return std::nullopt;
    }
    const QString token = line.value(QStringLiteral("cloud-api-token"))
                              .value_or(CloudWebConfiguration::fromBuild().apiToken);
    if (token.isEmpty()) {
        problem = fail(badInput, QStringLiteral("--cloud-url needs --cloud-api-token (this build "
                                                "has no API token)"));
        return std::nullopt;
    }
    return WebCloudWriter(parsed, token);
}

std::optional<PhoneTool::RecordDestination> PhoneTool::recordDestination(const CommandLine& line,
                                                                         int& problem) {
    RecordDestination destination;
    destination.web = webCloud(line, problem);
    if (problem != ok) {
        return std::nullopt;
    }
    if (destination.web) {
        destination.where = *line.value(QStringLiteral("cloud-url"));
        return destination;
    }
    const auto root = cloudDirectory(line);
    if (!root) {
        problem = badInput;
        return std::nullopt;
    }
    destination.where = *root;
    return destination;
}

int PhoneTool::saveRecord(RecordDestination& destination, const CloudRecord& record) {
    if (destination.web) {
        if (const auto problem = destination.web->save(record)) {
            return fail(failed, *problem);
        }
        return ok;
    }
    try {
        LocalCloudDatabase::writeRecord(LocalCloud::privateDatabaseDirectory(destination.where),
                                        record);
    } catch (const CloudError& writeError) {
        return fail(failed, writeError.localizedDescription());
    }
    return ok;
}

std::optional<QString> PhoneTool::cloudDirectory(const CommandLine& line) {
    if (const auto given = line.value(QStringLiteral("cloud-dir"))) {
        if (given->isEmpty()) {
            fail(badInput, QStringLiteral("--cloud-dir needs a directory"));
            return std::nullopt;
        }
        return *given;
    }
    return io_.cloudDirectory.isEmpty() ? LocalCloud::standardRootDirectory() : io_.cloudDirectory;
}

int PhoneTool::seal(const QStringList& arguments) {
    if (wantsHelp(arguments)) {
        io_.writeStdout(kSealUsage);
        return ok;
    }
    QString error;
    const auto line =
        CommandLine::parse(arguments, kSealOptions, {QStringLiteral("base64")}, error);
    if (!line) {
        return fail(badInput, error);
    }
    PendingCode pending;
    if (const int problem = readPendingCode(QStringLiteral("seal"), *line, pending);
        problem != ok) {
        return problem;
    }

    const bool base64 = line->has(QStringLiteral("base64"));
    if (!base64 && io_.stdoutIsTerminal) {
        return fail(badInput,
                    QStringLiteral("the blob is binary: redirect stdout or add --base64"));
    }
    const KeySource source = readKey(line->value(QStringLiteral("key-file")), keychain_);
    if (!source.key) {
        return fail(source.exitCode, source.problem);
    }
    try {
        const QByteArray blob = pending.seal(*source.key);
        io_.writeStdout(base64 ? blob.toBase64() + '\n' : blob);
    } catch (const Error& sealError) {
        return fail(failed, sealError.localizedDescription());
    }
    return ok;
}

int PhoneTool::send(const QStringList& arguments) {
    if (wantsHelp(arguments)) {
        io_.writeStdout(kSendUsage);
        return ok;
    }
    QString error;
    QSet<QString> options = kSealOptions;
    options.insert(QStringLiteral("cloud-dir"));
    options.insert(QStringLiteral("cloud-url"));
    options.insert(QStringLiteral("cloud-api-token"));
    const auto line =
        CommandLine::parse(arguments, options, {QStringLiteral("no-expires-field")}, error);
    if (!line) {
        return fail(badInput, error);
    }
    PendingCode pending;
    if (const int problem = readPendingCode(QStringLiteral("send"), *line, pending);
        problem != ok) {
        return problem;
    }
    int problem = ok;
    auto destination = recordDestination(*line, problem);
    if (!destination) {
        return problem;
    }
    const KeySource source = readKey(line->value(QStringLiteral("key-file")), keychain_);
    if (!source.key) {
        return fail(source.exitCode, source.problem);
    }

    CloudRecord record{kRecordName, kRecordType, {}};
    try {
        record.fields.insert(QStringLiteral("blob"), pending.seal(*source.key));
    } catch (const Error& sealError) {
        return fail(failed, sealError.localizedDescription());
    }
    const bool withExpiry = !line->has(QStringLiteral("no-expires-field"));
    if (withExpiry) {
        record.fields.insert(QStringLiteral("expiresAt"), pending.expiresAt);
    }
    if (const int saved = saveRecord(*destination, record); saved != ok) {
        return saved;
    }
    io_.writeStderr(QStringLiteral("zorvik-phone: saved the record %1 (%2) in %3\n")
                        .arg(kRecordName,
                             withExpiry
                                 ? QStringLiteral("expires ") + *Iso8601::format(pending.expiresAt)
                                 : QStringLiteral("no expiresAt field"),
                             destination->where));
    return ok;
}

int PhoneTool::clear(const QStringList& arguments) {
    if (wantsHelp(arguments)) {
        io_.writeStdout(kClearUsage);
        return ok;
    }
    const auto line = parseOptions(arguments,
                                   {QStringLiteral("cloud-dir"), QStringLiteral("cloud-url"),
                                    QStringLiteral("cloud-api-token")},
                                   {});
    if (!line) {
        return badInput;
    }
    int webProblem = ok;
    auto web = webCloud(*line, webProblem);
    if (webProblem != ok) {
        return webProblem;
    }
    if (web) {
        bool existed = false;
        if (const auto problem = web->remove(kRecordName, existed)) {
            return fail(failed, *problem);
        }
        io_.writeStderr(
            existed ? QStringLiteral("zorvik-phone: deleted the record %1\n").arg(kRecordName)
                    : QStringLiteral("zorvik-phone: there was no record %1 to delete\n")
                          .arg(kRecordName));
        return ok;
    }
    const auto root = cloudDirectory(*line);
    if (!root) {
        return badInput;
    }
    try {
        if (!LocalCloudDatabase::deleteRecord(LocalCloud::privateDatabaseDirectory(*root),
                                              kRecordName)) {
            io_.writeStderr(QStringLiteral("zorvik-phone: there was no record %1 to delete in %2\n")
                                .arg(kRecordName, *root));
            return ok;
        }
    } catch (const CloudError& deleteError) {
        return fail(failed, deleteError.localizedDescription());
    }
    io_.writeStderr(QStringLiteral("zorvik-phone: deleted the record %1\n").arg(kRecordName));
    return ok;
}

int PhoneTool::account(const QStringList& arguments) {
    if (wantsHelp(arguments)) {
        io_.writeStdout(kAccountUsage);
        return ok;
    }
    QString error;
    const auto line = CommandLine::parse(arguments, {QStringLiteral("cloud-dir")}, {}, error);
    if (!line) {
        return fail(badInput, error);
    }
    if (line->positional().size() != 1) {
        return fail(badInput, QStringLiteral("account needs one STATUS: available, no-account, "
                                             "restricted, temporarily-unavailable, unknown or a "
                                             "number"));
    }
    const QString word = line->positional().first();
    std::optional<int> status;
    for (const auto& known : kAccountStatusNames) {
        if (word == QLatin1String(known.name)) {
            status = known.status;
        }
    }
    if (!status) {
        bool isNumber = false;
        const int number = word.toInt(&isNumber, 10);
        if (!isNumber) {
            return fail(
                badInput,
                QStringLiteral("unknown account status '%1' (see account --help)").arg(word));
        }
        status = number;
    }
    const auto root = cloudDirectory(*line);
    if (!root) {
        return badInput;
    }
    try {
        LocalCloud::writeAccountStatus(*root, *status);
    } catch (const CloudError& writeError) {
        return fail(failed, writeError.localizedDescription());
    }
    io_.writeStderr(
        QStringLiteral("zorvik-phone: account status %1\n").arg(accountStatusText(*status)));
    return ok;
}

namespace {

QString describeField(const CloudRecord::Value& value) {
    struct Describer {
        QString operator()(const QByteArray& bytes) const {
            return QStringLiteral("BYTES      %1 bytes, base64 %2")
                .arg(bytes.size())
                .arg(QString::fromLatin1(bytes.toBase64()));
        }
        QString operator()(Instant instant) const {
            const qint64 milliseconds =
                std::chrono::round<std::chrono::milliseconds>(instant.time_since_epoch()).count();
            const auto text = Iso8601::format(instant);
            return QStringLiteral("TIMESTAMP  %1%2")
                .arg(milliseconds)
                .arg(text ? QStringLiteral(" (%1)").arg(*text) : QString());
        }
        QString operator()(const QString& text) const {
            return QStringLiteral("STRING     \"%1\"").arg(text);
        }
        QString operator()(qint64 number) const {
            return QStringLiteral("INT64      %1").arg(number);
        }
        QString operator()(double number) const {
            return QStringLiteral("DOUBLE     %1").arg(number, 0, 'g', 17);
        }
    };
    return std::visit(Describer{}, value);
}

QString describeFiresOn(int firesOn) {
    QStringList events;
    if (firesOn & QuerySubscription::onRecordCreation) {
        events.append(QStringLiteral("create"));
    }
    if (firesOn & QuerySubscription::onRecordUpdate) {
        events.append(QStringLiteral("update"));
    }
    if (firesOn & QuerySubscription::onRecordDeletion) {
        events.append(QStringLiteral("delete"));
    }
    return events.isEmpty() ? QStringLiteral("nothing") : events.join(QStringLiteral(", "));
}

}  // namespace

int PhoneTool::show(const QStringList& arguments) {
    if (wantsHelp(arguments)) {
        io_.writeStdout(kShowUsage);
        return ok;
    }
    const auto line = parseOptions(arguments, {QStringLiteral("cloud-dir")}, {});
    if (!line) {
        return badInput;
    }
    const auto root = cloudDirectory(*line);
    if (!root) {
        return badInput;
    }
    const QString database = LocalCloud::privateDatabaseDirectory(*root);
    int exitCode = ok;
    QString text = QStringLiteral("cloud directory: %1\n").arg(*root);

    try {
        text += QStringLiteral("account status: %1\n")
                    .arg(accountStatusText(LocalCloud::readAccountStatus(*root)));
    } catch (const CloudError& accountError) {
        text += QStringLiteral("account status: unreadable: %1\n")
                    .arg(accountError.localizedDescription());
        exitCode = failed;
    }

    try {
        const CloudRecord record = LocalCloudDatabase::readRecord(database, kRecordName);
        text += QStringLiteral("record %1 (type %2):\n").arg(record.recordName, record.recordType);
        QStringList names = record.fields.keys();
        names.sort();
        for (const QString& name : names) {
            text += QStringLiteral("  %1  %2\n")
                        .arg(name, -10)
                        .arg(describeField(record.fields.value(name)));
        }
    } catch (const CloudError& recordError) {
        if (recordError.code() == CloudError::unknownItem) {
            text += QStringLiteral("record %1: none\n").arg(kRecordName);
        } else {
            text += QStringLiteral("record %1: unreadable: %2\n")
                        .arg(kRecordName, recordError.localizedDescription());
            exitCode = failed;
        }
    }

    const auto subscriptions = LocalCloudDatabase::readSubscriptions(database);
    if (subscriptions.subscriptions.isEmpty() && subscriptions.problems.isEmpty()) {
        text += QStringLiteral("subscriptions: none\n");
    } else {
        text += QStringLiteral("subscriptions:\n");
    }
    for (const QuerySubscription& subscription : subscriptions.subscriptions) {
        text +=
            QStringLiteral("  %1: query on %2, fires on %3%4\n")
                .arg(subscription.subscriptionID, subscription.recordType,
                     describeFiresOn(subscription.firesOn),
                     subscription.shouldSendContentAvailable ? QStringLiteral(", silent push")
                                                             : QStringLiteral(", no silent push"));
    }
    for (const CloudError& problem : subscriptions.problems) {
        text += QStringLiteral("  unreadable: %1\n").arg(problem.localizedDescription());
        exitCode = failed;
    }
    io_.writeStdout(text.toUtf8());
    return exitCode;
}

int PhoneTool::open(const QStringList& arguments) {
    if (wantsHelp(arguments)) {
        io_.writeStdout(kOpenUsage);
        return ok;
    }
    const auto line =
        parseOptions(arguments, {QStringLiteral("key-file")}, {QStringLiteral("base64")});
    if (!line) {
        return badInput;
    }
    QByteArray blob = io_.readStdin();
    if (line->has(QStringLiteral("base64"))) {
        const auto decoded =
            QByteArray::fromBase64Encoding(blob.trimmed(), QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded) {
            return fail(badInput, QStringLiteral("stdin is not base64"));
        }
        blob = decoded.decoded;
    }
    std::optional<SymmetricKey> key;
    if (const auto keyFile = line->value(QStringLiteral("key-file"))) {
        const KeySource source = readKey(keyFile, keychain_);
        if (!source.key) {
            return fail(source.exitCode, source.problem);
        }
        key = source.key;
    }
    try {
        if (!key) {
            key = CloudSyncCrypto::loadSyncKey(keychain_);
        }
        const PendingCode pending = PendingCode::open(blob, *key);
        io_.writeStdout(pending.encode() + '\n');
        return ok;
    } catch (const Error& openError) {
        io_.writeStderr(openError.localizedDescription() + u'\n');
        return failed;
    }
}

int PhoneTool::pair(const QStringList& arguments) {
    if (wantsHelp(arguments)) {
        io_.writeStdout(kPairUsage);
        return ok;
    }
    QString error;
    const auto line = CommandLine::parse(
        arguments,
        {QStringLiteral("key-file"), QStringLiteral("expires-in"), QStringLiteral("cloud-dir"),
         QStringLiteral("cloud-url"), QStringLiteral("cloud-api-token")},
        {}, error);
    if (!line) {
        return fail(badInput, error);
    }
    if (line->positional().size() != 1) {
        return fail(badInput, QStringLiteral("pair needs one URI, the text of the desktop's "
                                             "pairing code"));
    }
    const auto parsed = PairingURI::parse(line->positional().first());
    if (const auto* problem = std::get_if<QString>(&parsed)) {
        return fail(badInput, *problem);
    }
    const PairingURI& uri = std::get<PairingURI>(parsed);

    double lifetime = kDefaultHandoffLifetime;
    if (const auto given = line->value(QStringLiteral("expires-in"))) {
        bool isNumber = false;
        lifetime = given->toDouble(&isNumber);
        if (!isNumber || !std::isfinite(lifetime) || lifetime <= 0 ||
            lifetime > kLongestHandoffLifetime) {
            return fail(badInput,
                        QStringLiteral("--expires-in must be a number of seconds above 0 and at "
                                       "most %1")
                            .arg(kLongestHandoffLifetime));
        }
    }
    int problem = ok;
    auto destination = recordDestination(*line, problem);
    if (!destination) {
        return problem;
    }
    const KeySource source = readKey(line->value(QStringLiteral("key-file")), keychain_);
    if (!source.key) {
        return fail(source.exitCode, source.problem);
    }

    const Instant expiresAt = addingSeconds(now_(), lifetime);
    CloudRecord record;
    try {
        record = KeyHandoff::seal(*source.key, uri, expiresAt);
    } catch (const KeyAgreementError& agreementError) {
        // A key of small order, such as all zeros, agrees on nothing: the URI is at fault.
        if (agreementError.kind() == KeyAgreementError::Kind::weakPublicKey) {
            return fail(badInput,
                        QStringLiteral("the pairing code's pk is not a usable public key"));
        }
        return fail(failed, agreementError.localizedDescription());
    } catch (const Error& sealError) {
        return fail(failed, sealError.localizedDescription());
    }
    if (const int saved = saveRecord(*destination, record); saved != ok) {
        return saved;
    }
    io_.writeStderr(QStringLiteral("zorvik-phone: saved the record %1 (expires %2) in %3\n")
                        .arg(record.recordName, Iso8601::format(expiresAt).value_or(QString()),
                             destination->where));
    return ok;
}
