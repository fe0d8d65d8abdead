#include "child_process.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>

extern char** environ;

namespace cli_testing {

uint16_t FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                       ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0;
    ::close(fd);
    return bound ? ntohs(address.sin_port) : 0;
}

pid_t Spawn(const std::vector<std::string>& argv, posix_spawn_file_actions_t& actions,
            const std::vector<std::string>& extraEnvironment) {
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    std::vector<char*> arguments;
    arguments.reserve(argv.size() + 1);
    for (const std::string& argument : argv)
        arguments.push_back(const_cast<char*>(argument.c_str()));
    arguments.push_back(nullptr);
    std::vector<char*> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) environment.push_back(*entry);
    for (const std::string& entry : extraEnvironment) {
        environment.push_back(const_cast<char*>(entry.c_str()));
    }
    environment.push_back(nullptr);
    pid_t pid = -1;
    if (::posix_spawn(&pid, arguments[0], &actions, nullptr, arguments.data(),
                      environment.data()) != 0) {
        pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

Finished Run(const std::vector<std::string>& argv, std::chrono::seconds timeout, Output output) {
    Finished finished;
    int outPipe[2];
    int errPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0) return finished;
    if (::pipe2(errPipe, O_CLOEXEC) != 0) {
        ::close(outPipe[0]);
        ::close(outPipe[1]);
        return finished;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (output == Output::Read)
        posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
    if (output == Output::Full) {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/full", O_WRONLY, 0);
    }
    if (output == Output::Closed) posix_spawn_file_actions_addclose(&actions, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
    const pid_t pid = Spawn(argv, actions);
    ::close(outPipe[1]);
    ::close(errPipe[1]);

    const auto deadline = std::chrono::steady_clock::now() + timeout;
    bool killed = false;
    std::array<pollfd, 2> streams{{{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}}};
    std::string* buffers[] = {&finished.out, &finished.err};
    int open = pid > 0 ? 2 : 0;
    while (open > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            ::kill(pid, SIGKILL);
            killed = true;
            break;
        }
        if (::poll(streams.data(), streams.size(), static_cast<int>(left.count())) < 0) continue;
        for (std::size_t i = 0; i < streams.size(); ++i) {
            if (streams[i].fd < 0 || streams[i].revents == 0) continue;
            char chunk[4096];
            const ssize_t n = ::read(streams[i].fd, chunk, sizeof chunk);
            if (n > 0) {
                buffers[i]->append(chunk, static_cast<std::size_t>(n));
            } else {
                streams[i].fd = -1;
                --open;
            }
        }
    }
    ::close(outPipe[0]);
    ::close(errPipe[0]);
    if (pid <= 0) return finished;

    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!killed && WIFEXITED(status)) finished.status = WEXITSTATUS(status);
    return finished;
}

Background::Background(const std::vector<std::string>& argv) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    pid_ = Spawn(argv, actions);
}

Background::~Background() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
}

bool Background::running() const {
    int status = 0;
    return pid_ > 0 && ::waitpid(pid_, &status, WNOHANG) == 0;
}

}  // namespace cli_testing
