// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <exception>

// The receiver's short text for a failure: fixed words for the cloud errors a user can act on,
// the error's own description otherwise.
QString errorText(std::exception_ptr error);
