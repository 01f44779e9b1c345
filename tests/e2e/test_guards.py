"""Guards against losing data and against clients that try to trick the server:
concurrent appends, the account's home itself, replies that a path tries to
split, and PORT hosts written in other decimal forms."""
import os
import unittest

import harness

INTERNAL = "503 Internal error"
MISSING = "550 No such file or directory"
NOT_ALLOWED = "553 File name not allowed"


def wait_for_size(path, size, timeout=30.0):
    """Waits until the file has exactly size bytes; AssertionError when it does not in time."""
    if not harness.wait_until(lambda: os.path.getsize(path) == size, timeout):
        raise AssertionError("%s has %d bytes, not %d" % (path, os.path.getsize(path), size))


def reply_bytes(connection, line, timeout=15.0):
    """Sends line and then NOOP; returns every byte the server sent up to and
    including the NOOP's reply, or up to the end of the session."""
    connection.sock.settimeout(timeout)
    connection.send(line)
    try:
        connection.send("NOOP")
    except OSError:
        pass
    received = connection.buffer
    connection.buffer = b""
    end = b"200 NOOP command successful\r\n"
    while not received.endswith(end):
        try:
            chunk = connection.sock.recv(4096)
        except (ConnectionResetError, ConnectionAbortedError):
            break
        if not chunk:
            break
        received += chunk
    return received


class guarded_server(harness.shared_server_case):
    """One server per class; "demo" may write in an empty home."""


class concurrent_appends(guarded_server):
    def append_in_turns(self, closing_order):
        """Two sessions append to one 10-byte file: each opens its upload, sends
        half of its 100 bytes (A first, then B, each half landing before the next
        one starts), then they send their second halves and close in the given
        order. Nothing may be overwritten: 210 bytes in the order they arrived."""
        name = "log-%s.txt" % "".join(closing_order)
        path = os.path.join(self.server.home(), name)
        with open(path, "wb") as f:
            f.write(b"0123456789")
        data = {"A": b"a" * 50 + b"A" * 50, "B": b"b" * 50 + b"B" * 50}
        sessions, uploads = {}, {}
        try:
            size = 10
            for who in ("A", "B"):
                sessions[who] = self.server.log_in()
                first, uploads[who] = harness.start_transfer(sessions[who], "APPE " + name)
                self.assertTrue(first.startswith("150 "), first)
                uploads[who].sendall(data[who][:50])
                size += 50
                wait_for_size(path, size)
            expected = b"0123456789" + data["A"][:50] + data["B"][:50]
            for who in closing_order:
                self.assertEqual(harness.finish_data(uploads[who], data[who][50:]), b"")
                self.assertEqual(sessions[who].reply(), "226 Transfer complete")
                expected += data[who][50:]
            with open(path, "rb") as f:
                self.assertEqual(f.read(), expected)
        finally:
            for sock in list(uploads.values()) + list(sessions.values()):
                sock.close()

    def test_first_opened_closes_first(self):
        self.append_in_turns(("A", "B"))

    def test_last_opened_closes_first(self):
        self.append_in_turns(("B", "A"))

    def test_plain_and_restarted_uploads_still_write_in_place(self):
        path = os.path.join(self.server.home(), "in-place.bin")
        with open(path, "wb") as f:
            f.write(b"0123456789")
        with self.server.log_in() as c:
            self.assertEqual(c.command("REST 4"), "350 Restarting at 4. Send STOR or RETR to initiate transfer.")
            self.assertEqual(harness.transfer(c, "STOR in-place.bin", b"xy")[2], "226 Transfer complete")
            with open(path, "rb") as f:
                self.assertEqual(f.read(), b"0123xy")
            self.assertEqual(harness.transfer(c, "APPE in-place.bin", b"!")[2], "226 Transfer complete")
            self.assertEqual(harness.transfer(c, "STOR in-place.bin", b"new")[2], "226 Transfer complete")
            with open(path, "rb") as f:
                self.assertEqual(f.read(), b"new")


class hidden_files(guarded_server):
    def test_an_upload_replaces_a_hidden_file(self):
        # Wine gives dot-files the hidden attribute; Linux keeps them as any other file.
        with self.server.log_in() as c:
            for content in (b"first", b"second"):
                self.assertEqual(harness.transfer(c, "STOR .hidden", content)[2], "226 Transfer complete")
        self.assertEqual(harness.read_file(os.path.join(self.server.home(), ".hidden")), b"second")


