// The console program: banner, configuration, server, address lines, then serve
// until stopped. A start-up failure is printed as "Critical error: " + message
// and the process exits with -1.
#include "app/console_line.h"
#include "app/server_settings.h"
#include "app/stop_handler.h"
#include "lib/abort.h"

#include <exception>

namespace {

int run(int argc, char** argv) {
    ZT::console_line("TARVEX FTP server v1.4");

    // Built before anything can fail, so that a stop request during start-up
    // is not lost.
    ZT::event_object stop;
    ZT::install_stop_handler(stop);

    ZT::server_settings settings(argc, argv);

    ZT::wait_one(stop);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    int code;
    try {
        code = run(argc, argv);
    } catch (const std::exception& error) {
        ZT::error_line line;
        line << "Critical error: " << error.what();
        code = -1;
    }
    ZT::stop_completed();
    return code;
}
