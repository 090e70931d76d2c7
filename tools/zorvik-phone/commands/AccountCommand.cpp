// SPDX-License-Identifier: GPL-3.0-or-later
#include <optional>

#include "platform/CloudError.h"
#include "platform/linux/cloud/LocalCloud.h"
#include "tools/zorvik-phone/CommandLine.h"
#include "tools/zorvik-phone/PhoneCommands.h"
#include "tools/zorvik-phone/PhoneToolSupport.h"

namespace {

const char* const kUsage = R"(Usage: zorvik-phone account STATUS [--cloud-dir DIR]

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

}  // namespace

int PhoneCommands::account(PhoneCommandContext& context, const QStringList& arguments) {
    if (context.answeredHelp(arguments, kUsage)) {
        return PhoneTool::ok;
    }
    QString error;
    const auto line = CommandLine::parse(arguments, {QStringLiteral("cloud-dir")}, {}, error);
    if (!line) {
        return context.fail(PhoneTool::badInput, error);
    }
    if (line->positional().size() != 1) {
        return context.fail(PhoneTool::badInput,
                            QStringLiteral("account needs one STATUS: available, no-account, "
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
            return context.fail(
                PhoneTool::badInput,
                QStringLiteral("unknown account status '%1' (see account --help)").arg(word));
        }
        status = number;
    }
    const auto root = context.cloudDirectory(*line);
    if (!root) {
        return PhoneTool::badInput;
    }
    try {
        LocalCloud::writeAccountStatus(*root, *status);
    } catch (const CloudError& writeError) {
        return context.fail(PhoneTool::failed, writeError.localizedDescription());
    }
    context.io().writeStderr(
        QStringLiteral("zorvik-phone: account status %1\n").arg(accountStatusText(*status)));
    return PhoneTool::ok;
}
