// The program behind the platform's entry point. Each platform has its own
// entry point (app/entry_point_win32.cpp, app/entry_point_posix.cpp) that hands
// the command line over as UTF-8.
#pragma once

namespace ZT {

// Runs the program on its UTF-8 arguments and returns the process exit code.
// argv must stay valid until the process ends: the settings keep it.
int tarvex_main(int argc, char** argv);

}  // namespace ZT
