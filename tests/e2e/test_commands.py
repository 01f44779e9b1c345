"""The commands of a logged-in session that need no data connection: dispatch
and argument counts, the session state (PWD, CWD, CDUP, TYPE, OPTS, REST, FEAT),
SIZE, MDTM and MLST on the control connection, and the file management commands
(DELE, RMD, MKD, RNFR, RNTO) with their name rule and rename state. Tables of
(command, expected reply) over raw sockets; ftplib as a real client."""
import calendar
import ftplib
import os
import subprocess
import unittest

import harness
from harness import make_tree, read_tree, run_rows

CLOSED = None  # the server ends the session without a reply
DATED = calendar.timegm((2024, 3, 5, 7, 8, 9))  # 5 March 2024 07:08:09 UTC
OK_CWD = "250 CWD command successful"
ARGS = "501 Invalid number of arguments"
UNKNOWN = "502 Unknown command"
INTERNAL = "503 Internal error"
MISSING = "550 No such file or directory"
DENIED = "550 Access denied"
NOT_ALLOWED = "553 File name not allowed"
FILE_READY = "350 File exists, ready for destination name"
DIR_READY = "350 Directory exists, ready for destination name"
RENAMED = "250 Rename successful"


def pwd(path):
    return '257 "%s" is the current directory' % path


def created(path):
    return '257 "%s" created.' % path


def mlst(path, facts):
    return ("250-Start of list for " + path, " " + facts + " " + path, "250 End of list")


