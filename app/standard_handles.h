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

// What the system says about the console when a start has failed.
struct console_facts {
    unsigned long processes = 0;   // processes attached to the program's console; 0: none
    bool input_is_console = false; // standard input is that console
    bool has_window = false;       // the console has a window (none: CREATE_NO_WINDOW)
    bool started_hidden = false;   // the start asked for a hidden window (SW_HIDE)
    bool display_visible = false;  // the window station has a display anyone sees
};

// Whether a start-up failure waits for Enter before the process ends: only when
// the program is the only process on its console (Explorer started it, and the
// window goes when the program ends), its input is that console, and someone
// can see the console: it has a window, the start did not hide it, and the
// window station has a display (a task that runs whether or not a user is
// logged on has none). Another process on the console (a command prompt, a
// script), no console at all (a service), redirected input or a console nobody
// sees: nothing waits.
bool waits_for_enter_after_failure(const console_facts& console);

// Asks the system for the facts above and, when they say so, writes "Press
// Enter to close this window." on standard error and reads standard input until
// a line ends, the input ends or it fails (the console closed). Never throws.
// On POSIX nothing waits: a terminal outlives the programs it runs.
void keep_console_open_after_failure();

}  // namespace ZT
