"""Client paths never reach outside the account's home. Every command that takes
a path gets arguments built to climb out of the home (dot-dot in every spelling,
backslashes, drive letters, percent escapes, zero and control bytes, the host's
own paths); each must end in a reply that stays inside the home or in the end of
that session, and afterwards nothing beside the home has changed."""
import os
import time
import unittest

import harness

CLOSED = None
IN = "in"  # resolves to a path inside the home: an ordinary reply
DRIVE = "drive"  # a drive letter that the account may not use
EITHER = "either"  # inside the home, but the platform may refuse the name: a reply or the end
SAME = object()
INTERNAL = "503 Internal error"


def bad(resolved):
    """A path that resolves to a component no file system call may see."""
    return ("bad", resolved)


# The reply, or the end of the session, that each command gives for each kind of
# argument; for paths inside the home, the pattern of every reply it may give.
OUTCOMES = {
    "CWD": {"bad": CLOSED, DRIVE: INTERNAL, IN: r"250 CWD command successful|550 No such directory"},
    "SIZE": {"bad": INTERNAL, DRIVE: CLOSED, IN: r"213 \d+|550 Not a file|550 No such file or directory"},
    "MDTM": {"bad": CLOSED, DRIVE: CLOSED, IN: r"213 \d{14}|550 Not a plain file|550 No such file or directory"},
    "MLST": {"bad": "550 %s cannot be listed", DRIVE: CLOSED, IN: r"250-Start of list for /.*|550 /.* cannot be listed"},
    "RNFR": {"bad": CLOSED, DRIVE: CLOSED,
             IN: r"350 (File|Directory) exists, ready for destination name|550 No such file or directory"},
    "RNTO": {"bad": CLOSED, DRIVE: INTERNAL,
             IN: r"250 Rename successful|550 No such file or directory|553 File name not allowed"},
    "DELE": {"bad": INTERNAL, DRIVE: CLOSED, IN: r"250 Delete successful|550 No such file or directory|503 Internal error"},
    "RMD": {"bad": INTERNAL, DRIVE: CLOSED,
            IN: r"250 Remove directory successful|550 (No such file or directory|Directory not empty)|503 Internal error"},
    "MKD": {"bad": CLOSED, DRIVE: INTERNAL, IN: r'257 "/.*" created\.|550 No such file or directory|553 File name not allowed'},
}


def rows_for(root):
    """(argument, kind with percent escapes, kind with OPTS UTF8 ON)."""
    canary = os.path.join(root, "canary.txt")
    drive_form = "Z:" + canary.replace("/", "\\")  # what the canary is called under Wine
    rows = [
        ("../canary.txt", IN),
        ("../../../canary.txt", IN),
        ("/../canary.txt", bad("/../canary.txt")),
        ("/x/../../canary.txt", bad("/x/../../canary.txt")),
        ("/home/../canary.txt", bad("/home/../canary.txt")),
        ("//../canary.txt", bad("//../canary.txt")),
        ("..\\canary.txt", IN),
        ("\\..\\canary.txt", bad("/../canary.txt")),
        ("C:\\canary.txt", DRIVE),
        ("c:/x", DRIVE),
        (drive_form, DRIVE),
        ("%2e%2e/canary.txt", IN),
        ("..%2fcanary.txt", IN),
        ("%2e%2e%5ccanary.txt", IN),
        (".%2e/canary.txt", IN),
        ("%252e%252e/canary.txt", IN),  # decoded once only
        ("/%2e%2e/canary.txt", bad("/../canary.txt"), IN),
        ("%5c..%5ccanary.txt", bad("/../canary.txt"), IN),
        ("c%3a%5ccanary.txt", DRIVE, IN),
        ("/..%00/canary.txt", bad("/..\0/canary.txt"), IN),
        ("%2e%2e%09/canary.txt", bad("/..\t/canary.txt"), IN),
        (b"/..\0/canary.txt", bad("/..\0/canary.txt")),
        (b"../canary.txt\0", bad("/canary.txt\0")),
        (b"x\0/../../canary.txt", IN),
        (b"..\t/canary.txt", bad("/..\t/canary.txt")),
        (b"/\x01/../canary.txt", bad("/\x01/../canary.txt")),
        (b"..\r/..\r/canary.txt", IN),  # carriage returns never reach the argument
        (canary, IN),  # the host's own path is a path inside the home
        ("\\\\?\\" + drive_form, EITHER),
        ("\\\\.\\" + drive_form, EITHER),
        ("C:..\\canary.txt", EITHER),
    ]
    return [(arg if isinstance(arg, bytes) else arg.encode("utf-8"), pct, rest[0] if rest else pct)
            for arg, pct, *rest in rows]


