"""Faults on the client's side and the machine's: a control connection reset in
the middle of a download and of an upload, a passive client that never reads
(the stalled send ends that session after 30 seconds: the one slow case), 500
connections reset before the server accepts them, a client that sends commands
and never reads the replies, a stop request during 32 running transfers, and a
disk that fills during an upload. After each one a session opened before it
goes on (NOOP and a transfer) and a new client logs in."""
import hashlib
import os
import shutil
import socket
import subprocess
import tempfile
import threading
import time
import unittest

import harness
from harness import enter_passive, finish_data, read_file, reset_close, start_transfer, transfer, wait_until
from test_transfers import COMPLETE, F25, NOOP_OK, data_server, opening

MID = 32 << 20  # sparse files: their size costs no disk
BIG = 1 << 30


def sparse(path, size):
    if not os.path.exists(path):
        with open(path, "wb") as f:
            f.truncate(size)


def log_in_with_small_buffer(server):
    """A logged-in control connection whose receive buffer is as small as the
    system allows, so that unread replies soon hold the server's sends."""
    sock = socket.socket()
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    sock.settimeout(10)
    sock.connect(("127.0.0.1", server.port))
    c = harness.control_connection(sock)
    replies = (c.reply(), c.command("USER demo"), c.command("PASS secret"))
    if not replies[0].startswith("220 TARVEX ") or replies[2] != "230 User demo logged in":
        raise AssertionError("login: %r" % (replies,))
    return c


class others_go_on:
    """assert_others_go_on for a test with self.server and self.bystander, which
    has f25.bin in its current directory."""

    def assert_others_go_on(self, cwd="/"):
        self.assertEqual(self.bystander.command("NOOP"), NOOP_OK)
        self.assertEqual(transfer(self.bystander, "RETR f25.bin"), (opening("f25.bin"), F25, COMPLETE))
        with self.server.log_in() as newcomer:
            self.assertEqual(newcomer.command("CWD " + cwd), "250 CWD command successful")
            self.assertEqual(transfer(newcomer, "RETR f25.bin", active=True), (opening("f25.bin"), F25, COMPLETE))


class client_faults(data_server, others_go_on):
    def setUp(self):
        path, self.bystander = self.workspace()
        sparse(os.path.join(path, "mid.bin"), MID)
        sparse(os.path.join(path, "big.bin"), BIG)

    def test_control_connection_reset_during_a_download(self):
        c = self.session(cwd=self.virtual)
        first, data = start_transfer(c, "RETR mid.bin")
        self.assertEqual(first, opening("mid.bin"))
        with data:
            received = len(data.recv(1 << 16))
            reset_close(c.sock)
            # The transfer does not read the control connection: it runs to its end.
            received += len(finish_data(data))
        self.assertEqual(received, MID)
        self.assert_others_go_on(self.virtual)

    def test_control_connection_reset_during_an_upload(self):
        c = self.session(cwd=self.virtual)
        payload = os.urandom(4 << 20)
        first, data = start_transfer(c, "STOR reset.bin")
        self.assertEqual(first, opening("reset.bin"))
        stored = os.path.join(self.server.home(), self.virtual[1:], "reset.bin")
        with data:
            data.sendall(payload[:1 << 20])
            # Once some data are in the file the upload is under way.
            self.assertTrue(wait_until(lambda: os.path.exists(stored) and os.path.getsize(stored) > 0))
            reset_close(c.sock)
            self.assertEqual(finish_data(data, payload[1 << 20:]), b"")
        self.assertEqual(read_file(stored), payload)
        self.assert_others_go_on(self.virtual)

    @harness.slow_timer_case
    def test_slow_passive_client_that_never_reads(self):
        c = self.session(cwd=self.virtual)
        port = enter_passive(c)
        data = socket.socket()
        self.addCleanup(data.close)
        data.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        data.settimeout(10)
        data.connect(("127.0.0.1", port))
        self.assertEqual(c.command("RETR big.bin"), opening("big.bin"))
        started = time.monotonic()
        # While that session's send is stalled, the others are served.
        self.assert_others_go_on(self.virtual)
        self.assertTrue(c.is_closed_by_server(60))
        waited = time.monotonic() - started
        self.assertGreater(waited, 25)
        self.assertLess(waited, 45)


