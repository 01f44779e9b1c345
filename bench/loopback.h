// The machine's own limits, measured the way the server's figures are: a
// loopback TCP copy, a page-cached file sent over one, a cached read and the
// least a listing costs.
#pragma once

#include "options.h"

namespace ftpbench {

// Prints the figure of each limit that the options ask for; a failed one is
// reported on standard error and the others still run. Returns the exit code.
int run_loopback(const options& o);

}  // namespace ftpbench
