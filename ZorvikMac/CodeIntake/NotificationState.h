// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Whether the user lets the application post notifications, and whether anything shows them.
enum class NotificationState { checking, notAsked, allowed, off, noService };
