#include "app/stop_handler.h"

#include <csignal>
#include <cstdint>
#include <unistd.h>

namespace ZT {

namespace {

int stop_fd = -1;

// Only async-signal-safe work here: one write sets the eventfd.
void on_stop_signal(int) {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(stop_fd, &one, sizeof one);
}

}  // namespace

void install_stop_handler(event_object& stop) {
    stop_fd = static_cast<int>(stop.handle());
    struct sigaction action {};
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

void stop_completed() {}

}  // namespace ZT
