"""The control connection of the real program: greeting, login, QUIT, REIN,
line limits, capacity and the orderly stop. Raw sockets where the exact bytes
matter, Python's ftplib as a real client."""
import ftplib
import os
import re
import resource
import socket
import time
import unittest

import harness

JOKES = ("how are you gentlemen", "all your base are belong to us")
FAREWELLS = ("Goodbye", "Sayonara", "AUF WIEDERSEHEN", "On the turning away...")


class login_server(harness.shared_server_case):
    """One server for the whole class; each test uses its own connections."""

    @classmethod
    def prepare_server(cls, s):
        home = harness.native_path(s.home())
        return [
            harness.demo_account(s.home()),
            {"name": "anonymous", "password": "", "home": home},
            {"name": "Demo", "password": "other", "home": home},
        ]

    def connect(self):
        c = self.server.connect()
        self.addCleanup(c.close)
        greeting = c.read_line()
        self.assertTrue(greeting.endswith(b"\r\n"), greeting)
        return c, greeting.decode().rstrip("\r\n")

    def logged_in(self):
        c, _ = self.connect()
        self.assertEqual(c.command("USER demo"), "331 Password required for demo")
        self.assertEqual(c.command("PASS secret"), "230 User demo logged in")
        return c

    def test_greeting_alternates_between_the_two_jokes(self):
        seen = []
        for _ in range(3):
            c, greeting = self.connect()
            self.assertRegex(greeting, r"^220 TARVEX ")
            seen.append(greeting[len("220 TARVEX "):])
            c.close()
        for joke in seen:
            self.assertIn(joke, JOKES)
        self.assertNotEqual(seen[0], seen[1])
        self.assertNotEqual(seen[1], seen[2])

    def test_user_and_pass_log_in(self):
        c = self.logged_in()
        self.assertEqual(c.command("XYZZY arg"), "502 Unknown command")

    def test_failed_logins(self):
        c, _ = self.connect()
        self.assertEqual(c.command("PASS secret"), "530 Login incorrect")  # PASS before USER
        self.assertEqual(c.command("USER nobody"), "331 Password required for nobody")
        self.assertEqual(c.command("PASS anything"), "530 Login incorrect")
        self.assertEqual(c.command("USER demo"), "331 Password required for demo")
        self.assertEqual(c.command("PASS SECRET"), "530 Login incorrect")  # case-sensitive
        # A login forgets those failures: the next three are answered at once too.
        self.assertEqual(c.command("PASS secret"), "230 User demo logged in")
        self.assertTrue(c.command("REIN").startswith("220 TARVEX "))
        self.assertEqual(c.command("USER demo"), "331 Password required for demo")
        self.assertEqual(c.command("PASS secret "), "530 Login incorrect")  # no trimming
        # Names are case-sensitive too: "Demo" is another account.
        self.assertEqual(c.command("USER Demo"), "331 Password required for Demo")
        self.assertEqual(c.command("PASS secret"), "530 Login incorrect")
        # The latest USER counts; the verb's case does not.
        self.assertEqual(c.command("user demo"), "331 Password required for demo")
        self.assertEqual(c.command("pass secret"), "230 User demo logged in")

    def test_account_without_password_logs_in_with_user_alone(self):
        c, _ = self.connect()
        self.assertEqual(c.command("USER anonymous"), "230 User anonymous logged in")

    def test_commands_before_login_are_refused(self):
        c, _ = self.connect()
        for line in ("NOOP", "SYST", "LIST", "", " USER demo"):
            self.assertEqual(c.command(line), "530 Not logged in", line)

    def test_quit_before_login_closes_without_reply(self):
        c, _ = self.connect()
        c.send("QUIT")
        self.assertTrue(c.is_closed_by_server())

    def test_quit_after_login_rotates_the_farewells(self):
        texts = []
        for _ in range(5):
            c = self.logged_in()
            reply = c.command("QUIT")
            self.assertTrue(reply.startswith("221 "), reply)
            texts.append(reply[4:])
            self.assertTrue(c.is_closed_by_server())
        start = FAREWELLS.index(texts[0])
        self.assertEqual(texts, [FAREWELLS[(start + i) % 4] for i in range(5)])

    def test_rein_gives_a_new_greeting_before_and_after_login(self):
        c, first = self.connect()
        c.send("REIN")
        second = c.reply()
        self.assertTrue(second.startswith("220 TARVEX "), second)
        self.assertNotEqual(first, second)
        self.assertEqual(c.command("USER demo"), "331 Password required for demo")
        self.assertEqual(c.command("PASS secret"), "230 User demo logged in")
        c.send("REIN")
        third = c.reply()
        self.assertTrue(third.startswith("220 TARVEX "), third)
        self.assertNotEqual(second, third)
        # After a start-over nobody is logged in.
        self.assertEqual(c.command("NOOP"), "530 Not logged in")

    def test_empty_line_after_login_ends_the_session(self):
        c = self.logged_in()
        c.send("")
        self.assertTrue(c.is_closed_by_server())

    def test_line_limit_is_1024_bytes(self):
        c = self.logged_in()
        # Carriage returns inside the line do not count towards the limit.
        self.assertEqual(c.command(b"X" * 1000 + b"\r" * 50 + b"X" * 24), "502 Unknown command")
        c.send(b"X" * 1025)
        self.assertTrue(c.is_closed_by_server())

    def test_stray_carriage_return_and_bare_line_feed(self):
        c, _ = self.connect()
        c.send_raw(b"US\rER anonymous\n")
        self.assertEqual(c.read_line(), b"230 User anonymous logged in\r\n")

    def test_ftplib_client(self):
        ftp = ftplib.FTP()
        ftp.connect("127.0.0.1", self.server.port, timeout=10)
        try:
            self.assertTrue(ftp.getwelcome().startswith("220 TARVEX "))
            self.assertTrue(ftp.login("demo", "secret").startswith("230 User demo logged in"))
            with self.assertRaises(ftplib.error_perm) as caught:
                ftp.sendcmd("FOO")
            self.assertEqual(str(caught.exception), "502 Unknown command")
            self.assertTrue(ftp.quit().startswith("221 "))
        finally:
            ftp.close()

    def test_wrong_password_with_ftplib(self):
        ftp = ftplib.FTP()
        ftp.connect("127.0.0.1", self.server.port, timeout=10)
        try:
            with self.assertRaises(ftplib.error_perm) as caught:
                ftp.login("demo", "wrong")
            self.assertEqual(str(caught.exception), "530 Login incorrect")
        finally:
            ftp.close()