class stream_names(guarded_server):
    def test_a_colon_in_a_component_names_nothing_on_windows(self):
        # On NTFS "f:s" is a stream of f, "f::$DATA" f itself and "/::$INDEX_ALLOCATION"
        # the folder itself. Wine has no streams but reaches a file of such a name,
        # as these rows did before the guard. On Linux they are plain names.
        home = self.server.home()
        harness.make_tree(home, {"secret.txt": b"main", "secret.txt:Zone.Identifier": b"ZoneId=3",
                                 "::$INDEX_ALLOCATION": None, ":$I30:$INDEX_ALLOCATION/inside.txt": b"in"})
        for name in ("secret.txt:Zone.Identifier", ":$I30:$INDEX_ALLOCATION/inside.txt"):
            os.utime(os.path.join(home, name), (1577880000, 1577880000))
        before = harness.read_tree(home)
        stream, folder, complete = "/secret.txt:Zone.Identifier", "/:$I30:$INDEX_ALLOCATION", "226 Transfer complete"
        opening, missing, bad_name = "150 Opening BINARY mode data connection for ", MISSING, (NOT_ALLOWED, None, None)
        listing = (b"-rw-rw-rw-   1 0        0               2 Jan 1  2020 inside.txt\r\n"
                   b"drwxrwxrwx   1 0        0            4096 Jan 01 00:00 .\r\n"
                   b"drwxrwxrwx   1 0        0            4096 Jan 01 00:00 ..\r\n")
        rows = [  # command, Linux, Wine (None: the session ends without a reply)
            ("CWD " + folder, "250 CWD command successful", None),
            ("LIST " + folder, (opening + "LIST", listing, complete), (opening + "LIST", b"", complete)),
            ("NLST " + folder, (opening + "NLST", b"inside.txt\r\n", complete), (opening + "NLST", b"", complete)),
            ("MLSD " + folder, (opening + "MLSD", b"Type=file;Size=2;Modify=20200101120000; inside.txt\r\n", complete),
             (opening + "MLSD", b"", complete)),
            ("MLST " + stream, "250-Start of list for " + stream, "550 %s cannot be listed" % stream),
            ("SIZE " + stream, "213 8", INTERNAL),
            ("MDTM " + stream, "213 20200101120000", None),
            ("RETR " + stream, (opening + stream, b"ZoneId=3", complete), (INTERNAL, None, None)),
            ("RETR /secret.txt::$DATA", (missing, None, None), (INTERNAL, None, None)),
            ("STOR /secret.txt::$DATA", bad_name, bad_name),
            ("STOR /x:y/z", (opening + "/x:y/z", b"", missing), (opening + "/x:y/z", b"", "550 Access denied")),
            ("APPE " + stream, bad_name, bad_name),
            ("MKD /new:dir", NOT_ALLOWED, NOT_ALLOWED),
            ("MKD /x:y/z", missing, None),
            ("RNFR " + stream, "350 File exists, ready for destination name", None),
            ("RNTO /x:y/z", missing, None),
            ("DELE " + stream, "250 Delete successful", INTERNAL),
            ("RMD /::$INDEX_ALLOCATION", "250 Remove directory successful", INTERNAL),
        ]
        for line, native, wine in rows:
            with self.server.log_in() as c, self.subTest(line=line):
                if line.startswith("RNTO"):
                    c.command("RNFR /secret.txt")
                upload = b"" if line[:4] in ("STOR", "APPE") else None
                got = harness.transfer(c, line, upload) if isinstance(native, tuple) else harness.exchange(c, line)
                self.assertEqual(got, wine if harness.UNDER_WINE else native)
        if harness.UNDER_WINE:
            self.assertEqual(harness.read_tree(home), before)


class the_home_itself(guarded_server):
    def test_no_command_removes_renames_or_moves_the_home(self):
        home = self.server.home()
        with open(os.path.join(self.server.root, "outside.txt"), "wb") as f:
            f.write(b"x")
        denied = "550 Access denied"
        rows = [
            # The home is empty, so a plain rmdir of it would succeed.
            ("RMD /", denied),
            ("RMD //", denied),
            ("RMD .", denied),
            ("RMD ..", denied),
            ("DELE /", denied),
            ("RNFR /", "350 Directory exists, ready for destination name"),
            ("RNTO /moved", denied),
            ("RNTO /moved", "503 RNTO without RNFR"),  # the failed rename took the source
            ("MKD /kept", '257 "/kept" created.'),
            ("RNFR /kept", "350 Directory exists, ready for destination name"),
            ("RNTO /", "553 File name not allowed"),
            ("RNTO //", "553 File name not allowed"),
            ("RMD /kept", "250 Remove directory successful"),
        ]
        harness.run_rows(self, self.server.log_in, rows)
        self.assertTrue(os.path.isdir(home))
        self.assertEqual(os.listdir(home), [])
        with self.server.log_in() as c:
            self.assertEqual(c.command("PWD"), '257 "/" is the current directory')


