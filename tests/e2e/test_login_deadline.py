"""A client that never logs in holds a worker for at most the 30-second login
deadline, whatever it does: with a single worker, a client that floods REIN
lines and never reads the greetings they earn, and one that stays silent, are
both closed in time, and the next client is greeted. One slow case."""
import select
import socket
import time
import unittest

import harness

ONE_WORKER = {"listen-address": "127.0.0.1", "listen-port": "0", "concurrency": "1"}


def flood_rein(sock, max_lines, time_limit=20.0, stall=2.0):
    """Sends up to max_lines REIN lines on a non-blocking socket, stopping early
    when no byte can be sent for `stall` seconds. Returns True when it stalled."""
    chunk = b"REIN\r\n" * 1024
    limit = 6 * max_lines
    sent = 0
    started = time.monotonic()
    while sent < limit and time.monotonic() - started < time_limit:
        offset = sent % len(chunk)  # whole lines only, even after a partial send
        try:
            sent += sock.send(memoryview(chunk)[offset:offset + limit - sent])
        except BlockingIOError:
            _, writable, _ = select.select([], [sock], [], stall)
            if not writable:
                return True
    return False


def wait_for_greeting(server, deadline):
    """Connects again and again until the server greets (its only worker is free)
    or the monotonic deadline passes; returns the time of the greeting or None."""
    while time.monotonic() < deadline:
        try:
            with server.connect(timeout=5) as c:
                if c.read_line().startswith(b"220 TARVEX "):
                    return time.monotonic()
        except OSError:
            pass
        # A full pool closes the probe at once; look again shortly.
        select.select([], [], [], 0.5)
    return None


def closed_after_draining(sock, timeout=10.0):
    """True when the server has closed the connection: whatever it sent before is
    read and dropped, then the end (or a reset) comes within the timeout."""
    sock.setblocking(True)
    sock.settimeout(timeout)
    try:
        while sock.recv(65536):
            pass
    except ConnectionResetError:
        pass
    except socket.timeout:
        return False
    return True


class one_worker_and_clients_that_never_log_in(unittest.TestCase):
    @harness.slow_timer_case
    def test_rein_flood_and_silence_are_closed_by_the_deadline(self):
        with harness.server(config=ONE_WORKER) as flooded, harness.server(config=ONE_WORKER) as quiet:
            silent = quiet.connect(timeout=60)
            self.addCleanup(silent.close)
            silent_since = time.monotonic()

            flooder = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
            self.addCleanup(flooder.close)
            # Small buffers make the server block on its greetings after a few lines.
            flooder.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
            flooder.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 4096)
            flooder.settimeout(10)
            flooder.connect(("127.0.0.1", flooded.port))
            connected_at = time.monotonic()
            flooder.setblocking(False)
            # REIN before login buys no time: the one deadline runs from the
            # first greeting, however many lines follow.
            stalled = flood_rein(flooder, max_lines=1_000_000)
            if not harness.UNDER_WINE:
                # Natively the server answers faster than anyone reads, until it
                # blocks sending a greeting: the deadline must end that send too.
                # (Wine's socket buffers grow instead of blocking.)
                self.assertTrue(stalled, "the server never stopped reading")

            # No other client connects before the deadline: one that found the
            # only worker taken would end the stalled dialogue for its own.
            self.assertTrue(closed_after_draining(flooder, connected_at + 45 - time.monotonic()),
                            "the flooding client still holds the only worker after 45 s")
            greeted = wait_for_greeting(flooded, connected_at + 45)
            self.assertIsNotNone(greeted, "the flooding client was closed, the next one not greeted")

            self.assertTrue(silent.reply().startswith("220 TARVEX "))
            self.assertTrue(silent.is_closed_by_server(silent_since + 45 - time.monotonic()),
                            "the silent client still holds the only worker after 45 s")
            self.assertGreater(time.monotonic() - silent_since, 25)
            greeted = wait_for_greeting(quiet, silent_since + 45)
            self.assertIsNotNone(greeted, "the silent client was closed, the next one not greeted")


if __name__ == "__main__":
    unittest.main()
