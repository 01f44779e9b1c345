"""lftp as a real client, in passive and active mode: a tree of nested folders
with non-ASCII names mirrored down and up with UTF-8 on, then a broken download
resumed with "get -c" and a broken upload with "put -c". Trees and SHA-256 are
compared afterwards, and lftp's own log shows that each resume restarted at the
length already there instead of sending everything again."""
import hashlib
import os
import random
import re
import shutil
import subprocess
import unittest

import harness
from harness import make_tree, read_tree

LFTP = shutil.which("lftp")
MODES = (("passive", "on"), ("active", "off"))
LFTP_LIMIT = 120.0  # seconds for one lftp run, Wine included


def random_bytes(size, seed):
    return random.Random(seed).randbytes(size)


# Relative path: bytes, or None for a folder that stays empty.
TREE = {
    "ünïcödé/日本語/файл.txt": "日本語のファイル\r\nфайл\n".encode("utf-8"),
    "ünïcödé/日本語/空.bin": b"",
    "ünïcödé/grand ü.bin": random_bytes(300 * 1024, 1),
    "ünïcödé/131073.bin": random_bytes(131073, 2),
    "Ελληνικά/ñandú/très/profond.txt": b"deep\n",
    "Ελληνικά/100% ça.txt": b"percent and cedilla",
    "vide/": None,
    "top.txt": b"t",
}
RESUMED = random_bytes(300 * 1024 + 7, 3)


def sha256_hex(data):
    return hashlib.sha256(data).hexdigest()


class lftp_client(harness.shared_server_case):
    @classmethod
    def setUpClass(cls):
        if LFTP is None:
            message = "lftp is not installed (Debian package lftp)"
            if os.environ.get("CI") == "true":
                raise AssertionError(message + ": CI must run these tests")
            raise unittest.SkipTest(message)
        super().setUpClass()

    @classmethod
    def prepare_server(cls, s):
        # lftp's own folder, beside the home and out of the server's reach.
        cls.local = os.path.join(s.root, "lftp")
        os.makedirs(cls.local)
        return super().prepare_server(s)

    def lftp(self, passive_mode, *commands):
        """Runs lftp with commands after logging in; returns its debug log. Any
        failed command fails the run (cmd:fail-exit)."""
        settings = [
            "set cmd:fail-exit yes", "set net:max-retries 1", "set net:timeout 10",
            "set net:reconnect-interval-base 1", "set ftp:prefer-epsv no", "set ftp:ssl-allow no",
            "set ftp:charset utf-8", "set ftp:passive-mode " + passive_mode, "set ftp:port-ipv4 127.0.0.1",
            "open -u demo,secret ftp://127.0.0.1:%d" % self.server.port,
        ]
        # HOME points at a scratch folder so that no user settings of this machine apply.
        done = subprocess.run([LFTP, "-d", "-c", "; ".join(settings + list(commands))], cwd=self.local,
                              env=dict(os.environ, HOME=self.local, LC_ALL="C.UTF-8"), capture_output=True,
                              timeout=LFTP_LIMIT, stdin=subprocess.DEVNULL)
        log = (done.stdout + done.stderr).decode("utf-8", "replace").replace("\r", "")
        self.assertEqual(done.returncode, 0, "lftp failed; its log ends:\n" + log[-3000:])
        # UTF-8 was on: lftp saw UTF8 in FEAT and switched it on.
        self.assertIn("---> OPTS UTF8 ON\n<--- 200 UTF8 set to on", log)
        # The data connections were made the way the mode says.
        used, unused = ("PASV", "PORT") if passive_mode == "on" else ("PORT 127,0,0,1,", "PASV")
        self.assertIn("---> " + used, log)
        self.assertNotIn("---> " + unused, log)
        return log

    def test_mirror_a_non_ascii_tree_down_and_up(self):
        for mode, passive in MODES:
            with self.subTest(mode=mode):
                source = os.path.join(self.server.home(), "tree-" + mode)
                make_tree(source, TREE)
                down = os.path.join(self.local, "down-" + mode)
                self.lftp(passive, 'mirror "/tree-%s" "%s"' % (mode, down))
                self.assertEqual(read_tree(down, sha256_hex), read_tree(source, sha256_hex))
                self.lftp(passive, 'mirror -R "%s" "/up-%s"' % (down, mode))
                self.assertEqual(read_tree(os.path.join(self.server.home(), "up-" + mode), sha256_hex),
                                 read_tree(source, sha256_hex))

    def test_resume_a_broken_download_and_a_broken_upload(self):
        for mode, passive in MODES:
            with self.subTest(mode=mode):
                remote = os.path.join(self.server.home(), "résumé-" + mode)
                local = os.path.join(self.local, "résumé-" + mode)
                make_tree(remote, {"down.bin": RESUMED, "up.bin": RESUMED[:120001]})
                make_tree(local, {"down.bin": RESUMED[:100000], "up.bin": RESUMED})
                log = self.lftp(passive, 'cd "/résumé-%s"' % mode, 'lcd "%s"' % local,
                                "get -c down.bin", "put -c up.bin")
                for name in ("down.bin", "up.bin"):
                    for where in (remote, local):
                        with open(os.path.join(where, name), "rb") as f:
                            self.assertEqual(hashlib.sha256(f.read()).digest(), hashlib.sha256(RESUMED).digest(),
                                             (where, name))
                # Each transfer went on from what was there: REST with that length
                # before RETR, and REST before STOR (or APPE) of the upload.
                self.assertRegex(log, r"---> REST 100000\n<--- 350 [^\n]*\n---> RETR down\.bin\n")
                self.assertRegex(log, r"---> REST 120001\n<--- 350 [^\n]*\n---> STOR up\.bin\n|---> APPE up\.bin\n")
                self.assertEqual(len(re.findall(r"---> (?:RETR|STOR|APPE) ", log)), 2)


if __name__ == "__main__":
    unittest.main()