class capacity_and_stop(unittest.TestCase):
    def test_concurrency_one_closes_a_second_connection_without_greeting(self):
        with harness.server(config={"listen-address": "127.0.0.1", "listen-port": "0", "concurrency": "1"}) as s:
            first = s.connect()
            self.addCleanup(first.close)
            self.assertTrue(first.reply().startswith("220 "))
            second = s.connect()
            self.addCleanup(second.close)
            self.assertTrue(second.is_closed_by_server(10))
            # The first session is still served.
            self.assertEqual(first.command("USER demo"), "331 Password required for demo")

    def test_concurrency_zero_closes_every_connection(self):
        with harness.server(config={"listen-address": "127.0.0.1", "listen-port": "0", "concurrency": "0"}) as s:
            c = s.connect()
            self.addCleanup(c.close)
            self.assertTrue(c.is_closed_by_server(10))

    def test_stop_request_with_sessions_open_exits_zero(self):
        s = harness.server()
        with s:
            clients = []
            for _ in range(3):
                c = s.connect()
                self.addCleanup(c.close)
                self.assertTrue(c.reply().startswith("220 "))
                clients.append(c)
            self.assertEqual(clients[0].command("USER demo"), "331 Password required for demo")
            self.assertEqual(clients[0].command("PASS secret"), "230 User demo logged in")
            started = time.monotonic()
            s.request_stop()
            code = s.wait_exit(10 if harness.UNDER_WINE else 5)
            self.assertEqual(code, 0, s.stderr.text())
            if not harness.UNDER_WINE:
                self.assertLess(time.monotonic() - started, 2.0)
            for c in clients:
                self.assertTrue(c.is_closed_by_server())

    def test_listen_port_keeps_only_its_low_16_bits(self):
        # 65536 + the port of a free socket: the server must land on that port.
        probe = socket.socket()
        probe.bind(("127.0.0.1", 0))
        port = probe.getsockname()[1]
        probe.close()
        with harness.server(config={"listen-address": "127.0.0.1", "listen-port": str(65536 + port)}) as s:
            self.assertEqual(s.port, port)

    def test_restart_on_the_same_port_right_after_a_stop(self):
        probe = socket.socket()
        probe.bind(("127.0.0.1", 0))
        port = str(probe.getsockname()[1])
        probe.close()
        config = {"listen-address": "127.0.0.1", "listen-port": port}
        with harness.server(config=config) as first:
            c = first.connect()
            self.addCleanup(c.close)
            self.assertTrue(c.reply().startswith("220 "))
            self.assertEqual(c.command("USER demo"), "331 Password required for demo")
            self.assertEqual(c.command("PASS secret"), "230 User demo logged in")
            c.command("QUIT")  # the server closes first: its side lingers in TIME_WAIT
            self.assertTrue(c.is_closed_by_server())
        with harness.server(config=config) as second:
            self.assertEqual(second.port, int(port))

    def test_port_in_use_is_a_critical_error(self):
        busy = socket.socket()
        busy.bind(("127.0.0.1", 0))
        busy.listen(1)
        self.addCleanup(busy.close)
        s = harness.server(config={"listen-address": "127.0.0.1", "listen-port": str(busy.getsockname()[1])},
                           wait_running=False)
        with s:
            code = s.wait_exit(harness.START_TIMEOUT)
            self.assertEqual(harness.exit_status(code), 255, (code, s.stdout.text(), s.stderr.text()))
            line = s.stderr.wait_for(lambda l: l.startswith("Critical error: "), 5)
            self.assertEqual(line, "Critical error: network error")


