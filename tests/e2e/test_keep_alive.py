"""Keep-alive of control connections, read from the host's socket at the
server's end: natively the program's own, under Wine the one wineserver holds
(which shows what Wine makes of the Windows calls)."""
import ctypes
import os
import re
import shutil
import socket
import subprocess
import unittest

import harness


@unittest.skipUnless(shutil.which("ss") and hasattr(os, "pidfd_open"), "needs ss and pidfd_open")
class keep_alive(harness.shared_server_case):
    def server_end(self, client):
        """A copy of the server's end of the connection `client`, taken from the
        process that ss names as its holder (pidfd_getfd, 438 on x86-64)."""
        found = subprocess.run(["ss", "-Htnp", "state", "established", "sport", "=", ":%d" % client.getpeername()[1],
                                "dport", "=", ":%d" % client.getsockname()[1]], capture_output=True, text=True).stdout
        holder = re.search(r"pid=(\d+),fd=(\d+)", found)
        if not holder:
            self.skipTest("ss names no holder of the server's socket: %r" % found)
        pidfd = os.pidfd_open(int(holder.group(1)))
        copy = ctypes.CDLL(None, use_errno=True).syscall(438, pidfd, int(holder.group(2)), 0)
        os.close(pidfd)
        if copy < 0:
            self.skipTest("no copy of the server's socket: " + os.strerror(ctypes.get_errno()))
        return socket.socket(fileno=copy)

    def test_control_connection_probes_a_silent_peer_after_five_minutes(self):
        # Under Wine SIO_KEEPALIVE_VALS sets the idle time and the interval, a
        # tenth of 4 x 30 s as Windows sends 10 probes; the count stays the host's.
        with open("/proc/sys/net/ipv4/tcp_keepalive_probes", encoding="ascii") as f:
            expected = (1, 300, 12, int(f.read())) if harness.UNDER_WINE else (1, 300, 30, 4)
        options = ((socket.SOL_SOCKET, socket.SO_KEEPALIVE), (socket.IPPROTO_TCP, socket.TCP_KEEPIDLE),
                   (socket.IPPROTO_TCP, socket.TCP_KEEPINTVL), (socket.IPPROTO_TCP, socket.TCP_KEEPCNT))
        with self.server.log_in() as client, self.server_end(client.sock) as end:
            self.assertEqual(tuple(end.getsockopt(*option) for option in options), expected)


if __name__ == "__main__":
    unittest.main()
