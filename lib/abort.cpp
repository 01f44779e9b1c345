#include "lib/abort.h"

#include "lib/errors.h"

#include <cmath>
#include <iterator>
#include <vector>

namespace ZT {

namespace {
thread_local event_object* current_event = nullptr;
}  // namespace

event_object* current_abort_event() { return current_event; }

event_object* set_current_abort_event(event_object* event) {
    event_object* previous = current_event;
    current_event = event;
    return previous;
}

void check_abort(const event_object& event) {
    if (event.is_set()) throw user_abort();
}

void check_abort() {
    if (current_event) check_abort(*current_event);
}

std::uint32_t seconds_to_ms(double seconds) {
    if (seconds < 0) return infinite_ms;
    const double ms = std::floor(seconds * 1000 + 0.5);
    return ms >= static_cast<double>(infinite_ms) ? infinite_ms - 1 : static_cast<std::uint32_t>(ms);
}

int wait_any(waitable* const* objects, std::size_t count, double seconds) {
    event_object* abort_event = current_event;
    const std::size_t a = abort_event ? 1 : 0;
    if (a + count == 0) {
        system_sleep(seconds_to_ms(seconds));
        return -1;
    }

    // The handles of a short list stay on the stack: a wait must not need
    // memory, or a server out of memory could not even pause and try again.
    os_handle stack_handles[8];
    std::vector<os_handle> heap_handles;
    os_handle* handles = stack_handles;
    if (a + count > std::size(stack_handles)) {
        heap_handles.resize(a + count);
        handles = heap_handles.data();
    }
    if (abort_event) handles[0] = abort_event->handle();
    for (std::size_t i = 0; i < count; ++i) handles[a + i] = objects[i]->handle();

    const std::uint64_t start = tick_count_ms();
    double remaining = seconds;
    for (;;) {
        const int result = wait_for_handles(handles, a + count, seconds_to_ms(remaining));
        if (result < 0) return -1;
        const auto index = static_cast<std::size_t>(result);
        if (index < a) {
            if (abort_event->confirm()) throw user_abort();
        } else if (objects[index - a]->confirm()) {
            return static_cast<int>(index - a);
        }
        if (seconds >= 0) {
            remaining = seconds - static_cast<double>(tick_count_ms() - start) * 0.001;
            if (remaining < 0) remaining = 0;
        }
    }
}

void wait_one(waitable& object) {
    waitable* list[] = {&object};
    wait_any(list, 1, -1);
}

void sleep(double seconds) { wait_any(nullptr, 0, seconds); }

std::unique_ptr<event_object> duplicate(const event_object& event) { return event.duplicate(); }

}  // namespace ZT
