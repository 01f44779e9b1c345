"""TCP keep-alive on control connections, read back from the host system's
socket at the server's end: natively the program's own, under Wine the one that
wineserver holds for it (which shows what Wine makes of the Windows calls)."""
import ctypes
import os
import re
import shutil
import socket
import subprocess
import unittest

import harness

PIDFD_GETFD = 438  # the system call's number on x86-64
OPTIONS = ((socket.SOL_SOCKET, socket.SO_KEEPALIVE), (socket.IPPROTO_TCP, socket.TCP_KEEPIDLE),
           (socket.IPPROTO_TCP, socket.TCP_KEEPINTVL), (socket.IPPROTO_TCP, socket.TCP_KEEPCNT))


def server_end_options(client):
    """The OPTIONS of the server's end of the connection `client`, from a copy of
    the descriptor of the process that ss names as its holder."""
    found = subprocess.run(["ss", "-Htnp", "state", "established", "sport", "=", ":%d" % client.getpeername()[1],
                            "dport", "=", ":%d" % client.getsockname()[1]], capture_output=True, text=True).stdout
    holder = re.search(r"pid=(\d+),fd=(\d+)", found)
    if not holder:
        raise unittest.SkipTest("ss names no process for the server's socket: %r" % found)
    pidfd = os.pidfd_open(int(holder.group(1)))
    try:
        libc = ctypes.CDLL(None, use_errno=True)
        copy = libc.syscall(PIDFD_GETFD, pidfd, int(holder.group(2)), 0)
        if copy < 0:
            raise unittest.SkipTest("no copy of the server's descriptor: " + os.strerror(ctypes.get_errno()))
    finally:
        os.close(pidfd)
    with socket.socket(fileno=copy) as end:
        return tuple(end.getsockopt(level, name) for level, name in OPTIONS)


@unittest.skipUnless(shutil.which("ss") and hasattr(os, "pidfd_open"), "needs ss and pidfd_open")
class keep_alive(harness.shared_server_case):
    def test_control_connections_probe_a_silent_peer_after_five_minutes(self):
        if harness.UNDER_WINE:
            # SIO_KEEPALIVE_VALS sets the idle time and the interval; the
            # interval is a tenth of 4 x 30 s, as Windows sends 10 probes. Wine
            # leaves the number of probes to the host.
            with open("/proc/sys/net/ipv4/tcp_keepalive_probes", encoding="ascii") as f:
                expected = (1, 300, 12, int(f.read()))
        else:
            expected = (1, 300, 30, 4)
        with self.server.connect() as greeted:
            self.assertTrue(greeted.reply().startswith("220 "))
            with self.server.log_in() as logged_in:
                for name, connection in (("greeted", greeted), ("logged in", logged_in)):
                    with self.subTest(name):
                        self.assertEqual(server_end_options(connection.sock), expected)


if __name__ == "__main__":
    unittest.main()
