#include "service_process.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <regex>

#include "child_process.h"

namespace service_testing {

int freePort() { return cli_testing::FreePort(); }

int connectTo(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval limit{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return fd;
    ::close(fd);
    return -1;
}

ServiceProcess::ServiceProcess(const std::vector<std::string>& argv,
                               const std::vector<std::string>& environment) {
    int errPipe[2];
    if (::pipe2(errPipe, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
    std::string pattern =
        (std::filesystem::temp_directory_path() / "zolvaned-state-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) stateDirectory_ = pattern;
    std::vector<std::string> variables = environment;
    variables.push_back("STATE_DIRECTORY=" + stateDirectory_);
    pid_ = cli_testing::Spawn(argv, actions, variables);
    ::close(errPipe[1]);
    errFd_ = errPipe[0];
    reader_ = std::thread([this] {
        char chunk[4096];
        ssize_t n = 0;
        while ((n = ::read(errFd_, chunk, sizeof chunk)) != 0) {
            if (n < 0) {
                if (errno == EINTR) continue;
                break;
            }
            std::lock_guard lock(mutex_);
            log_.append(chunk, static_cast<std::size_t>(n));
            grown_.notify_all();
        }
        std::lock_guard lock(mutex_);
        ended_ = true;
        grown_.notify_all();
    });
}

ServiceProcess::~ServiceProcess() {
    if (pid_ > 0 && !status_) {
        ::kill(pid_, SIGKILL);
        wait(std::chrono::seconds(10));
    }
    if (reader_.joinable()) reader_.join();
    if (errFd_ >= 0) ::close(errFd_);
    std::error_code ignored;
    if (!stateDirectory_.empty()) std::filesystem::remove_all(stateDirectory_, ignored);
}

bool ServiceProcess::waitForLog(const std::string& text, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return grown_.wait_for(lock, timeout, [&] {
        return log_.find(text) != std::string::npos || ended_;
    }) && log_.find(text) != std::string::npos;
}

std::string ServiceProcess::log() const {
    std::lock_guard lock(mutex_);
    return log_;
}

std::optional<int> ServiceProcess::port(std::chrono::milliseconds timeout) {
    // The API's line, not a PJLink gateway's ("pjlink NAME: listening on ...").
    if (!waitForLog("<6>listening on ", timeout)) return {};
    std::smatch match;
    const std::string text = log();
    static const std::regex line("<6>listening on .*:([0-9]+)\n");
    if (!std::regex_search(text, match, line)) return {};
    return std::stoi(match[1]);
}

void ServiceProcess::signal(int number) const {
    if (pid_ > 0) ::kill(pid_, number);
}

std::optional<int> ServiceProcess::wait(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (pid_ > 0 && !status_) {
        int status = 0;
        const pid_t done = ::waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            break;
        }
        if (std::chrono::steady_clock::now() > deadline) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return status_;
}

}  // namespace service_testing
