#pragma once

// Whether the user lets the application post notifications.
enum class NotificationState { checking, notAsked, allowed, off };
