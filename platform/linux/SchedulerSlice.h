// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>

// The app sleeps nearly all the time and works in short bursts: a code arrives, is opened and
// published. On a busy computer the kernel's scheduler (EEVDF) lets a woken thread wait until
// the task in its place has used up its slice, a few milliseconds at each hop of the code's
// way. A thread that asks for a short slice is run at once when it wakes. Kernels from 6.12 on
// honour the request; older ones accept and ignore it.
namespace SchedulerSlice {

constexpr std::chrono::microseconds shortSlice{500};

// Asks for `slice` for the calling thread and the threads it starts afterwards, so it belongs
// before the toolkit starts any. False (and nothing changed) when the kernel refuses.
bool request(std::chrono::microseconds slice = shortSlice);

// The slice the calling thread runs with, as the kernel tells it; zero where it does not.
std::chrono::microseconds current();

}  // namespace SchedulerSlice
