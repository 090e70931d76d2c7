// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// How the provider ends the browser's request: each request ends with exactly one of these.
class ExtensionContext {
public:
    // The errors of the browser's extension error domain that the provider uses.
    static constexpr auto errorDomain = "ASExtensionErrorDomain";
    enum class ErrorCode { userCanceled = 1, userInteractionRequired = 100 };

    virtual ~ExtensionContext() = default;
    // The browser types `code` into the page.
    virtual void completeOneTimeCodeRequest(const QString& code) = 0;
    virtual void cancelRequest(ErrorCode code) = 0;
    virtual void completeExtensionConfigurationRequest() = 0;
};
