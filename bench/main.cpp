// ftpbench: measures an FTP server from the outside, over plain FTP (or with
// --tls explicit FTPS) with passive data connections, so that it measures this
// server or any other one.
// It prints one line per figure, "name value unit".
//
// Why C++ and not a scripting language: the client and the server share the
// same two cores, so every cycle the client spends is a cycle the server does
// not get, and a slow client would measure itself. Here a download is one
// recv() of up to 1 MiB at a time that the kernel discards without copying
// (MSG_TRUNC), an upload one send() of 1 MiB from a buffer filled once, and a
// session a blocked thread, so the client costs a fraction of what the server
// does. Each workload prints the client's own CPU time per unit of work too
// ("_client_cpu"), so that its share stays visible. It uses the standard
// library, POSIX sockets and, for --tls, OpenSSL (bench/tls/; a build without
// it takes bench/tls_absent.cpp and refuses --tls), nothing of the server's own code.
//
// idle_rss runs first, while the server has no idle worker threads yet, so
// that a session's thread is part of what a session costs.
//
//   ftpbench [options] HOST PORT USER PASSWORD     the server workloads
//   ftpbench --soak MINUTES [options] HOST ...     the workloads in a loop, the
//                                                  server's memory, descriptors
//                                                  and threads each minute
//   ftpbench --held N [options] HOST ...           the workloads beside N sessions
//                                                  held open, with the server's
//                                                  memory per held session
//   ftpbench loopback [options]                    the machine's own limits
//
// Run with --help for the options. Every loop is bounded in count and in time,
// every socket operation by a timeout. A failed reply ends that workload with
// a message on standard error; the other workloads still run, and the exit
// code is 1. Wrong arguments exit with 2.
#include "bench_text.h"
#include "held_sessions.h"
#include "loopback.h"
#include "options.h"
#include "output.h"
#include "soak.h"
#include "sockets.h"
#include "tls_layer.h"
#include "workloads.h"

#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

namespace ftpbench {

namespace {

int run_server_workloads(const options& o) {
    if (o.tls) {
        require_tls();
        figure_prefix = "tls_";
    }
    if (o.held) raise_descriptor_limit(o);
    bench_context b;
    b.o = o;
    b.server = resolve_ipv4(o.host, o.port);
    b.big_path = remote_path(o.folder, "ftpbench-big");
    b.small_path = remote_path(o.folder, "ftpbench-small");
    b.list_path = remote_path(o.folder, "ftpbench-list");
    b.upload_path = remote_path(o.folder, "ftpbench-upload");

    std::vector<std::string> chosen = o.workloads;
    if (chosen.empty() && o.soak_minutes) chosen.assign(std::begin(soak_workloads), std::end(soak_workloads));
    if (chosen.empty()) {
        for (const char* name : all_workloads)
            if (o.pid || std::string(name) != "idle_rss") chosen.emplace_back(name);
    }

    if (o.prepare) {
        try {
            prepare_files(b);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "ftpbench: prepare: %s\n", e.what());
            return 1;
        }
    }
    if (o.soak_minutes) return run_soak(b, chosen);
    if (o.held) return run_held(b, chosen);
    return run_round(b, chosen) ? 1 : 0;
}

}  // namespace

}  // namespace ftpbench

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    const bool loopback = !args.empty() && args[0] == "loopback";
    if (loopback) args.erase(args.begin());
    const ftpbench::options o = ftpbench::parse_options(args, loopback);
    try {
        return loopback ? ftpbench::run_loopback(o) : ftpbench::run_server_workloads(o);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ftpbench: %s\n", e.what());
        return 1;
    }
}
