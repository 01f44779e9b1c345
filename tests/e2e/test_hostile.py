"""Hostile input on a live server with a writable account: over-long lines, zero
bytes, invalid UTF-8, escapes of "/", "\\" and NUL, ".." in every form, drive
letters, device names, PORT with names, huge numbers and foreign addresses,
REST with 30 digits, odd OPTS values, HTTP and SMTP talk. Each line gets its
documented reply or ends only its own session (the next row runs on a new one);
the server keeps serving, and nothing outside the home is read, created or
changed: a canary file beside the home keeps its bytes, times and last access,
and the home's parent folder lists the same entries before and after."""
import os
import time
import unittest

import harness
from harness import enter_passive, exchange, finish_data, open_data

CLOSED = None  # the server ends the session without a reply
NOT_LOGGED_IN = "530 Not logged in"
UNKNOWN = "502 Unknown command"
INTERNAL = "503 Internal error"
MISSING = "550 No such file or directory"
DENIED = "550 Access denied"
NOT_ALLOWED = "553 File name not allowed"
PORT_OK = "200 PORT command successful"
NOOP_OK = "200 NOOP command successful"
COMPLETE = "226 Transfer complete"
UTF8_ON = "200 UTF8 set to on"
INSIDE = b"the canary inside the home"
OUTSIDE = b"the canary OUTSIDE the home"
OUTSIDE_NAMES = (b"outside", b"Config.ini", b"home", b"OUTSIDE")
PAST = 1000000000  # September 2001: a read since then would move the access time


def on(native, wine):
    """The documented outcome where the platforms differ: Windows refuses device
    names and any path whose UTF-16 form does not convert back to the same bytes."""
    return wine if harness.UNDER_WINE else native


def opening(name):
    return "150 Opening BINARY mode data connection for " + name


class data:
    """A transfer command run over a fresh PASV: the first reply, then, when it
    is a 150 line, the bytes the data connection carries (LISTING: any listing
    that names nothing outside the home) and the final reply."""

    def __init__(self, first, received=b"", final=COMPLETE, upload=None):
        self.first, self.received, self.final, self.upload = first, received, final, upload

    def __repr__(self):
        return "data(%r, %r, %r)" % (self.first, self.received, self.final)


LISTING = object()


# Before login: everything but USER, PASS, QUIT and REIN is refused.
BEFORE_LOGIN = [
    ("GET / HTTP/1.1", NOT_LOGGED_IN),
    ("Host: 127.0.0.1", NOT_LOGGED_IN),
    ("User-Agent: curl/8.0", NOT_LOGGED_IN),
    ("", NOT_LOGGED_IN),
    ("POST /upload HTTP/1.1", NOT_LOGGED_IN),
    ("CONNECT 127.0.0.1:25 HTTP/1.1", NOT_LOGGED_IN),
    ("HELO evil.example", NOT_LOGGED_IN),
    ("EHLO evil.example", NOT_LOGGED_IN),
    ("MAIL FROM:<a@b>", NOT_LOGGED_IN),
    ("RCPT TO:<root@localhost>", NOT_LOGGED_IN),
    ("DATA", NOT_LOGGED_IN),
    (".", NOT_LOGGED_IN),
    (b"\0", NOT_LOGGED_IN),
    (b"NOOP\0USER demo", NOT_LOGGED_IN),
    (b"\xff\xfe\xfd", NOT_LOGGED_IN),
    ("USER ../../etc/passwd", "331 Password required for ../../etc/passwd"),
    ("PASS secret", "530 Login incorrect"),
    # The reply text ends at a zero byte; the name keeps it, so it is no account.
    (b"USER demo\0", "331 Password required for demo"),
    ("PASS secret", "530 Login incorrect"),
    (b"USER \0demo", "331 Password required for "),
    ("PASS secret", "530 Login incorrect"),
    ("USER " + "a" * 1019, "331 Password required for " + "a" * 1019),  # 1024 bytes in all
    (b"USER " + b"a" * 1020, CLOSED),
    (b"x" * 70000, CLOSED),
    ("NOOP", NOT_LOGGED_IN),
]

