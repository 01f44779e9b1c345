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
    // Room: threads that may still be created, plus idle workers, less the tasks
    // already waiting for them.
    const auto room = static_cast<long long>(maximum_) - static_cast<long long>(workers_.size()) +
                      static_cast<long long>(idle_) - static_cast<long long>(queue_.size());
    if (room < static_cast<long long>(tasks.size())) return false;

    std::size_t queued_here = 0;
    try {
        for (task& work : tasks) {
            queue_.push_back(std::move(work));
            ++queued_here;
            if (queue_.size() == 1) work_event_.set();
            if (idle_ < queue_.size() && workers_.size() < maximum_) start_worker();
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
    // Counted idle from creation on: it will take a task before it waits.
    ++idle_;
    try {
        worker->start(priority_, [this] { worker_loop(); });
    } catch (...) {
        --idle_;
        throw;
    }
    workers_.push_back(std::move(worker));
}

void worker_pool::worker_loop() {
    bool first_pass = true;
    for (;;) {
        if (!first_pass) {
            {
                std::lock_guard<std::mutex> guard(lock_);
                ++idle_;
            }
            // Ends the worker with user_abort once its abort event is set.
            wait_one(work_event_);
        }
        first_pass = false;
        // A worker that is being stopped takes no more tasks; this matters on the
        // first pass, which takes a task without waiting.
        check_abort();

        task work;
        {
            std::lock_guard<std::mutex> guard(lock_);
            --idle_;
            if (queue_.empty()) continue;  // another worker was quicker
            work = std::move(queue_.front());
            queue_.pop_front();
            if (queue_.empty()) work_event_.reset();
        }
        try {
            work();
        } catch (...) {
        }
        work = nullptr;
    }
}

void worker_pool::abort_all() {
    for (auto& worker : workers_) worker->abort_event().set();
    for (auto& worker : workers_) worker->join();

    std::deque<task> dropped;
    {
        std::lock_guard<std::mutex> guard(lock_);
        workers_.clear();
        idle_ = 0;
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

}  // namespace ZT