@unittest.skipIf(harness.UNDER_WINE, "descriptor limits are a POSIX matter")
class accept_survives_failures(unittest.TestCase):
    def test_server_accepts_again_after_running_out_of_descriptors(self):
        def low_limit():
            resource.setrlimit(resource.RLIMIT_NOFILE, (40, 40))

        s = harness.server(config={"listen-address": "127.0.0.1", "listen-port": "0"})
        s.preexec = low_limit
        with s:
            clients = []
            try:
                for _ in range(60):
                    clients.append(socket.create_connection(("127.0.0.1", s.port), timeout=5))
                time.sleep(0.5)  # let the server run into its limit
            finally:
                for c in clients:
                    c.close()
            # Once the sessions have ended the server must take new connections again.
            deadline = time.monotonic() + 15
            greeting = b""
            while time.monotonic() < deadline and not greeting.startswith(b"220 "):
                try:
                    with s.connect(timeout=3) as c:
                        greeting = c.read_line()
                except OSError:
                    time.sleep(0.2)
            self.assertTrue(greeting.startswith(b"220 TARVEX "), greeting)


class login_deadline(unittest.TestCase):
    @harness.slow_timer_case
    def test_silent_connection_is_closed_after_thirty_seconds(self):
        with harness.server() as s:
            c = s.connect(timeout=60)
            self.addCleanup(c.close)
            self.assertTrue(c.reply().startswith("220 "))
            started = time.monotonic()
            # Commands that are not a login do not renew the deadline.
            self.assertEqual(c.command("NOOP"), "530 Not logged in")
            self.assertTrue(c.is_closed_by_server(45))
            waited = time.monotonic() - started
            self.assertGreater(waited, 25)
            self.assertLess(waited, 40)


if __name__ == "__main__":
    unittest.main()