# After login, in the default percent-escape mode.
LOGGED_IN = [
    ("GET / HTTP/1.1", UNKNOWN),
    ("Host: 127.0.0.1", UNKNOWN),
    ("Content-Length: 5", UNKNOWN),
    ("", CLOSED),  # the blank line that ends an HTTP request ends the session
    ("HELO evil.example", UNKNOWN),
    ("MAIL FROM:<a@b>", UNKNOWN),
    ("RCPT TO:<root@localhost>", UNKNOWN),
    ("DATA", UNKNOWN),
    ("Subject: hello", UNKNOWN),
    (".", UNKNOWN),
    # Zero bytes: the command word ends at the first one; arguments keep them.
    (b"NOOP\0", NOOP_OK),
    (b"PWD\0x", '257 "/" is the current directory'),
    (b"PWD\0 x", "501 Invalid number of arguments"),
    (b"NO\0OP", UNKNOWN),
    (b"CWD sub\0/../..", "250 CWD command successful"),
    ("PWD", '257 "/" is the current directory'),
    (b"\0NOOP", CLOSED),
    # Line lengths: 1024 bytes are a line, the 1025th byte ends the session.
    ("NOOP " + "x" * 1019, NOOP_OK),
    ("NOOP " + "x" * 1020, CLOSED),
    (b"NOOP " + b"\r" * 3000 + b"x", NOOP_OK),
    (b"RETR " + b"a" * (1 << 20), CLOSED),
    # Numbers.
    ("REST " + "9" * 30, INTERNAL),
    ("REST " + "0" * 29 + "7", "350 Restarting at 7. Send STOR or RETR to initiate transfer."),
    ("REST 1e30", INTERNAL),
    ("REST 0x1f", INTERNAL),
    ("REST +1", INTERNAL),
    ("REST 0", "350 Restarting at 0. Send STOR or RETR to initiate transfer."),
    ("TYPE " + "A" * 1000, "503 Only BINARY and ASCII types supported"),
    # OPTS with odd values.
    ("OPTS UTF8 YES", UNKNOWN),
    ("OPTS UTF8 ON ON", UNKNOWN),
    ("OPTS  UTF8 ON", UNKNOWN),
    (b"OPTS UTF8 \xff", UNKNOWN),
    ("OPTS UTF-8 ON", UNKNOWN),
    ("OPTS " + "x" * 1000, UNKNOWN),
    ("OPTS MLST " + "Type;" * 200, "200 MLST options set"),
    ("OPTS MLST ;;;;", "200 MLST options set"),
    ("OPTS MLST " + "\xff;" * 10, "200 MLST options set"),
    (b"OPTS UTF8 ON\0", UTF8_ON),  # option and value end at a zero byte, as the command word does
    ("OPTS utf8 off", "200 UTF8 set to off"),
    # ".." in every form: inside the home the walk stops at its root.
    ("RETR ../canary.txt", data(opening("../canary.txt"), INSIDE)),
    ("RETR ../../../../canary.txt", data(opening("../../../../canary.txt"), INSIDE)),
    ("RETR ..\\..\\canary.txt", data(opening("..\\..\\canary.txt"), INSIDE)),
    ("RETR sub/../../canary.txt", data(opening("sub/../../canary.txt"), INSIDE)),
    ("RETR %2e%2e%2fcanary.txt", data(opening("%2e%2e%2fcanary.txt"), INSIDE)),
    ("RETR %2E%2E%5C%2E%2E%5Ccanary.txt", data(opening("%2E%2E%5C%2E%2E%5Ccanary.txt"), INSIDE)),
    ("RETR .%2e/.%2e/canary.txt", data(opening(".%2e/.%2e/canary.txt"), INSIDE)),
    ("RETR %252e%252e%252fcanary.txt", data(MISSING)),  # decoded once only
    # Absolute paths are kept as written; their ".." reaches no file call.
    ("RETR /../canary.txt", data(INTERNAL)),
    ("RETR /sub/../../canary.txt", data(INTERNAL)),
    ("RETR \\..\\canary.txt", data(INTERNAL)),
    ("RETR ..%00/canary.txt", data(INTERNAL)),
    ("RETR %2e%2e%00%2fcanary.txt", data(INTERNAL)),
    ("RETR /..%09/canary.txt", data(INTERNAL)),
    # Over-long UTF-8 forms of "/" and ".": bytes of a name natively; Windows
    # would read them as separators and dots, so they never reach a file call there.
    ("RETR ..%e0%80%afcanary.txt", data(on(MISSING, INTERNAL))),
    ("RETR %e0%80%ae%e0%80%ae%e0%81%9ccanary.txt", data(on(MISSING, INTERNAL))),
    ("RETR ..%c0%afcanary.txt", data(on(MISSING, INTERNAL))),
    # Drive letters and device paths.
    ("RETR C:\\canary.txt", data(CLOSED)),
    ("RETR c:/windows/win.ini", data(CLOSED)),
    ("RETR Z:%5ccanary.txt", data(CLOSED)),
    ("RETR \\\\?\\C:\\canary.txt", data(on(MISSING, INTERNAL))),
    ("RETR \\\\.\\PhysicalDrive0", data(INTERNAL)),
    ("STOR C:\\evil.txt", data(INTERNAL, upload=b"evil")),
    ("STOR z:/evil.txt", data(INTERNAL, upload=b"evil")),
    ("LIST C:\\", data(CLOSED)),
    ("NLST z:/tmp", data(CLOSED)),
    ("MLSD Z:%5c", data(CLOSED)),
    # Reserved device names.
    ("RETR /CON", data(on(MISSING, INTERNAL))),
    ("RETR nul.txt", data(on(MISSING, INTERNAL))),
    ("RETR sub/COM1.log", data(on(MISSING, INTERNAL))),
    ("STOR /con", data(NOT_ALLOWED, upload=b"evil")),
    ("STOR sub/Aux", data(NOT_ALLOWED, upload=b"evil")),
    ("STOR lpt1.txt", data(opening("lpt1.txt"), b"", on(COMPLETE, DENIED), upload=b"evil")),
    ("APPE COM1", data(opening("COM1"), b"", on(MISSING, DENIED), upload=b"evil")),
    ("LIST /CON", data(opening("LIST"), b"")),
    ("MLSD aux", data(opening("MLSD"), b"")),
    # Uploads whose names climb: they land in the home.
    ("STOR ../../evil.txt", data(opening("../../evil.txt"), b"", upload=b"evil")),
    ("STOR ..%2f..%2fevil2.txt", data(opening("..%2f..%2fevil2.txt"), b"", upload=b"evil")),
    ("APPE ..\\..\\evil.txt", data(opening("..\\..\\evil.txt"), b"", upload=b"!")),
    ("STOR ..%e0%80%afevil3.txt", data(opening("..%e0%80%afevil3.txt"), b"", on(COMPLETE, DENIED), upload=b"evil")),
    ("STOR /../evil.txt", data(opening("/../evil.txt"), b"", CLOSED, upload=b"evil")),
    # Listings of climbing paths list the home's root or nothing.
    ("LIST ../../..", data(opening("LIST"), LISTING)),
    ("NLST ..%2f..%2f..", data(opening("NLST"), LISTING)),
    ("MLSD ..\\..", data(opening("MLSD"), LISTING)),
    ("LIST /..", data(opening("LIST"), b"")),
    ("NLST /../..", data(opening("NLST"), b"")),
    ("MLSD \\\\..\\..", data(opening("MLSD"), b"")),
    ("MLST ../..", ("250-Start of list for /", " Type=dir; /", "250 End of list")),
    ("MLST /..", "550 /.. cannot be listed"),
    ("SIZE ../canary.txt", "213 %d" % len(INSIDE)),
    # PORT with names, huge numbers and foreign addresses: accepted, then the
    # transfer that would use it ends the session, quickly and without a connection.
] + [row for argument in (
    "localhost,0,21", "evil.example,1,1", "localhost,localdomain,x,y,0,21", "evil,example,com,x,0,21",
    "8,8,8,8,0,53", "0,0,0,0,0,21", "255,255,255,255,0,21", "224,0,0,1,0,21", "10,0,0,1,0,22",
    "127,0,0,1,4294967295,4294967295", "127,0,0,1,4294967296,0", "127,0,0,1," + "9" * 30 + ",0",
    "1" + "0" * 30 + ",0,0,1,0,21", "127,0,0,1,-1,0", ",".join(["1"] * 300), ",,,,,",
) for row in (("PORT " + argument, PORT_OK), ("RETR f.txt", (opening("f.txt"), CLOSED)))]

