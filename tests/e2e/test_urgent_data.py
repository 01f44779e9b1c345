"""Urgent data on the control connection, which clients send before ABOR."""
import socket

from harness import transfer
from test_transfers import COMPLETE, F25, NOOP_OK, data_server, opening


class urgent_data(data_server):
    def test_an_urgent_byte_ends_no_session(self):
        _, c = self.workspace()
        # The session reaches its wait first: Linux drops a byte met by a receive.
        self.assertFalse(c.is_closed_by_server(timeout=0.5))
        c.sock.send(b"\xf2", socket.MSG_OOB)  # the Telnet data mark
        self.assertFalse(c.is_closed_by_server(timeout=1.0))
        c.sock.settimeout(10.0)
        self.assertEqual(c.command("NOOP"), NOOP_OK)
        self.assertEqual(transfer(c, "RETR f25.bin"), (opening("f25.bin"), F25, COMPLETE))