def outside_state(root, home):
    """Every entry under root except the home, with its kind, bytes and time."""
    found = {}
    for folder, dirs, files in os.walk(root):
        dirs[:] = [d for d in dirs if os.path.join(folder, d) != home]
        for name in dirs + files:
            path = os.path.join(folder, name)
            st = os.stat(path)
            content = None
            if name in files:
                with open(path, "rb") as f:
                    content = f.read()
            found[os.path.relpath(path, root)] = (content, st.st_mtime_ns)
    return found


class paths_stay_in_the_home(harness.confined_home_case):
    scratch_tree = {"canary.txt": b"canary bytes", "outside/keep.txt": b"keep", "outside/deeper/canary.txt": b"deeper"}

    def test_no_argument_reaches_outside_the_home(self):
        before = outside_state(self.root, self.home)
        sessions = {}

        def session(utf8):
            if sessions.get(utf8) is None:
                c = self.server.log_in()
                if utf8:
                    self.assertEqual(c.command("OPTS UTF8 ON"), "200 UTF8 set to on")
                sessions[utf8] = c
            return sessions[utf8]

        try:
            # Command by command, so that the directories MKD makes come last.
            for verb, outcomes in OUTCOMES.items():
                for arg, pct_kind, utf8_kind in rows_for(self.root):
                    for utf8, kind in ((False, pct_kind), (True, utf8_kind)):
                        c = session(utf8)
                        if verb == "RNTO":
                            with open(os.path.join(self.home, "src.txt"), "wb") as f:
                                f.write(b"source")
                            self.assertEqual(harness.exchange(c, "RNFR /src.txt"),
                                             "350 File exists, ready for destination name")
                        got = harness.exchange(c, verb.encode() + b" " + arg)
                        if got is not None and got.startswith("250-"):
                            self.assertEqual(c.reply_or_end()[:1], " ")  # MLST's fact line
                            self.assertEqual(c.reply_or_end(), "250 End of list")
                        with self.subTest(command=verb, argument=arg, utf8=utf8):
                            self.check(outcomes, kind, got)
                        if got is None:
                            c.close()
                            sessions[utf8] = None
        finally:
            for c in sessions.values():
                if c is not None:
                    c.close()
        self.assertEqual(outside_state(self.root, self.home), before)

    def check(self, outcomes, kind, got):
        if kind == EITHER:
            if got is not None:
                self.assertRegex(got, r"^[2-5]\d\d ")
            return
        if isinstance(kind, tuple):
            expected = outcomes["bad"]
            if expected is not None and "%s" in expected:
                resolved = kind[1]
                expected = expected % resolved if "\0" not in resolved else "550 " + resolved.split("\0")[0]
            self.assertEqual(got, expected)
        elif kind == DRIVE:
            self.assertEqual(got, outcomes[DRIVE])
        else:
            self.assertIsNotNone(got, "the session ended")
            self.assertRegex(got, "^(%s)$" % outcomes[IN])

    def test_device_names(self):
        # Windows maps these names to devices in any folder; no file operation may
        # open one. On POSIX they are ordinary names that do not exist here.
        if harness.UNDER_WINE:
            rows = [("SIZE /CON", INTERNAL), ("SIZE /aux.dat", INTERNAL), ("MDTM /nul.txt", CLOSED),
                    ("DELE /COM1", INTERNAL), ("RNFR /LPT1", CLOSED), ("MKD /nul.txt", CLOSED),
                    ("RMD /prn", INTERNAL), ("MLST /CONOUT$", "550 /CONOUT$ cannot be listed")]
        else:
            missing = "550 No such file or directory"
            rows = [("SIZE /CON", missing), ("SIZE /aux.dat", missing), ("MDTM /nul.txt", missing),
                    ("DELE /COM1", missing), ("RNFR /LPT1", missing), ("MKD /nul.txt", '257 "/nul.txt" created.'),
                    ("RMD /prn", missing), ("MLST /CONOUT$", "550 /CONOUT$ cannot be listed")]
        rows.append(("MKD /con", "553 File name not allowed"))
        for line, expected in rows:
            with self.server.log_in() as c:
                started = time.monotonic()
                got = harness.exchange(c, line)
                with self.subTest(line=line):
                    self.assertEqual(got, expected)
                    self.assertLess(time.monotonic() - started, 5.0)
        # The server still serves a new login.
        with self.server.log_in() as c:
            self.assertEqual(c.command("NOOP"), "200 NOOP command successful")


if __name__ == "__main__":
    unittest.main()
