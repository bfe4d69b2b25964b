// The simulated device's record of a rehearsal read back as the events a
// person sees: the installer's copies, waits, starts, installs, the progress
// window as drawn, message boxes and deletions.
#pragma once

#include <string>
#include <unordered_set>
#include <vector>

#include "device/sim/SimDevice.h"
#include "tools/kit/Rehearsal.h"

namespace kit {

struct InstallerRun {
    std::wstring path;  // the CAB path the installer was handed
    bool rejected;
};

struct TimelineSource {
    const DeviceLayout& layout;
    const std::unordered_set<std::wstring>& loaded;  // entries of the layout put on the device
    const std::vector<InstallerRun>& runs;
    bool fromHook;
    size_t hookEventsEnd;  // the device's events before this one are the hook's
};

std::vector<Event> readTimeline(const sim::Device& device, const TimelineSource& source);

}  // namespace kit
