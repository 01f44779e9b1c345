"""Urgent (out-of-band) data on the control connection, which clients send as
part of the Telnet interrupt before ABOR: the session goes on as before."""
import socket

from harness import transfer
from test_transfers import COMPLETE, F25, NOOP_OK, data_server, opening

TELNET_DATA_MARK = b"\xf2"


class urgent_data(data_server):
    def test_an_urgent_byte_ends_no_session(self):
        _, c = self.workspace()
        # The byte is to find the session waiting for a command: Linux (under
        # Wine too) drops one that the receive before that wait comes across.
        self.assertFalse(c.is_closed_by_server(timeout=0.5))
        c.sock.send(TELNET_DATA_MARK, socket.MSG_OOB)
        self.assertFalse(c.is_closed_by_server(timeout=1.0))
        c.sock.settimeout(10.0)
        self.assertEqual(c.command("NOOP"), NOOP_OK)
        self.assertEqual(transfer(c, "RETR f25.bin"), (opening("f25.bin"), F25, COMPLETE))
