// SPDX-License-Identifier: Apache-2.0
#pragma once
// Waiting for the keyboard: the attached devices are counted at the start and again whenever the
// link's backend tells of a change (HidDevice::ChangeDescriptor: for hidraw, a udev event), or,
// from a backend that cannot tell, once per kDeviceWatchInterval on the process clock, as the
// idle window does, until exactly one is attached. Counting opens no device, so a wait never
// disturbs a keyboard another program is updating.
#include <chrono>
#include <functional>

namespace vortan {

// Counts at once and then on every change (or every interval) until the count is 1 or `limit`
// has passed (a negative limit waits for ever). `onChange` gets the first count and each one that
// differs from the one before. True when exactly one device was counted.
//
// `stopFd` (-1 for none) is a descriptor that becomes readable when the user asks to stop: the
// wait watches it beside its own events and, once it is readable, ends at once with false,
// counting nothing more.
bool WaitForSingleDevice(std::chrono::milliseconds limit, const std::function<void(int)>& onChange,
                         int stopFd = -1);

}  // namespace vortan
