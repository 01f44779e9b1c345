// The standard handles at the start of the program's life: every closed or
// invalid one gets the null device, so that console lines go nowhere and never
// land on a handle that the program opens later (on POSIX the first sockets and
// events would take descriptors 0 to 2).
#pragma once

namespace ZT {

// Gives the null device to each of standard input, output and error that is
// closed or invalid; open ones are left as they are. Call it first in main,
// before anything opens a handle. Throws file_access_error (or one of its
// kinds) when the null device cannot be opened.
void attach_null_device_to_closed_standard_handles();

}  // namespace ZT