class commands(harness.shared_server_case):
    """One server for the class. "demo" may write, "reader" may not; both share
    one home, in which every test works in its own folder."""

    @classmethod
    def prepare_server(cls, s):
        cls.root = s.home()
        return [harness.demo_account(cls.root), harness.reader_account(cls.root)]

    def folder(self, name, tree):
        base = os.path.join(self.root, name)
        make_tree(base, dict(tree, **{".": None}))
        return base

    def session(self, user="demo", prelude=()):
        """A start_session for run_rows: log in, then run the prelude rows."""
        def start():
            c = self.server.log_in(user, "secret" if user == "demo" else "read")
            for line, expected in prelude:
                self.assertEqual(harness.exchange(c, line), expected, line)
            return c
        return start

    def rows(self, rows, user="demo", cwd=None, prelude=()):
        if cwd is not None:
            prelude = (("CWD " + cwd, OK_CWD),) + tuple(prelude)
        run_rows(self, self.session(user, prelude), rows)

    def test_session_state_and_argument_counts(self):
        self.rows([
            ("PWD", pwd("/")),
            ("SYST", "215 UNIX Type: L8"),
            ("NOOP", "200 NOOP command successful"),
            ("NOOP with words", "200 NOOP command successful"),
            ("PASS anything", "230 User demo already logged in"),
            ("USER demo", UNKNOWN),
            ("FEAT", ("211-Features", " UTF8", " SIZE", " MLST Type*;Size*;Modify*;", " MDTM", " REST", "211 End")),
            ("TYPE", "200 Type set to I"),
            ("TYPE A", "200 Type set to A"),
            ("TYPE", "200 Type set to A"),
            ("TYPE i", "503 Only BINARY and ASCII types supported"),
            ("TYPE A N", "503 Only BINARY and ASCII types supported"),
            ("TYPE L 8", "503 Only BINARY and ASCII types supported"),
            ("TYPE", "200 Type set to A"),
            ("TYPE I", "200 Type set to I"),
            ("REST 100", "350 Restarting at 100. Send STOR or RETR to initiate transfer."),
            ("REST 0", "350 Restarting at 0. Send STOR or RETR to initiate transfer."),
            ("REST 18446744073709551615",
             "350 Restarting at 18446744073709551615. Send STOR or RETR to initiate transfer."),
            ("REST 18446744073709551616", INTERNAL),
            ("REST " + "1" * 21, INTERNAL),
            ("REST -1", INTERNAL),
            ("REST 1x", INTERNAL),
            ("REST  5", INTERNAL),
            ("OPTS utf8 on", "200 UTF8 set to on"),
            ("OPTS Utf8 oFF", "200 UTF8 set to off"),
            ("OPTS UTF8 ON", "200 UTF8 set to on"),
            ("OPTS UTF8", UNKNOWN),
            ("OPTS UTF8 ON ", UNKNOWN),
            ("OPTS", UNKNOWN),
            ("OPTS MODE Z", UNKNOWN),
            ("OPTS MLST type;", "200 MLST options set"),
        ] + [(verb, ARGS) for verb in ("CWD", "CWD ", "RETR", "STOR", "APPE", "PORT", "SIZE", "RNFR", "RNTO",
                                       "DELE", "RMD", "MKD", "REST", "CDUP x", "CDUP /", "PWD x")]
          + [(verb, UNKNOWN) for verb in ("ABOR", "XPWD", "EPSV", "HELP", "STAT", "SITE CHMOD 777 x")]
          + [("PWD ", pwd("/")), ("NOOP", "200 NOOP command successful")])

    def test_pwd_cwd_and_cdup(self):
        make_tree(self.root, {"pub/sub": None, "top.txt": b"t"})
        self.rows([
            ("CDUP", OK_CWD), ("PWD", pwd("/")),  # ".." never climbs above the root
            ("CWD pub", OK_CWD), ("PWD", pwd("/pub")),
            ("CWD ../etc/x", "550 No such directory"), ("PWD", pwd("/pub")),
            ("CWD /top.txt", "550 No such directory"), ("CWD ../top.txt", "550 No such directory"),
            ("CWD /missing", "550 No such directory"), ("PWD", pwd("/pub")),
            ("CWD sub", OK_CWD), ("PWD", pwd("/pub/sub")),
            ("CWD ../../..", OK_CWD), ("PWD", pwd("/")),
            ("CWD \\pub\\sub", OK_CWD), ("PWD", pwd("/pub/sub")),
            ("CDUP", OK_CWD), ("PWD", pwd("/pub")),
            ("CDUP", OK_CWD), ("CDUP", OK_CWD), ("PWD", pwd("/")),
            ("CWD pub/./sub/", OK_CWD), ("PWD", pwd("/pub/sub")),
            ("CWD .", OK_CWD), ("PWD", pwd("/pub/sub")),
            ("CWD C:\\pub", INTERNAL), ("CWD c:/", INTERNAL), ("PWD", pwd("/pub/sub")),
            ("CWD /", OK_CWD), ("PWD", pwd("/")),
        ])

    def test_size_and_mdtm(self):
        times = {"epoch.txt": (1970, 1, 1, 0, 0, 0), "leap.txt": (2000, 2, 29, 12, 0, 0),
                 "old.txt": (1969, 12, 31, 23, 59, 59), "dated.txt": (2024, 3, 5, 7, 8, 9)}
        base = self.folder("sz", dict({"empty.txt": b"", "dir": None}, **{name: b"12345" for name in times}))
        for name, fields in times.items():
            seconds = calendar.timegm(fields + (0, 0, 0))
            os.utime(os.path.join(base, name), (seconds, seconds))
        with open(os.path.join(base, "big.bin"), "wb") as f:
            f.truncate(5 * 2 ** 30 + 7)  # sparse: a size past 32 bits costs no disk
        self.rows([
            ("SIZE empty.txt", "213 0"),
            ("SIZE dated.txt", "213 5"),
            ("SIZE /sz/dated.txt", "213 5"),
            ("SIZE big.bin", "213 5368709127"),
            ("SIZE dir", "550 Not a file"),
            ("SIZE /", "550 Not a file"),
            ("SIZE missing.txt", MISSING),
            ("SIZE /x/../sz/dated.txt", INTERNAL),  # not mappable: neither found nor missing
            ("MDTM dated.txt", "213 20240305070809"),
            ("MDTM epoch.txt", "213 19700101000000"),
            ("MDTM leap.txt", "213 20000229120000"),
            ("MDTM old.txt", "213 19691231235959"),  # file times reach back to 1601
            ("MDTM", "550 Not a plain file"),  # no argument: the current directory
            ("MDTM dir", "550 Not a plain file"),
            ("MDTM missing.txt", MISSING),
        ], cwd="/sz")

    def test_mlst_on_the_control_connection(self):
        base = self.folder("ml", {"f.txt": b"12345", "d": None})
        os.utime(os.path.join(base, "f.txt"), (DATED, DATED))
        full = "Type=file;Size=5;Modify=20240305070809;"
        self.rows([
            ("MLST f.txt", mlst("/ml/f.txt", full)),
            ("MLST /ml/f.txt", mlst("/ml/f.txt", full)),
            ("MLST d", mlst("/ml/d", "Type=dir;")),
            ("MLST", mlst("/ml", "Type=dir;")),
            ("MLST missing.txt", "550 /ml/missing.txt cannot be listed"),
            ("MLST /x/../ml/f.txt", "550 /x/../ml/f.txt cannot be listed"),
            ("OPTS MLST type;", "200 MLST options set"),
            ("MLST f.txt", mlst("/ml/f.txt", "Type=file;")),
            ("OPTS MLST size;", "200 MLST options set"),  # adds to the facts chosen before
            ("MLST f.txt", mlst("/ml/f.txt", "Type=file;Size=5;")),
            ("OPTS MLST Modify;Bogus", "200 MLST options set"),
            ("MLST f.txt", mlst("/ml/f.txt", full)),
            ("MLST d", mlst("/ml/d", "Type=dir;")),
        ], cwd="/ml")
        # A fresh session: an empty fact list shows no fact at all.
        self.rows([
            ("OPTS MLST", "200 MLST options set"),
            ("MLST f.txt", ("250-Start of list for /ml/f.txt", "  /ml/f.txt", "250 End of list")),
            ("OPTS MLST size", "200 MLST options set"),
            ("MLST f.txt", mlst("/ml/f.txt", "Size=5;")),
            ("MLST d", ("250-Start of list for /ml/d", "  /ml/d", "250 End of list")),
        ], cwd="/ml")

    def test_file_commands_on_a_writable_account(self):
        base = self.folder("w", {"full/inner.txt": b"i", "del.txt": b"d", "file.txt": b"f", "empty": None})
        self.rows([
            ("MKD newdir", created("/w/newdir")),
            ("MKD newdir", created("/w/newdir")),  # already there: same reply
            ("MKD /w/newdir", created("/w/newdir")),
            ("MKD file.txt", created("/w/file.txt")),  # a file of that name is no error either
            ("MKD missing/child", MISSING),
            ("MKD full\\made", created("/w/full/made")),  # "\" separates like "/"
            ("RMD full", "550 Directory not empty"),
            ("RMD missing", MISSING),
            ("RMD newdir", "250 Remove directory successful"),
            ("RMD newdir", MISSING),
            ("DELE missing.txt", MISSING),
            ("DELE del.txt", "250 Delete successful"),
            ("DELE del.txt", MISSING),
            ("DELE empty", INTERNAL),  # a directory is no file
            ("RNFR empty", DIR_READY),
            ("RNTO emptied", RENAMED),
            ("RNFR missing", MISSING),
            ("RNFR file.txt", FILE_READY),
            ("RNTO /w/full/moved.txt", RENAMED),
        ], cwd="/w")
        self.assertEqual(read_tree(base), {"full": None, "full/inner.txt": b"i", "full/made": None,
                                           "full/moved.txt": b"f", "emptied": None})

    def test_file_commands_on_a_read_only_account(self):
        base = self.folder("r", {"file.txt": b"f", "dir": None})
        before = read_tree(base)
        self.rows([
            ("DELE file.txt", DENIED),
            ("DELE missing.txt", DENIED),
            ("RMD dir", DENIED),
            ("RMD missing", DENIED),
            ("MKD newdir", DENIED),
            ("MKD Aux", DENIED),  # permission comes before the name rule
            ("MKD C:\\x", INTERNAL),  # and the argument's resolution before both
            ("RNFR file.txt", DENIED),
            ("RNFR missing", DENIED),
            ("RNTO other.txt", "503 RNTO without RNFR"),
            ("SIZE file.txt", "213 1"),  # reading needs no permission
            ("CWD dir", OK_CWD),
        ], user="reader", cwd="/r")
        self.assertEqual(read_tree(base), before)

    def test_names_that_are_not_allowed(self):
        base = self.folder("n", {"f.txt": b"f", "d": None, "sub": None})
        refused = ["Aux", "nul", "CON", "lst", "eof", "InP", "out", "prn", "dot.", "space ", "/", "..",
                   "a|b", "a*b", "a?b", "a:b", "a<b", "a>b", 'a"b', "sub/Nul", "sub/end.", "sub\\con"]
        rows = [("MKD " + name, NOT_ALLOWED) for name in refused]
        rows += [
            ("MKD .", created("/n")),  # the current directory, which exists
            ("MKD console", created("/n/console")),
            ("MKD Auxiliary", created("/n/Auxiliary")),
            ("MKD sub/new", created("/n/sub/new")),
            ("MKD sub\\new2", created("/n/sub/new2")),
            ("MKD x\\y", MISSING),  # "\" is a separator, not a name byte: the parent x is missing
            ("RNFR f.txt", FILE_READY),
        ]
        rows += [("RNTO " + name, NOT_ALLOWED) for name in refused]  # each keeps the source pending
        rows += [("RNTO g.txt", RENAMED), ("RNFR d", DIR_READY), ("RNTO e.", NOT_ALLOWED), ("RNTO e", RENAMED)]
        self.rows(rows, cwd="/n")
        self.assertEqual(read_tree(base), {"g.txt": b"f", "e": None, "sub": None, "sub/new": None,
                                           "sub/new2": None, "console": None, "Auxiliary": None})

    def test_rename_state(self):
        base = self.folder("rn", {"x.txt": b"x", "a.txt": b"a", "c.txt": b"c", "b.txt": b"old b"})
        self.rows([
            ("RNTO z.txt", "503 RNTO without RNFR"),
            ("RNTO", ARGS),  # the argument count is checked first
            ("RNFR x.txt", FILE_READY),
            ("RNFR y.txt", MISSING),  # x.txt stays the source
            ("NOOP", "200 NOOP command successful"),
            ("RNTO z.txt", RENAMED),
            ("RNTO zz.txt", "503 RNTO without RNFR"),
            ("RNFR a.txt", FILE_READY),
            ("RNTO bad?.txt", NOT_ALLOWED),
            ("RNTO", ARGS),
            ("RNTO C:\\aa.txt", INTERNAL),
            ("RNTO aa.txt", RENAMED),
            ("RNFR c.txt", FILE_READY),
            ("RNTO missing/c.txt", MISSING),  # the rename was tried: nothing is pending any more
            ("RNTO cc.txt", "503 RNTO without RNFR"),
            ("RNFR z.txt", FILE_READY),
            ("RNTO b.txt", RENAMED),  # replaces the existing file
        ], cwd="/rn")
        self.assertEqual(read_tree(base), {"aa.txt": b"a", "b.txt": b"x", "c.txt": b"c"})

    def test_invalid_utf8_arguments(self):
        base = self.folder("u8", {"a.txt": b"a", "\u00ff": b"ff!"})
        utf8_on = (("CWD /u8", OK_CWD), ("OPTS UTF8 ON", "200 UTF8 set to on"))
        self.rows([
            (b"SIZE \xff", CLOSED),
            (b"MDTM \xff", CLOSED),
            (b"DELE \xff", CLOSED),
            (b"RMD \xff", CLOSED),
            (b"RNFR \xff", CLOSED),
            (b"MLST \xff", CLOSED),
            (b"SIZE caf\xc3", CLOSED),  # a cut sequence is as bad
            (b"CWD \xff", INTERNAL),
            (b"CDUP \xff", ARGS),
            (b"MKD \xff", INTERNAL),
            ("RNFR a.txt", FILE_READY),
            (b"RNTO \xff", INTERNAL),  # the source stays pending
            ("RNTO b.txt", RENAMED),
            ("PWD", pwd("/u8")),
            # Without UTF8 the byte is a Latin-1 character (U+00FF).
            ("OPTS UTF8 OFF", "200 UTF8 set to off"),
            (b"SIZE \xff", "213 3"),
            (b"MKD \xff\xfe", created("/u8/\u00ff\u00fe")),
        ], prelude=utf8_on)
        self.assertEqual(read_tree(base), {"b.txt": b"a", "\u00ff": b"ff!", "\u00ff\u00fe": None})

    def test_percent_escapes_for_non_ascii_names(self):
        base = self.folder("pct", {"caf\u00e9.txt": b"cafe", "100%.txt": b"100"})
        for name in ("caf\u00e9.txt", "100%.txt"):
            os.utime(os.path.join(base, name), (DATED, DATED))
        self.rows([
            ("SIZE caf%c3%a9.txt", "213 4"),
            ("SIZE caf%C3%A9.txt", "213 4"),
            (b"SIZE caf\xe9.txt", "213 4"),  # a raw byte is taken as Latin-1
            ("SIZE caf%c3%a9.txt%", MISSING),  # a last "%" stays a "%"
            ("SIZE 100%%.txt", "213 3"),
            ("MLST caf%c3%a9.txt", ("250-Start of list for /pct/caf\u00e9.txt",
                                    " Type=file;Size=4;Modify=20240305070809; /pct/caf%c3%a9.txt",
                                    "250 End of list")),
            ("MLST 100%%.txt", ("250-Start of list for /pct/100%.txt",
                                " Type=file;Size=3;Modify=20240305070809; /pct/100%%.txt", "250 End of list")),
            ("MKD d%c3%a9j%c3%a0", created("/pct/d\u00e9j\u00e0")),
            ("CWD d%c3%a9j%c3%a0", OK_CWD),
            ("PWD", pwd("/pct/d\u00e9j\u00e0")),  # reply paths stay UTF-8
            ("CDUP", OK_CWD),
            ("OPTS UTF8 ON", "200 UTF8 set to on"),
            ("SIZE caf\u00e9.txt", "213 4"),
            ("SIZE caf%c3%a9.txt", MISSING),  # escapes mean nothing in UTF-8
            ("MLST caf\u00e9.txt", mlst("/pct/caf\u00e9.txt", "Type=file;Size=4;Modify=20240305070809;")),
        ], cwd="/pct")
        self.assertTrue(os.path.isdir(os.path.join(base, "d\u00e9j\u00e0")))

    def test_hidden_files_still_answer(self):
        # A leading dot hides a file on POSIX; Wine reports such files hidden too.
        base = self.folder("hid", {".hidden": b"abc", "secret.txt": b"abcd"})
        names = [".hidden"]
        if harness.UNDER_WINE and set_hidden_attribute(os.path.join(base, "secret.txt")):
            names.append("secret.txt")
        rows = []
        for name in names:
            path = os.path.join(base, name)
            os.utime(path, (DATED, DATED))
            size = os.path.getsize(path)
            rows += [("SIZE " + name, "213 %d" % size), ("MDTM " + name, "213 20240305070809"),
                     ("MLST " + name, mlst("/hid/" + name, "Type=file;Size=%d;Modify=20240305070809;" % size))]
        self.rows(rows, cwd="/hid")

    def test_ftplib_client(self):
        base = self.folder("lib", {"f.txt": b"hello"})
        os.utime(os.path.join(base, "f.txt"), (DATED, DATED))
        ftp = ftplib.FTP()
        ftp.connect("127.0.0.1", self.server.port, timeout=10)
        try:
            ftp.login("demo", "secret")
            self.assertEqual(ftp.pwd(), "/")
            ftp.cwd("lib")
            self.assertEqual(ftp.pwd(), "/lib")
            self.assertEqual(ftp.size("f.txt"), 5)
            self.assertEqual(ftp.sendcmd("MDTM f.txt"), "213 20240305070809")
            self.assertEqual(ftp.mkd("made"), "/lib/made")
            ftp.rename("f.txt", "made/g.txt")
            self.assertEqual(ftp.size("made/g.txt"), 5)
            with self.assertRaises(ftplib.error_perm) as caught:
                ftp.rmd("made")
            self.assertEqual(str(caught.exception), "550 Directory not empty")
            ftp.delete("made/g.txt")
            ftp.rmd("made")
            with self.assertRaises(ftplib.error_perm) as caught:
                ftp.size("made/g.txt")
            self.assertEqual(str(caught.exception), MISSING)
            self.assertTrue(ftp.quit().startswith("221 "))
        finally:
            ftp.close()
        self.assertEqual(read_tree(base), {})


def set_hidden_attribute(path):
    """Sets the Windows hidden attribute through Wine's attrib; False when that fails."""
    native = harness.native_path(path)
    try:
        subprocess.run(["wine", "attrib", "+h", native], capture_output=True, timeout=60, check=True)
        shown = subprocess.run(["wine", "attrib", native], capture_output=True, timeout=60, check=True)
    except (OSError, subprocess.SubprocessError):
        return False
    attributes = shown.stdout[:shown.stdout.find(b":\\") - 1]  # the columns before "Z:\\..."
    return b"H" in attributes


if __name__ == "__main__":
    unittest.main()
