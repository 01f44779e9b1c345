#include "lib/event.h"

#include "lib/errors.h"

#include <windows.h>

namespace ZT {

namespace {
HANDLE as_handle(os_handle h) { return reinterpret_cast<HANDLE>(h); }
}  // namespace

event_object::event_object() : waitable(reinterpret_cast<os_handle>(CreateEventW(nullptr, TRUE, FALSE, nullptr))) {
    if (!handle_) throw bug_check();
    try {
        state_ = std::make_shared<shared_state>();
    } catch (...) {
        CloseHandle(as_handle(handle_));
        throw;
    }
}

event_object::~event_object() { CloseHandle(as_handle(handle_)); }

void event_object::signal() { SetEvent(as_handle(handle_)); }

void event_object::clear() { ResetEvent(as_handle(handle_)); }

std::unique_ptr<event_object> event_object::duplicate() const {
    HANDLE copy = nullptr;
    const HANDLE process = GetCurrentProcess();
    if (!DuplicateHandle(process, as_handle(handle_), process, &copy, 0, FALSE, DUPLICATE_SAME_ACCESS))
        throw bug_check();
    try {
        return std::unique_ptr<event_object>(new event_object(reinterpret_cast<os_handle>(copy), state_));
    } catch (...) {
        CloseHandle(copy);
        throw;
    }
}

int wait_for_handles(const os_handle* handles, std::size_t count, std::uint32_t milliseconds) {
    HANDLE list[MAXIMUM_WAIT_OBJECTS];
    if (count == 0 || count > MAXIMUM_WAIT_OBJECTS) throw bug_check();
    for (std::size_t i = 0; i < count; ++i) list[i] = as_handle(handles[i]);
    const DWORD result = WaitForMultipleObjects(static_cast<DWORD>(count), list, FALSE, milliseconds);
    // Timeout, failure and the abandoned range all count as "nothing woke".
    if (result >= WAIT_OBJECT_0 + count) return -1;
    return static_cast<int>(result - WAIT_OBJECT_0);
}

void system_sleep(std::uint32_t milliseconds) { Sleep(milliseconds); }

std::uint64_t tick_count_ms() { return GetTickCount64(); }

}  // namespace ZT
