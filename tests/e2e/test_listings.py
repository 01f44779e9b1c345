"""Listings over data connections: LIST, NLST, MLSD and MLST with their argument
forms and the exact bytes of each line, in passive and active mode; then the
same listings through ftplib and curl."""
import calendar
import ftplib
import os
import time
import unittest

import harness
from harness import transfer
from test_transfers import COMPLETE, DATED, F25, data_server, opening

YEAR = time.gmtime().tm_year
RECENT = calendar.timegm((YEAR, 3, 5, 9, 7, 0))  # this year: the LIST date shows the time
TREE = {"f25.bin": F25, "empty.txt": b"", "sub": None, "sub/inner.txt": b"abc", ".hidden": b"not listed"}

F25_LINE = "-rw-rw-rw-   1 0        0              25 Nov 17  2019 %s"
EMPTY_LINE = "-rw-rw-rw-   1 0        0               0 Mar 5 09:07 empty.txt"
SUB_LINE = "drwxrwxrwx   1 0        0            4096 Nov 17  2019 sub"
INNER_LINE = "-rw-rw-rw-   1 0        0               3 Nov 17  2019 inner.txt"
DOT_LINES = ["drwxrwxrwx   1 0        0            4096 Jan 01 00:00 .",
             "drwxrwxrwx   1 0        0            4096 Jan 01 00:00 .."]
LISTED = [F25_LINE % "f25.bin", EMPTY_LINE, SUB_LINE]
MLSD_LINES = ["Type=file;Size=25;Modify=20191117080910; f25.bin",
              "Type=file;Size=0;Modify=%d0305090700; empty.txt" % YEAR,
              "Type=dir; sub"]


def lines(data):
    """The CR LF lines of a listing; AssertionError when it does not end in CR LF."""
    if data and not data.endswith(b"\r\n"):
        raise AssertionError("listing does not end in CR LF: %r" % data[-40:])
    return data.decode("utf-8").split("\r\n")[:-1]


