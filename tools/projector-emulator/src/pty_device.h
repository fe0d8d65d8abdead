// A pseudo-terminal whose device end a serial client opens like a port.
#pragma once

#include <string>

#include "unique_fd.h"

namespace zolvane::emulator {

class PtyDevice {
public:
    PtyDevice() = default;
    ~PtyDevice();
    PtyDevice(const PtyDevice&) = delete;
    PtyDevice& operator=(const PtyDevice&) = delete;

    // linkPath: where to put a symbolic link to the device, or empty for none. The master end
    // is raw and non-blocking.
    bool open(const std::string& linkPath, std::string& error);
    int master() const { return master_.get(); }
    const std::string& devicePath() const { return devicePath_; }

private:
    UniqueFd master_;
    // Held open so that the master never sees a hang-up while no client has the device open.
    UniqueFd deviceHold_;
    std::string devicePath_;
    std::string linkPath_;
};

}  // namespace zolvane::emulator
