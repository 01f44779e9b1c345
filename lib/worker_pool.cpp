#include "lib/worker_pool.h"

#include "lib/abort.h"

#include <utility>

namespace ZT {

worker_pool::worker_pool(int priority, std::size_t maximum, std::string name)
    : priority_(priority), maximum_(maximum), name_(std::move(name)) {}

worker_pool::~worker_pool() { abort_all(); }

bool worker_pool::try_enqueue(task work) {
    std::vector<task> tasks;
    tasks.push_back(std::move(work));
    return try_enqueue(std::move(tasks));
}

bool worker_pool::try_enqueue(std::vector<task> tasks) {
    std::lock_guard<std::mutex> guard(lock_);
    // Refused only when the busy workers and the queued tasks leave no room.
    if (busy_ + queue_.size() + tasks.size() > maximum_) return false;

    std::size_t queued_here = 0;
    try {
        for (task& work : tasks) {
            queue_.push_back(std::move(work));
            ++queued_here;
            if (queue_.size() == 1) work_event_.set();
            // A worker that is not busy takes a queued task; one more is made
            // when they are fewer than the tasks waiting.
            if (workers_.size() - busy_ < queue_.size() && workers_.size() < maximum_) start_worker();
        }
    } catch (...) {
        // No thread for them: the whole batch is taken back (nobody can have
        // taken any of it while the lock is held), so no task waits in the queue
        // for a worker that does not exist.
        queue_.erase(queue_.end() - static_cast<std::ptrdiff_t>(queued_here), queue_.end());
        if (queue_.empty()) work_event_.reset();
        throw;
    }
    return true;
}

void worker_pool::start_worker() {
    auto worker = std::make_unique<thread_object>(name_);
    // Room for the registration is made before the thread exists: a failure
    // after the start would have to stop the new worker, and that join, under a
    // lock the worker may be waiting for, would never return.
    workers_.reserve(workers_.size() + 1);
    worker->start(priority_, [this] { worker_loop(); });
    workers_.push_back(std::move(worker));
}

void worker_pool::worker_loop() {
    for (;;) {
        // Set while the queue is not empty; ends the worker with user_abort once
        // its abort event is set, which wins over queued work.
        wait_one(work_event_);

        task work;
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (queue_.empty()) continue;  // another worker was quicker
            work = std::move(queue_.front());
            queue_.pop_front();
            if (queue_.empty()) work_event_.reset();
            ++busy_;
        }
        try {
            work();
        } catch (...) {
        }
        work = nullptr;
        std::lock_guard<std::mutex> guard(lock_);
        --busy_;
        if (room_waiters_ > 0) room_event_.set();
    }
}

bool worker_pool::wait_for_room(double seconds) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (busy_ + queue_.size() < maximum_) return true;
        // The first waiter clears what an earlier task end left set; from here
        // on every task end sets it, so none is missed between the check and
        // the wait.
        if (room_waiters_++ == 0) room_event_.reset();
    }
    struct leave {
        worker_pool& pool;
        ~leave() {
            std::lock_guard<std::mutex> guard(pool.lock_);
            --pool.room_waiters_;
        }
    } waiting{*this};
    waitable* objects[] = {&room_event_};
    return wait_any(objects, 1, seconds) == 0;
}

void worker_pool::abort_all() {
    for (auto& worker : workers_) worker->abort_event().set();
    for (auto& worker : workers_) worker->join();

    std::deque<task> dropped;
    {
        std::lock_guard<std::mutex> guard(lock_);
        workers_.clear();
        busy_ = 0;
        work_event_.reset();
        dropped.swap(queue_);
    }
    // Dropped tasks are destroyed outside the lock: their destructors may close
    // connections or do other slow work.
}

std::size_t worker_pool::worker_count() const {
    std::lock_guard<std::mutex> guard(lock_);
    return workers_.size();
}

std::size_t worker_pool::busy_count() const {
    std::lock_guard<std::mutex> guard(lock_);
    return busy_;
}

}  // namespace ZT