# After login with OPTS UTF8 ON: path arguments must be valid UTF-8.
UTF8 = [
    (b"RETR \xc0\xaf..\xc0\xafcanary.txt", data(CLOSED)),
    (b"RETR \xff", data(CLOSED)),
    (b"LIST \xc1\xbf", data(CLOSED)),
    (b"NLST \xed\xa0", data(CLOSED)),
    (b"MLSD \x80..", data(CLOSED)),
    (b"STOR \xff.txt", data(INTERNAL, upload=b"evil")),
    (b"APPE \xc0\xae\xc0\xae/evil.txt", data(INTERNAL, upload=b"evil")),
    (b"CWD \xc0\xae\xc0\xae", INTERNAL),
    (b"MKD \xe0\x80\xae\xe0\x80\xae",
     on(b'257 "/\xe0\x80\xae\xe0\x80\xae" created.'.decode("utf-8", "replace"), CLOSED)),
    (b"RETR ..\xe0\x80\xafcanary.txt", data(on(MISSING, INTERNAL))),
    (b"NLST \xf8\x88\x80\x80\x80", data(opening("NLST"), b"")),
    ("RETR ../canary.txt", data(opening("../canary.txt"), INSIDE)),
    ("RETR %2e%2e%2fcanary.txt", data(MISSING)),  # escapes mean nothing in UTF-8
    ("RETR ..\u2215canary.txt", data(MISSING)),  # a division slash is no separator
    ("RETR ..\uff0fcanary.txt", data(MISSING)),  # nor is a full-width solidus
    ("OPTS UTF8 OFF", "200 UTF8 set to off"),
    (b"RETR \xc0\xaf..\xc0\xafcanary.txt", data(MISSING)),  # Latin-1 bytes without UTF-8
]


