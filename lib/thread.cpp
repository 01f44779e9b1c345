#include "lib/thread.h"

#include "lib/abort.h"
#include "lib/errors.h"

#include <system_error>
#include <utility>

namespace ZT {

thread_object::thread_object(std::string name) : name_(std::move(name)) {}

thread_object::~thread_object() { stop(); }

void thread_object::start(int priority, std::function<void()> function) {
    stop();
    abort_event_.reset();
    try {
        thread_ = std::thread([this, body = std::move(function)]() mutable { procedure(body); });
    } catch (const std::system_error&) {
        throw bug_check();
    }
    set_native_thread_priority(thread_, priority);
    running_ = true;
}

void thread_object::procedure(std::function<void()>& function) {
    if (!name_.empty()) set_thread_name(name_);
    abort_event_scope scope(&abort_event_);
    try {
        function();
    } catch (...) {
    }
    // The function object (and whatever it owns) goes while the abort event is
    // still installed, so its destructors see the same abort state as the body.
    function = nullptr;
}

void thread_object::stop() {
    abort_event_.set();
    join();
}

void thread_object::join() {
    if (!running_) return;
    if (thread_.joinable()) {
        raise_priority_for_join(thread_);
        thread_.join();
    }
    running_ = false;
}

void run_detached(int priority, std::function<void()> function) {
    std::thread thread;
    try {
        thread = std::thread([body = std::move(function)]() mutable {
            try {
                body();
            } catch (...) {
            }
            body = nullptr;
        });
    } catch (const std::system_error&) {
        throw bug_check();
    }
    set_native_thread_priority(thread, priority);
    thread.detach();
}

}  // namespace ZT
