// zolvaned run as a child process, its log read as it runs.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace service_testing {

// A loopback TCP port free a moment ago; 0 when none could be had.
int freePort();
// A TCP connection to the port on loopback, its reads given up after 10 s; -1 when refused.
int connectTo(int port);

// Each runs with a state directory of its own (STATE_DIRECTORY, as systemd gives it), so that
// services of the tests never share a history unless their inventories name one.
class ServiceProcess {
public:
    // environment: NAME=VALUE entries beside the test's own.
    explicit ServiceProcess(const std::vector<std::string>& argv,
                            const std::vector<std::string>& environment = {});
    ~ServiceProcess();  // SIGKILL when still running
    ServiceProcess(const ServiceProcess&) = delete;
    ServiceProcess& operator=(const ServiceProcess&) = delete;

    // Waits for a log line holding text; true when it came in time.
    bool waitForLog(const std::string& text, std::chrono::milliseconds timeout);
    std::string log() const;
    // Its STATE_DIRECTORY, removed with it: history.sqlite is there unless the inventory says.
    const std::string& stateDirectory() const { return stateDirectory_; }
    // The port of the "listening on HOST:PORT" line; empty when it did not come.
    std::optional<int> port(std::chrono::milliseconds timeout = std::chrono::seconds(10));

    void signal(int number) const;
    // The exit status once it has ended; empty when still running after the time-out.
    std::optional<int> wait(std::chrono::milliseconds timeout);

private:
    std::string stateDirectory_;
    pid_t pid_ = -1;
    int errFd_ = -1;
    std::thread reader_;
    mutable std::mutex mutex_;
    std::condition_variable grown_;
    std::string log_;
    bool ended_ = false;
    std::optional<int> status_;
};

}  // namespace service_testing