def outside_state(root, home):
    """Root and every entry under it except inside the home: path -> (bytes or
    None, mtime). A file made and removed again still leaves root's mtime moved."""
    found = {".": (None, os.stat(root).st_mtime_ns)}
    for folder, dirs, files in os.walk(root):
        dirs[:] = [d for d in dirs if os.path.join(folder, d) != home]
        for name in dirs + files:
            path = os.path.join(folder, name)
            content = None
            if name in files:
                with open(path, "rb") as f:
                    content = f.read()
            found[os.path.relpath(path, root)] = (content, os.stat(path).st_mtime_ns)
    return found


def records_access_times(folder):
    """True when reading a file in folder moves its access time back from the past."""
    probe = os.path.join(folder, "atime-probe")
    with open(probe, "wb") as f:
        f.write(b"probe")
    os.utime(probe, (PAST, time.time()))
    with open(probe, "rb") as f:
        f.read()
    moved = os.stat(probe).st_atime != PAST
    os.remove(probe)
    return moved


class hostile_input(harness.confined_home_case):
    scratch_tree = {"canary.txt": OUTSIDE, "outside/secret.txt": OUTSIDE, "home/sub": None,
                    "home/canary.txt": INSIDE, "home/f.txt": b"0123456789"}

    def greeted(self):
        c = self.server.connect()
        self.assertTrue(c.reply().startswith("220 TARVEX "))
        return c

    def logged_in(self, utf8=False):
        def start():
            c = self.server.log_in()
            if utf8:
                self.assertEqual(c.command("OPTS UTF8 ON"), UTF8_ON)
            return c
        return start

    def exchange_row(self, c, line, expected):
        """Runs one row; returns what came back in the shape of expected, and
        whether the session ended."""
        if not isinstance(expected, data):
            got = exchange(c, line, len(expected) if isinstance(expected, tuple) else 1)
            return got, got is None or (isinstance(got, tuple) and None in got)
        port = enter_passive(c)
        first = exchange(c, line)
        if first is None or not first.startswith("150 "):
            return data(first), first is None
        with open_data(port, timeout=15) as connection:
            try:
                received = finish_data(connection, expected.upload)
            except OSError:
                received = b""  # the server closed the data connection on an upload it refused
        final = c.reply_or_end()
        return data(first, received, final), final is None

    def check(self, expected, got):
        if isinstance(expected, data):
            self.assertEqual(got.first, expected.first)
            if not got.first or not got.first.startswith("150 "):
                return
            if expected.received is LISTING:
                self.assertTrue(got.received.endswith(b"\r\n"), got.received)
                self.assertIn(b"canary.txt", got.received)
                for name in OUTSIDE_NAMES:
                    self.assertNotIn(name, got.received)
            else:
                self.assertEqual(got.received, expected.received)
            self.assertEqual(got.final, expected.final)
        else:
            self.assertEqual(got, expected)

    def run_corpus(self, start_session, rows):
        c = start_session()
        try:
            for line, expected in rows:
                started = time.monotonic()
                got, ended = self.exchange_row(c, line, expected)
                with self.subTest(line=line[:80], length=len(line)):
                    self.check(expected, got)
                    self.assertLess(time.monotonic() - started, 10.0)
                if ended:
                    c.close()
                    c = start_session()
        finally:
            c.close()

    def test_corpus_keeps_to_the_home(self):
        canary = os.path.join(self.root, "canary.txt")
        bystander = self.server.log_in()
        self.addCleanup(bystander.close)
        listing = sorted(os.listdir(self.root))
        state = outside_state(self.root, self.home)
        # An access time in the past, older than the change time, moves on any
        # read where the file system records reads at all.
        atime_recorded = records_access_times(self.home)
        os.utime(canary, ns=(PAST * 10 ** 9, os.stat(canary).st_mtime_ns))
        before = os.stat(canary)

        self.run_corpus(self.greeted, BEFORE_LOGIN)
        self.run_corpus(self.logged_in(), LOGGED_IN)
        self.run_corpus(self.logged_in(utf8=True), UTF8)

        # The canary first: reading it for the comparison moves its access time.
        after = os.stat(canary)
        if atime_recorded:
            self.assertEqual(after.st_atime_ns, before.st_atime_ns, "the canary outside the home was read")
        self.assertEqual((after.st_mtime_ns, after.st_size), (before.st_mtime_ns, before.st_size))
        self.assertEqual(sorted(os.listdir(self.root)), listing)
        self.assertEqual(outside_state(self.root, self.home), state)
        # What the uploads wrote stayed in the home.
        with open(os.path.join(self.home, "evil.txt"), "rb") as f:
            self.assertEqual(f.read(), b"evil!")
        # The server still serves: the session opened first and a new one.
        self.assertEqual(bystander.command("NOOP"), NOOP_OK)
        with self.server.log_in() as c:
            self.assertEqual(c.command("SIZE f.txt"), "213 10")


if __name__ == "__main__":
    unittest.main()
