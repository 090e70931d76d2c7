// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// The absolute path of the running program, from the kernel's own word on it; empty when the
// kernel does not say (no /proc) or the file is gone (replaced while the program ran). Never
// derived from argv[0], which whoever started the program chose.
QString runningExecutable();
