// Sessions held open, logged in and idle, while the workloads run: what each
// session costs the server as their number grows, how its rates fare beside
// them, and how long its stop takes with them open.
#pragma once

#include "options.h"
#include "workloads.h"

#include <string>
#include <vector>

namespace ftpbench {

// Raises this process's soft limit of open descriptors to its hard limit, for
// the held sessions and the workloads beside them. Throws bench_error, naming
// the limit, when the hard limit is below what they need.
void raise_descriptor_limit(const options& o);

// Logs in o.held sessions from a few threads and prints the seconds that took
// (held_sessions_login_s) and, with a PID, the server's PSS and RSS per held
// session and its CPU while they idle; runs the chosen workloads with "held_" before each figure's name;
// then checks that a sample of the held sessions still answers NOOP. With
// o.stop_server it ends by sending the server SIGTERM while the sessions are
// still open and prints the seconds until the server exited (held_stop_s);
// otherwise every held session quits. Returns the exit code; a failed login
// is thrown as bench_error.
int run_held(const bench_context& b, const std::vector<std::string>& chosen);

}  // namespace ftpbench
