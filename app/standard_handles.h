// The standard handles at both ends of the program's life. At the start, every
// closed or invalid one gets the null device, so that console lines go nowhere
// and never land on a handle that the program opens later (on POSIX the first
// sockets and events would take descriptors 0 to 2). After a start-up failure,
// a console that the program has to itself stays open until the user has read
// the "Critical error" line.
#pragma once

namespace ZT {

// Gives the null device to each of standard input, output and error that is
// closed or invalid; open ones are left as they are. Call it first in main,
// before anything opens a handle. Throws file_access_error (or one of its
// kinds) when the null device cannot be opened.
void attach_null_device_to_closed_standard_handles();

// Whether a start-up failure waits for Enter before the process ends: only when
// the program is the only process on its console (Explorer started it, and the
// window goes when the program ends) and its input is that console. Another
// process on the console (a command prompt, a script), no console at all (a
// scheduled task) or redirected input: nothing waits.
bool waits_for_enter_after_failure(unsigned long console_processes, bool input_is_console);

// Asks the system for the two facts above and, when they say so, writes "Press
// Enter to close this window." on standard error and reads standard input until
// a line ends, the input ends or it fails (the console closed). Never throws.
// On POSIX nothing waits: a terminal outlives the programs it runs.
void keep_console_open_after_failure();

}  // namespace ZT