class own_servers(unittest.TestCase, others_go_on):
    """Cases that need a server of their own: a small concurrency, a stop, a
    home on a file system of its own."""

    def start(self, concurrency=None, home=None):
        config = {"listen-address": "127.0.0.1", "listen-port": "0"}
        if concurrency is not None:
            config["concurrency"] = str(concurrency)
        users = None
        if home is not None:
            users = [harness.demo_account(home)]
        self.server = harness.server(config=config, users=users, homes=("demo",) if home is None else ())
        self.addCleanup(self.server.__exit__, None, None, None)
        self.home = home or self.server.home()
        with open(os.path.join(self.home, "f25.bin"), "wb") as f:
            f.write(F25)
        self.server.__enter__()
        self.bystander = self.server.log_in()
        self.addCleanup(self.bystander.close)

    def test_connections_reset_before_the_server_accepts(self):
        self.start(concurrency=8)
        for _ in range(500):
            reset_close(socket.create_connection(("127.0.0.1", self.server.port), timeout=10))
        self.assertEqual(self.bystander.command("NOOP"), NOOP_OK)
        self.assertEqual(transfer(self.bystander, "RETR f25.bin"), (opening("f25.bin"), F25, COMPLETE))
        # The server is not deaf afterwards, and every worker comes back: seven
        # sessions log in beside the bystander, and with all eight busy one more
        # connection is closed without a greeting.
        started = time.monotonic()
        sessions = harness.greeted_sessions(self.server, 7)
        try:
            self.assertEqual(len(sessions), 7, "%d sessions in %.1f s after the resets"
                             % (len(sessions), time.monotonic() - started))
            with self.server.connect() as extra:
                self.assertTrue(extra.is_closed_by_server(10))
        finally:
            for c in sessions:
                c.close()

    @harness.slow_timer_case
    def test_client_that_never_reads_its_replies(self):
        self.start(concurrency=2)
        flooder = log_in_with_small_buffer(self.server)
        self.addCleanup(flooder.close)
        sent, stalled = harness.flood(flooder.sock, b"NOOP\r\n", 64 << 20, time_limit=20.0, stall=2.0)
        print("\n  flood: %d NOOP lines sent, %s" % (sent // 6, "then the server stopped reading"
                                                       if stalled else "the server still reading"), end="")
        self.assertEqual(self.bystander.command("NOOP"), NOOP_OK)
        self.assertEqual(transfer(self.bystander, "RETR f25.bin"), (opening("f25.bin"), F25, COMPLETE))
        # Once the flooder is gone its worker is free again for a new client.
        reset_close(flooder.sock)
        sessions = harness.greeted_sessions(self.server, 1)
        self.assertEqual(len(sessions), 1, "the flooder's worker was not freed")
        sessions[0].close()

    def test_stop_request_during_32_transfers(self):
        self.start()
        sparse(os.path.join(self.home, "huge.bin"), 4 << 30)
        moved = [0] * 32
        stopping = threading.Event()
        sessions = [self.server.log_in() for _ in moved]
        for c in sessions:
            self.addCleanup(c.close)

        def run(n):
            upload = n % 2 == 1
            command = "STOR up%d.bin" % n if upload else "RETR huge.bin"
            first, data = start_transfer(sessions[n], command)
            if first != opening(command[5:]):
                return
            chunk = bytes(64 << 10)
            try:
                with data:
                    deadline = time.monotonic() + 60
                    while not stopping.is_set() and time.monotonic() < deadline:
                        moved[n] += data.send(chunk) if upload else len(data.recv(64 << 10))
                        time.sleep(0.002)  # paced, so that every transfer is still running at the stop
            except OSError:
                pass  # the stop closed the data connection

        threads = [threading.Thread(target=run, args=(n,), daemon=True) for n in range(32)]
        for t in threads:
            t.start()
        try:
            self.assertTrue(wait_until(lambda: min(moved) >= 1 << 20, 30), moved)
            started = time.monotonic()
            self.server.request_stop()
            code = self.server.wait_exit(30)
            took = time.monotonic() - started
        finally:
            stopping.set()
            for t in threads:
                t.join(30)
        print("\n  stop during 32 transfers: exit %s after %.2f s" % (code, took), end="")
        self.assertEqual(code, 0, self.server.stderr.text())
        self.assertLess(took, 5.0 if harness.UNDER_WINE else 2.0)
        for c in sessions + [self.bystander]:
            self.assertTrue(c.is_closed_by_server(5))
        self.assertEqual(harness.sanitizer_reports(self.server.stderr.text()), [])

    def test_disk_that_fills_during_an_upload(self):
        if os.geteuid() != 0:
            self.skipTest("mounting a small file system needs root")
        home = tempfile.mkdtemp(prefix="tarvex-full-")
        self.addCleanup(shutil.rmtree, home, True)
        done = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=2m", "tmpfs", home],
                              capture_output=True, timeout=30, stdin=subprocess.DEVNULL)
        if done.returncode != 0:
            self.skipTest("mount refused a tmpfs: %s" % done.stderr.decode(errors="replace").strip())
        self.addCleanup(subprocess.run, ["umount", "-l", home], capture_output=True, timeout=30)
        keep = os.urandom(256 << 10)
        with open(os.path.join(home, "keep.bin"), "wb") as f:
            f.write(keep)
        self.start(home=home)  # the server stops before the file system goes
        # Passive mode answers the file error; in active mode it ends the session.
        for mode, active, expected in (("passive", False, "550 Access denied"), ("active", True, None)):
            with self.subTest(mode=mode):
                c = self.server.log_in()
                self.addCleanup(c.close)
                first, data = start_transfer(c, "STOR full.bin", active)
                self.assertEqual(first, opening("full.bin"))
                with data:
                    try:
                        finish_data(data, os.urandom(4 << 20))
                    except OSError:
                        pass  # the server closed the data connection with bytes unread
                self.assertEqual(c.reply_or_end(), expected)
                self.assertEqual(read_file(os.path.join(home, "keep.bin")), keep)
                self.assertEqual(self.bystander.command("DELE full.bin"), "250 Delete successful")
                self.assert_others_go_on()
                # With the space back, uploads work again.
                with self.server.log_in() as newcomer:
                    small = os.urandom(100 << 10)
                    self.assertEqual(transfer(newcomer, "STOR small.bin", small, active),
                                     (opening("small.bin"), b"", COMPLETE))
                    self.assertEqual(hashlib.sha256(read_file(os.path.join(home, "small.bin"))).digest(),
                                     hashlib.sha256(small).digest())


if __name__ == "__main__":
    unittest.main()
