// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/SchedulerSlice.h"

#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>

namespace SchedulerSlice {

namespace {

// The kernel's struct sched_attr (its second version), which glibc does not declare and whose
// header clashes with glibc's own.
struct Attributes {
    std::uint32_t size = sizeof(Attributes);
    std::uint32_t policy = 0;
    std::uint64_t flags = 0;
    std::int32_t nice = 0;
    std::uint32_t priority = 0;
    std::uint64_t runtime = 0;
    std::uint64_t deadline = 0;
    std::uint64_t period = 0;
    std::uint32_t utilisationMin = 0;
    std::uint32_t utilisationMax = 0;
};
static_assert(sizeof(Attributes) == 56);

constexpr std::uint64_t resetOnFork = 0x01;

bool readAttributes(Attributes& attributes) {
    attributes = {};
    return ::syscall(SYS_sched_getattr, 0, &attributes, sizeof attributes, 0) == 0;
}

}  // namespace

bool request(std::chrono::microseconds slice) {
    Attributes attributes;
    // Only the time-sharing policies have slices; real-time and deadline threads are left alone.
    if (!readAttributes(attributes) ||
        (attributes.policy != SCHED_OTHER && attributes.policy != SCHED_BATCH)) {
        return false;
    }
    // The policy and niceness stay as they are; only the slice is asked for.
    attributes.size = sizeof attributes;
    attributes.flags &= resetOnFork;
    attributes.runtime = static_cast<std::uint64_t>(std::chrono::nanoseconds(slice).count());
    return ::syscall(SYS_sched_setattr, 0, &attributes, 0) == 0;
}

std::chrono::microseconds current() {
    Attributes attributes;
    if (!readAttributes(attributes)) {
        return {};
    }
    return std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::nanoseconds(attributes.runtime));
}

}  // namespace SchedulerSlice
