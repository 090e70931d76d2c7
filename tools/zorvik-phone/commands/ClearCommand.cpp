// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/CloudError.h"
#include "platform/linux/cloud/LocalCloud.h"
#include "tools/zorvik-phone/PhoneCommands.h"
#include "tools/zorvik-phone/PhoneToolSupport.h"

namespace {

const char* const kUsage = R"(Usage: zorvik-phone clear [--cloud-dir DIR | --cloud-url URL]

Deletes the cloud record "pending-code". Nothing to delete is fine (a note on stderr).
  --cloud-dir DIR         the cloud's directory (default: the desktop's)
  --cloud-url URL         delete it through the cloud's web service at URL instead
  --cloud-api-token TOK   the container's API token for --cloud-url (default: the build's)
)";

}  // namespace

int PhoneCommands::clear(PhoneCommandContext& context, const QStringList& arguments) {
    if (context.answeredHelp(arguments, kUsage)) {
        return PhoneTool::ok;
    }
    const auto line =
        context.parseOptions(arguments,
                             {QStringLiteral("cloud-dir"), QStringLiteral("cloud-url"),
                              QStringLiteral("cloud-api-token")},
                             {});
    if (!line) {
        return PhoneTool::badInput;
    }
    int webProblem = PhoneTool::ok;
    auto web = context.webCloud(*line, webProblem);
    if (webProblem != PhoneTool::ok) {
        return webProblem;
    }
    if (web) {
        bool existed = false;
        if (const auto problem = web->remove(kPendingCodeRecordName, existed)) {
            return context.fail(PhoneTool::failed, *problem);
        }
        context.io().writeStderr(
            existed ? QStringLiteral("zorvik-phone: deleted the record %1\n")
                          .arg(kPendingCodeRecordName)
                    : QStringLiteral("zorvik-phone: there was no record %1 to delete\n")
                          .arg(kPendingCodeRecordName));
        return PhoneTool::ok;
    }
    const auto root = context.cloudDirectory(*line);
    if (!root) {
        return PhoneTool::badInput;
    }
    try {
        if (!LocalCloudDatabase::deleteRecord(LocalCloud::privateDatabaseDirectory(*root),
                                              kPendingCodeRecordName)) {
            context.io().writeStderr(
                QStringLiteral("zorvik-phone: there was no record %1 to delete in %2\n")
                    .arg(kPendingCodeRecordName, *root));
            return PhoneTool::ok;
        }
    } catch (const CloudError& deleteError) {
        return context.fail(PhoneTool::failed, deleteError.localizedDescription());
    }
    context.io().writeStderr(
        QStringLiteral("zorvik-phone: deleted the record %1\n").arg(kPendingCodeRecordName));
    return PhoneTool::ok;
}