class one_line_replies(guarded_server):
    def test_line_breaks_in_paths_never_split_a_reply(self):
        os.makedirs(os.path.join(self.server.home(), "dir"), exist_ok=True)
        noop = b"200 NOOP command successful\r\n"
        rows = [
            # A path that would forge a 227 reply in a second line.
            (b"MLST %0d%0a227 Entering Passive Mode (10,0,0,9,1,2).",
             b"550 /%0D%0A227 Entering Passive Mode (10,0,0,9,1,2). cannot be listed\r\n" + noop),
            (b"MLST /dir/a%0ab", b"550 /dir/a%0Ab cannot be listed\r\n" + noop),
            (b"MLST %0d", b"550 /%0D cannot be listed\r\n" + noop),
            (b"MLST %0a%0d%0a%0d", b"550 /%0A%0D%0A%0D cannot be listed\r\n" + noop),
            (b"MLST /%0a200 NOOP command successful", b"550 /%0A200 NOOP command successful cannot be listed\r\n" + noop),
            # Paths that cannot name a file end the session without any reply.
            (b"MKD new%0a257 x", b""),
            (b"CWD dir%0d%0a250 x", b""),
            (b"RNFR a%0ab", b""),
            # The same bytes raw cannot arrive: a line feed ends the command line.
            (b"MLST dir\r", b"250-Start of list for /dir\r\n"),
        ]
        for line, expected in rows:
            with self.subTest(line=line), self.server.log_in() as c:
                got = reply_bytes(c, line)
                if line.startswith(b"MLST dir"):
                    self.assertTrue(got.startswith(expected), got)
                    self.assertTrue(got.endswith(b"250 End of list\r\n" + noop), got)
                    self.assertEqual(got.count(b"\r\n"), 4, got)
                else:
                    self.assertEqual(got, expected)
                    # Every line the server sent is one reply: no bare CR or LF.
                    self.assertEqual(got.count(b"\r"), got.count(b"\r\n"))
                    self.assertEqual(got.count(b"\n"), got.count(b"\r\n"))


class port_hosts(guarded_server):
    def transfer_to(self, host_pieces):
        """PORT naming this listener with the host written as host_pieces, then
        RETR of a small file: (PORT reply, RETR's first reply, bytes received,
        final reply or None when the session ended)."""
        with open(os.path.join(self.server.home(), "f.txt"), "wb") as f:
            f.write(b"hello")
        listener = harness.active_listener()
        try:
            port = listener.getsockname()[1]
            with self.server.log_in() as c:
                port_reply = c.command("PORT %s,%d,%d" % (",".join(host_pieces), port >> 8, port & 0xFF))
                first = c.command("RETR f.txt")
                # A five-byte file goes out whole before the server's final
                # reply, even before this side accepts the connection.
                final = c.reply_or_end()
            listener.setblocking(False)
            try:
                data = listener.accept()[0]
            except BlockingIOError:
                return port_reply, first, None, final  # the server never connected
            with data:
                data.settimeout(30.0)
                return port_reply, first, harness.finish_data(data), final
        finally:
            listener.close()

    def test_the_client_address_in_any_decimal_form_transfers(self):
        for pieces in (("127", "0", "0", "1"), ("127", "000", "0", "1"), ("0127", "00", "000", "001")):
            with self.subTest(pieces=pieces):
                self.assertEqual(self.transfer_to(pieces), (
                    "200 PORT command successful", "150 Opening BINARY mode data connection for f.txt",
                    b"hello", "226 Transfer complete"))

    def test_other_hosts_fail_as_a_refused_connect(self):
        for pieces in (("127", "0", "0", ""), ("127", "0", "0", "257"), ("127", "0", "0", "1a"),
                       ("127", "0", "0", "0x1"), ("localhost", "", "", ""), ("127", "0", "0", "2"),
                       ("127", "0", "0", "1000001")):
            with self.subTest(pieces=pieces):
                self.assertEqual(self.transfer_to(pieces), (
                    "200 PORT command successful", "150 Opening BINARY mode data connection for f.txt",
                    None, None))


if __name__ == "__main__":
    unittest.main()
