// The console program: banner, configuration, server, address lines, then serve
// until stopped. A start-up failure is printed as "Critical error: " + message
// and the process exits with -1; started from Explorer, the window waits for
// Enter first.
#include "app/console_line.h"
#include "app/entry_point.h"
#include "app/server_urls.h"
#include "app/standard_handles.h"
#include "app/stop_handler.h"
#include "config/server_settings.h"
#include "ftp/configured_server.h"
#include "lib/abort.h"
#include "lib/network_session.h"

#include <exception>
#include <string>
#include <vector>

namespace {

// The start-up objects live in this order and go in the reverse one.
int run(int argc, char** argv, ZT::event_object& stop) {
    ZT::console_line("TARVEX FTP server v1.4");
    ZT::server_settings settings(argc, argv);
    ZT::network_session networking;
    ZT::configured_server server(settings);
    ZT::console_line("Running");
    {
        const std::vector<std::string> urls = ZT::list_server_urls(server);
        for (const std::string& url : urls) ZT::console_line{url};
    }
    // Serve until the process is asked to stop.
    ZT::wait_one(stop);
    return 0;
}

}  // namespace

int ZT::tarvex_main(int argc, char** argv) {
    // Before the first handle of the program is opened, so that none of them can
    // become a standard handle (started without a console or with them closed).
    attach_null_device_to_closed_standard_handles();

    // Installed before anything can fail, so that a stop during start-up is not lost.
    event_object stop;
    install_stop_handler(stop);

    int code;
    try {
        code = run(argc, argv, stop);
    } catch (const std::exception& error) {
        error_line line;
        line << "Critical error: " << error.what();
        code = -1;
    }
    // The teardown is over: closing the console while it waits for Enter ends
    // the process at once.
    stop_completed();
    if (code != 0) keep_console_open_after_failure();
    return code;
}
