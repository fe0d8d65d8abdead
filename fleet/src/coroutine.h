// The two coroutine shapes the queues are written in, so that a projector's polls and commands
// read as the plain sequences they are while every wait in them holds no thread.
//   Detached: started at once and left to run; it frees itself when it ends.
//   Async<T>: started when awaited; the awaiting coroutine resumes when it returns.
// Both resume only where whatever they wait for resumes them: on the event loop's thread.
#pragma once

#include <coroutine>
#include <exception>
#include <optional>
#include <utility>

namespace zolvane::fleet {

struct Detached {
    struct promise_type {
        Detached get_return_object() { return {}; }
        std::suspend_never initial_suspend() noexcept { return {}; }
        std::suspend_never final_suspend() noexcept { return {}; }
        void return_void() {}
        void unhandled_exception() { std::terminate(); }
    };
};

template <typename T>
class [[nodiscard]] Async {
public:
    struct promise_type {
        std::optional<T> value;
        std::exception_ptr error;
        std::coroutine_handle<> continuation;

        Async get_return_object() {
            return Async(std::coroutine_handle<promise_type>::from_promise(*this));
        }
        std::suspend_always initial_suspend() noexcept { return {}; }
        auto final_suspend() noexcept {
            struct Resume {
                bool await_ready() noexcept { return false; }
                std::coroutine_handle<> await_suspend(
                    std::coroutine_handle<promise_type> done) noexcept {
                    return done.promise().continuation;
                }
                void await_resume() noexcept {}
            };
            return Resume{};
        }
        template <typename U>
        void return_value(U&& result) {
            value.emplace(std::forward<U>(result));
        }
        void unhandled_exception() { error = std::current_exception(); }
    };

    Async(Async&& other) noexcept : handle_(std::exchange(other.handle_, {})) {}
    Async(const Async&) = delete;
    Async& operator=(const Async&) = delete;
    Async& operator=(Async&&) = delete;
    ~Async() {
        if (handle_) handle_.destroy();
    }

    bool await_ready() const noexcept { return false; }
    std::coroutine_handle<> await_suspend(std::coroutine_handle<> awaiting) noexcept {
        handle_.promise().continuation = awaiting;
        return handle_;
    }
    T await_resume() {
        if (handle_.promise().error) std::rethrow_exception(handle_.promise().error);
        return std::move(*handle_.promise().value);
    }

private:
    explicit Async(std::coroutine_handle<promise_type> handle) : handle_(handle) {}
    std::coroutine_handle<promise_type> handle_;
};

}  // namespace zolvane::fleet
