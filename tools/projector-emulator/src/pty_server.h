// The serial front end: a pseudo-terminal whose device end a serial client opens like a port.
#pragma once

#include <string>
#include <thread>

#include "frame_handler.h"
#include "stop_signal.h"
#include "unique_fd.h"

namespace zolvane::emulator {

class PtyServer {
  public:
    PtyServer(FrameHandler handler, const StopSignal& stop);
    ~PtyServer();
    PtyServer(const PtyServer&) = delete;
    PtyServer& operator=(const PtyServer&) = delete;

    // linkPath: where to put a symbolic link to the device, or empty for none.
    bool open(const std::string& linkPath, std::string& error);
    const std::string& devicePath() const { return devicePath_; }
    void start();
    // Call after raising the stop signal.
    void join();

  private:
    void serve();

    FrameHandler handler_;
    const StopSignal& stop_;
    UniqueFd master_;
    // Held open so that the master never sees a hang-up while no client has the device open.
    UniqueFd deviceHold_;
    std::string devicePath_;
    std::string linkPath_;
    std::thread thread_;
};

}  // namespace zolvane::emulator
