"""Connections from a listed balancer begin with a header naming the real
client, whose address then stands for the peer: in the login limits, in the
passive data connection's peer check and in the PORT check. 127.0.0.1 is the
balancer here; other loopback addresses stand for direct clients."""
import socket
import struct
import time
import unittest

import harness

GREETING = "220 TARVEX "
INCORRECT = "530 Login incorrect"
LOGGED_IN = "230 User demo logged in"
SIGNATURE = b"\r\n\r\n\x00\r\nQUIT\n"


def text_header(client, port=40000):
    return ("PROXY TCP4 %s 127.0.0.1 %d 21\r\n" % (client, port)).encode()


def binary_header(client, port=40000):
    addresses = socket.inet_aton(client) + socket.inet_aton("127.0.0.1") + struct.pack("!HH", port, 21)
    return SIGNATURE + bytes([0x21, 0x11]) + struct.pack("!H", len(addresses)) + addresses


def balanced_config():
    return {"listen-address": "127.0.0.1", "listen-port": "0", "proxy-from": "127.0.0.1"}


class balancer(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server = harness.server(config=balanced_config())
        cls.server.__enter__()
        with open(cls.server.home() + "/f.txt", "wb") as f:
            f.write(b"hello")

    @classmethod
    def tearDownClass(cls):
        cls.server.__exit__(None, None, None)

    def through_balancer(self, header, source=None):
        """A control connection that sent header (and its greeting read)."""
        c = self.server.connect(40.0, source)
        self.addCleanup(c.close)
        c.send_raw(header)
        self.assertTrue(c.reply().startswith(GREETING))
        return c

    def logged_in(self, header):
        c = self.through_balancer(header)
        self.assertEqual(c.command("USER demo"), "331 Password required for demo")
        self.assertEqual(c.command("PASS secret"), LOGGED_IN)
        return c

    def test_headers_of_both_forms_and_none(self):
        rows = [
            ("text TCP4", text_header("203.0.113.7"), LOGGED_IN),
            ("binary TCP4", binary_header("203.0.113.7"), LOGGED_IN),
            ("text UNKNOWN", b"PROXY UNKNOWN\r\n", LOGGED_IN),
            ("binary LOCAL", SIGNATURE + b"\x20\x00\x00\x00", LOGGED_IN),
            ("no header", b"USER demo\r\n", None),
            ("TCP6", b"PROXY TCP6 ::1 ::1 1 2\r\n", None),
            ("bad port", b"PROXY TCP4 203.0.113.7 127.0.0.1 70000 21\r\n", None),
            ("binary IPv6", SIGNATURE + b"\x21\x21\x00\x24" + bytes(36), None),
        ]
        for name, header, expected in rows:
            with self.subTest(name=name), self.server.connect(10.0) as c:
                c.send_raw(header + b"USER demo\r\nPASS secret\r\n")
                if expected is None:
                    self.assertTrue(c.is_closed_by_server())  # no greeting, no reply
                    continue
                self.assertTrue(c.reply().startswith(GREETING))
                self.assertEqual((c.reply(), c.reply()), ("331 Password required for demo", expected))

    def test_failed_logins_count_for_the_named_client(self):
        # 127.0.0.1 itself would have failed four times here.
        for header, failures in ((text_header("203.0.113.7"), 3), (binary_header("203.0.113.8"), 1)):
            c = self.through_balancer(header)
            c.command("USER demo")
            for _ in range(failures):
                started = time.monotonic()
                self.assertEqual(c.command("PASS wrong"), INCORRECT)
                self.assertLess(time.monotonic() - started, 2.0)
        c = self.through_balancer(text_header("203.0.113.7"))
        c.command("USER demo")
        started = time.monotonic()
        self.assertEqual(c.command("PASS secret"), LOGGED_IN)  # clears 203.0.113.7's count
        self.assertLess(time.monotonic() - started, 2.0)
        c.command("QUIT")

    def test_passive_data_connection_must_name_the_control_client(self):
        c = self.logged_in(text_header("203.0.113.7"))
        port = harness.enter_passive(c)
        self.assertTrue(c.command("NLST").startswith("150 "))
        for header, accepted in ((text_header("203.0.113.9"), False), (b"", False),
                                 (binary_header("203.0.113.7", 40001), True)):
            with self.subTest(header=header), harness.open_data(port) as data:
                data.sendall(header)
                data.shutdown(socket.SHUT_WR)
                data.settimeout(30.0)
                try:
                    received = data.recv(4096)
                except ConnectionResetError:
                    received = b""
                self.assertEqual(received == b"", not accepted)
        self.assertEqual(c.reply(), "226 Transfer complete")

    def test_port_host_is_the_named_client(self):
        listener = harness.active_listener("127.0.0.5")
        self.addCleanup(listener.close)
        c = self.logged_in(text_header("127.0.0.5"))
        self.assertEqual(c.command("PORT " + harness.port_argument(listener)), "200 PORT command successful")
        self.assertTrue(c.command("NLST").startswith("150 "))
        data = listener.accept()[0]
        with data:
            data.settimeout(30.0)
            harness.finish_data(data)
        self.assertEqual(c.reply(), "226 Transfer complete")
        # The balancer's own address is not the client's now.
        c = self.logged_in(text_header("127.0.0.5"))
        self.assertEqual(c.command("PORT 127,0,0,1,%d,%d" % (listener.getsockname()[1] >> 8,
                                                             listener.getsockname()[1] & 0xFF)),
                         "200 PORT command successful")
        first, end = harness.exchange(c, "NLST", 2)
        self.assertEqual((first[:4], end), ("150 ", None))  # the connect fails, the session ends

    def test_direct_clients_send_no_header(self):
        with self.server.log_in(source="127.0.0.2") as c:
            self.assertEqual(c.command("NOOP"), "200 NOOP command successful")


class without_the_key(unittest.TestCase):
    def test_a_header_is_a_bad_command(self):
        with harness.server() as s, s.connect() as c:
            self.assertTrue(c.reply().startswith(GREETING))
            self.assertEqual(c.command(text_header("203.0.113.7").rstrip(b"\r\n")), "530 Not logged in")
            self.assertEqual(c.command("USER demo"), "331 Password required for demo")


if __name__ == "__main__":
    unittest.main()
