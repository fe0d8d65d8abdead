// The network front end: one listening socket, one thread per client connection so that a
// delayed or split reply holds up only its own client.
#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <thread>

#include "frame_handler.h"
#include "stop_signal.h"
#include "unique_fd.h"

namespace zolvane::emulator {

class TcpServer {
  public:
    TcpServer(FrameHandler handler, const StopSignal& stop);
    ~TcpServer();
    TcpServer(const TcpServer&) = delete;
    TcpServer& operator=(const TcpServer&) = delete;

    bool listen(const std::string& host, std::uint16_t port, std::string& error);
    std::uint16_t port() const { return port_; }
    void start();
    // Call after raising the stop signal.
    void join();

  private:
    struct Connection {
        std::thread thread;
        std::atomic<bool> finished{false};
    };

    void acceptLoop();
    void serve(UniqueFd socket);
    void joinFinishedConnections();

    FrameHandler handler_;
    const StopSignal& stop_;
    UniqueFd listener_;
    std::uint16_t port_ = 0;
    std::thread acceptThread_;
    // Touched only by the accept thread, and by join() once that thread has ended.
    std::list<std::unique_ptr<Connection>> connections_;
};

}  // namespace zolvane::emulator
