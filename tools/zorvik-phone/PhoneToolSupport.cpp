// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/zorvik-phone/PhoneToolSupport.h"

#include <QFile>
#include <QUrl>

#include "ZorvikMac/CodeIntake/CloudSyncCrypto.h"
#include "platform/Keychain.h"
#include "platform/linux/cloud/CloudWebConfiguration.h"
#include "platform/linux/cloud/LocalCloud.h"

QString accountStatusText(int status) {
    for (const auto& known : kAccountStatusNames) {
        if (known.status == status) {
            return QStringLiteral("%1 (%2)").arg(status).arg(QString::fromLatin1(known.name));
        }
    }
    return QString::number(status);
}

bool PhoneCommandContext::answeredHelp(const QStringList& arguments, const char* usage) const {
    const bool asked =
        arguments.contains(QStringLiteral("--help")) || arguments.contains(QStringLiteral("-h"));
    if (asked) {
        io_.writeStdout(usage);
    }
    return asked;
}

int PhoneCommandContext::fail(int code, const QString& message) const {
    io_.writeStderr(QStringLiteral("zorvik-phone: ") + message + u'\n');
    return code;
}

std::optional<CommandLine> PhoneCommandContext::parseOptions(const QStringList& arguments,
                                                             const QSet<QString>& valueOptions,
                                                             const QSet<QString>& flags) const {
    QString error;
    auto line = CommandLine::parse(arguments, valueOptions, flags, error);
    if (!line) {
        fail(PhoneTool::badInput, error);
        return std::nullopt;
    }
    if (!line->positional().isEmpty()) {
        fail(PhoneTool::badInput,
             QStringLiteral("unexpected argument '%1'").arg(line->positional().first()));
        return std::nullopt;
    }
    return line;
}

KeySource PhoneCommandContext::readKey(const std::optional<QString>& keyFile) const {
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
        return {CloudSyncCrypto::loadSyncKey(keychain_), PhoneTool::ok, {}};
    } catch (const CloudSyncCrypto::Error& error) {
        if (error.kind() == CloudSyncCrypto::Error::Kind::noKeyYet) {
            return {std::nullopt, PhoneTool::badInput,
                    QStringLiteral("there is no sync key in the keychain (run 'zorvik-phone key "
                                   "generate')")};
        }
        return {std::nullopt, PhoneTool::failed, Keychain::describe(error.status())};
    }
}

std::optional<QString> PhoneCommandContext::cloudDirectory(const CommandLine& line) const {
    if (const auto given = line.value(QStringLiteral("cloud-dir"))) {
        if (given->isEmpty()) {
            fail(PhoneTool::badInput, QStringLiteral("--cloud-dir needs a directory"));
            return std::nullopt;
        }
        return *given;
    }
    return io_.cloudDirectory.isEmpty() ? LocalCloud::standardRootDirectory() : io_.cloudDirectory;
}

std::optional<WebCloudWriter> PhoneCommandContext::webCloud(const CommandLine& line,
                                                            int& problem) const {
    problem = PhoneTool::ok;
    const auto url = line.value(QStringLiteral("cloud-url"));
    if (!url) {
        if (line.has(QStringLiteral("cloud-api-token"))) {
            problem = fail(PhoneTool::badInput,
                           QStringLiteral("--cloud-api-token goes with --cloud-url"));
        }
        return std::nullopt;
    }
    if (line.has(QStringLiteral("cloud-dir"))) {
        problem =
            fail(PhoneTool::badInput, QStringLiteral("give --cloud-dir or --cloud-url, not both"));
        return std::nullopt;
    }
    const QUrl parsed(*url, QUrl::StrictMode);
    if (!CloudWebConfiguration::isServiceURL(parsed)) {
        problem =
            fail(PhoneTool::badInput, QStringLiteral("--cloud-url needs an http or https URL"));
        return std::nullopt;
    }
    const QString token = line.value(QStringLiteral("cloud-api-token"))
                              .value_or(CloudWebConfiguration::fromBuild().apiToken);
    if (token.isEmpty()) {
        problem = fail(PhoneTool::badInput,
                       QStringLiteral("--cloud-url needs --cloud-api-token (this build has no "
                                      "API token)"));
        return std::nullopt;
    }
    return WebCloudWriter(parsed, token);
}

std::optional<RecordDestination> PhoneCommandContext::recordDestination(const CommandLine& line,
                                                                        int& problem) const {
    RecordDestination destination;
    destination.web = webCloud(line, problem);
    if (problem != PhoneTool::ok) {
        return std::nullopt;
    }
    if (destination.web) {
        destination.where = *line.value(QStringLiteral("cloud-url"));
        return destination;
    }
    const auto root = cloudDirectory(line);
    if (!root) {
        problem = PhoneTool::badInput;
        return std::nullopt;
    }
    destination.where = *root;
    return destination;
}

int PhoneCommandContext::saveRecord(RecordDestination& destination,
                                    const CloudRecord& record) const {
    if (destination.web) {
        if (const auto problem = destination.web->save(record)) {
            return fail(PhoneTool::failed, *problem);
        }
        return PhoneTool::ok;
    }
    try {
        LocalCloudDatabase::writeRecord(LocalCloud::privateDatabaseDirectory(destination.where),
                                        record);
    } catch (const CloudError& writeError) {
        return fail(PhoneTool::failed, writeError.localizedDescription());
    }
    return PhoneTool::ok;
}
