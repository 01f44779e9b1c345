// Threads of the library. A thread_object owns one system thread and that
// thread's abort event: while the thread runs, the event is its current abort
// event, so stopping the thread is "set the event, join". Bodies never let an
// exception out; whatever they throw is discarded.
#pragma once

#include "lib/event.h"

#include <functional>
#include <string>
#include <thread>

namespace ZT {

// Thread priorities in the Windows scale. They are applied on Windows only.
constexpr int thread_priority_lowest = -2;
constexpr int thread_priority_normal = 0;

class thread_object {
public:
    explicit thread_object(std::string name = {});
    // Stops the thread (sets its abort event and joins it).
    virtual ~thread_object();
    thread_object(const thread_object&) = delete;
    thread_object& operator=(const thread_object&) = delete;

    // Stops the thread if it runs, resets the abort event and starts a new
    // thread that calls `function` once with the abort event installed.
    // A thread that cannot be created throws bug_check.
    void start(int priority, std::function<void()> function);

    // Sets the abort event, then joins.
    void stop();

    // Waits for the thread to end; does nothing when it is not running.
    void join();

    bool running() const { return running_; }
    const std::string& name() const { return name_; }
    void set_name(std::string name) { name_ = std::move(name); }
    event_object& abort_event() { return abort_event_; }

private:
    void procedure(std::function<void()>& function);

    std::string name_;
    std::thread thread_;
    bool running_ = false;
    event_object abort_event_;
};

// Starts a thread that is never joined: no abort event, no name. It calls
// `function` once and discards any exception. Creation failure throws bug_check.
void run_detached(int priority, std::function<void()> function);

// Names the calling thread for debuggers and system tools. Where the system has
// no way to name threads nothing happens; on POSIX the name is cut to 15 bytes
// (at a character boundary).
void set_thread_name(const std::string& name);

// The calling thread's name as the system reports it; empty when unknown.
std::string current_thread_name();

// Platform layer (thread_win32.cpp, thread_posix.cpp).
// Applies a priority to a started, not yet joined or detached thread.
void set_native_thread_priority(std::thread& thread, int priority);
// Before a join: lifts the thread's priority to the caller's when the caller's is higher.
void raise_priority_for_join(std::thread& thread);

}  // namespace ZT