class listings(data_server):
    def listing_workspace(self):
        path, c = self.workspace(TREE)
        os.utime(os.path.join(path, "empty.txt"), (RECENT, RECENT))
        os.utime(os.path.join(path, "sub"), (DATED, DATED))
        return path, c

    def test_listing_forms(self):
        path, c = self.listing_workspace()
        folder = self.virtual
        # (command, lines in any order, lines that end the listing in this order)
        rows = [
            ("LIST", LISTED, DOT_LINES),
            ("LIST -l", LISTED, DOT_LINES),
            ("LIST -a", LISTED, DOT_LINES),
            ("LIST .", LISTED, DOT_LINES),
            ("LIST " + folder, LISTED, DOT_LINES),
            ("LIST sub", [INNER_LINE], DOT_LINES),
            ("LIST -la", [], []),  # a path named -la, which does not exist
            ("LIST missing", [], []),
            ("LIST f25.bin", [], [F25_LINE % "f25.bin"]),  # a file: its line, named as typed
            ("LIST ./f25.bin", [], [F25_LINE % "./f25.bin"]),
            ("LIST sub/../f25.bin", [], [F25_LINE % "sub/../f25.bin"]),
            ("NLST", ["f25.bin", "empty.txt", "sub"], []),
            ("NLST sub", ["inner.txt"], []),
            ("NLST f25.bin", [], ["f25.bin"]),
            ("NLST ./f25.bin", [], ["./f25.bin"]),
            ("NLST -l", [], []),  # options are not stripped here
            ("NLST missing", [], []),
            ("MLSD", MLSD_LINES, []),
            ("MLSD sub", [], ["Type=file;Size=3;Modify=20191117080910; inner.txt"]),
            ("MLSD missing", [], []),
            ("MLST f25.bin", [], ["Type=file;Size=25;Modify=20191117080910; %s/f25.bin" % folder]),
            ("MLST sub", [], ["Type=dir; %s/sub" % folder]),
        ]
        for mode, active in (("passive", False), ("active", True)):
            for command, unordered, tail in rows:
                with self.subTest(command=command, mode=mode):
                    first, data, final = transfer(c, command, active=active)
                    self.assertEqual((first, final), (opening(command.split(" ")[0]), COMPLETE))
                    got = lines(data)
                    self.assertEqual(sorted(got[:len(got) - len(tail)]), sorted(unordered))
                    self.assertEqual(got[len(got) - len(tail):], tail)

    def test_list_of_the_root_has_no_parent_line(self):
        self.listing_workspace()
        c = self.session()
        got = lines(transfer(c, "LIST")[1])
        self.assertEqual(got[-1], DOT_LINES[0])
        self.assertNotIn(DOT_LINES[1], got)
        folder = self.virtual[1:]
        self.assertTrue(any(line.startswith("drwxrwxrwx   1 0        0            4096 ")
                            and line.endswith(" " + folder) for line in got[:-1]), got)

    def test_mlst_on_the_control_connection_and_missing_entries(self):
        path, c = self.listing_workspace()
        folder = self.virtual.encode()
        c.send("MLST sub/inner.txt")
        self.assertEqual(c.read_line(), b"250-Start of list for %s/sub/inner.txt\r\n" % folder)
        self.assertEqual(c.read_line(), b" Type=file;Size=3;Modify=20191117080910; %s/sub/inner.txt\r\n" % folder)
        self.assertEqual(c.read_line(), b"250 End of list\r\n")
        # A missing entry is refused whether or not a data connection is prepared,
        # and a prepared one stays for the next transfer.
        refused = "550 %s/nope cannot be listed" % self.virtual
        self.assertEqual(c.command("MLST nope"), refused)
        port = harness.enter_passive(c)
        self.assertEqual(c.command("MLST nope"), refused)
        with harness.open_data(port) as data:
            self.assertEqual(c.command("RETR f25.bin"), opening("f25.bin"))
            self.assertEqual(harness.finish_data(data), F25)
        self.assertEqual(c.reply(), COMPLETE)

    def test_ftplib_listings(self):
        self.listing_workspace()
        for passive in (True, False):
            with self.subTest(passive=passive):
                ftp = ftplib.FTP()
                ftp.connect("127.0.0.1", self.server.port, timeout=30)
                self.addCleanup(ftp.close)
                ftp.login("demo", "secret")
                ftp.set_pasv(passive)
                ftp.cwd(self.virtual)
                self.assertEqual(sorted(ftp.nlst()), ["empty.txt", "f25.bin", "sub"])
                listed = []
                ftp.dir(listed.append)
                self.assertEqual(sorted(listed), sorted(LISTED + DOT_LINES))
                facts = dict(ftp.mlsd())
                self.assertEqual(facts, {
                    "f25.bin": {"type": "file", "size": "25", "modify": "20191117080910"},
                    "empty.txt": {"type": "file", "size": "0", "modify": "%d0305090700" % YEAR},
                    "sub": {"type": "dir"},
                })
                ftp.quit()

    def test_curl_listings(self):
        self.listing_workspace()
        url = "ftp://127.0.0.1:%d%s/" % (self.server.port, self.virtual)
        for options in ([], ["--ftp-port", "127.0.0.1"]):
            with self.subTest(options=options):
                code, out, err = harness.curl("-u", "demo:secret", *options, url)
                self.assertEqual(code, 0, err)
                # curl lists in type A and turns CR LF into the local line end.
                self.assertEqual(sorted(out.decode().splitlines()), sorted(LISTED + DOT_LINES))
                code, out, err = harness.curl("-u", "demo:secret", "-l", *options, url)
                self.assertEqual(code, 0, err)
                self.assertEqual(sorted(out.decode().splitlines()), ["empty.txt", "f25.bin", "sub"])


if __name__ == "__main__":
    unittest.main()
