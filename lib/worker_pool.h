// A bounded set of threads that run queued tasks. Workers are created on demand,
// when a task is queued and every existing worker is busy, up to a maximum; they
// stay until abort_all(). A task that does not fit is refused at once rather
// than queued for later, so the maximum bounds the work in progress.
#pragma once

#include "lib/event.h"
#include "lib/thread.h"

#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace ZT {

class worker_pool {
public:
    using task = std::function<void()>;

    // `name`, when not empty, names every worker thread.
    worker_pool(int priority, std::size_t maximum, std::string name = {});
    // Calls abort_all().
    ~worker_pool();
    worker_pool(const worker_pool&) = delete;
    worker_pool& operator=(const worker_pool&) = delete;

    // Queues the task when there is room, that is when the busy workers and the
    // queued tasks stay within the maximum; false (and the task untouched by the
    // pool) when there is none. Creating a worker may throw bug_check; the
    // tasks of that call are then not queued.
    bool try_enqueue(task work);
    // Queues all the tasks or none of them.
    bool try_enqueue(std::vector<task> tasks);

    // Waits until there is room for one task, or a running task has ended, or
    // `seconds` have passed; false only when the time ran out. Room is not
    // kept for the caller: offer the task again. Throws user_abort when the
    // caller's abort event is set. Costs the workers nothing while nobody waits.
    bool wait_for_room(double seconds);

    // Sets every worker's abort event, joins them all, then destroys the queued
    // tasks without running them. Running tasks end at their next library wait.
    // The pool can be used again afterwards. Meant for teardown: nothing may
    // offer tasks while it runs.
    void abort_all();

    std::size_t worker_count() const;
    // Workers running a task now (queued tasks not yet taken are not counted).
    std::size_t busy_count() const;

private:
    void start_worker();  // lock held
    void worker_loop();

    const int priority_;
    std::vector<std::unique_ptr<thread_object>> workers_;
    event_object work_event_;  // manual reset; set while the queue is not empty
    event_object room_event_;  // manual reset; set when a task ends while someone waits for room
    mutable std::mutex lock_;  // guards everything below and workers_
    std::deque<task> queue_;
    // Workers that have taken a task and not yet finished it. Every other worker
    // takes a queued task sooner or later, so room is the maximum less the busy
    // workers and the queued tasks. (Counting the idle ones instead would let a
    // worker that wakes for a task another one took look briefly like no room.)
    std::size_t busy_ = 0;
    std::size_t room_waiters_ = 0;  // callers in wait_for_room
    const std::size_t maximum_;
    const std::string name_;
};

}  // namespace ZT
