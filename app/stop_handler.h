// The orderly stop: Ctrl+C or closing the console on Windows, SIGINT or SIGTERM
// on POSIX, sets an event that ends the entry point's endless wait.
#pragma once

#include "lib/event.h"

namespace ZT {

// Routes the stop requests to `stop`, which must live until the process ends.
void install_stop_handler(event_object& stop);

// Tells the handler that the teardown has finished (a console close on Windows
// holds the process until then).
void stop_completed();

}  // namespace ZT
