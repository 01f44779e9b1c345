"""File contents survive the round trip: sizes around the 128 KiB copy buffer and
256 MiB go up and down in passive and active mode with identical SHA-256; a
restart offset beyond 4 GiB; an upload sent in small pieces with pauses. Then the
file commands as the real clients ftplib and curl use them."""
import ftplib
import hashlib
import io
import os
import struct
import time
import unittest

import harness
from harness import read_file, transfer
from test_transfers import COMPLETE, F25, data_server, opening, restarting

SIZES = (0, 1, 131071, 131072, 131073)
BIG = 256 << 20
BIG_LIMIT = 120.0  # seconds for one 256 MiB transfer, Wine included


def sha256_of(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


class bounded_reader:
    """A file to upload whose reads fail once the time is up."""

    def __init__(self, path, seconds):
        self.file = open(path, "rb")
        self.deadline = time.monotonic() + seconds

    def read(self, size):
        if time.monotonic() > self.deadline:
            raise AssertionError("upload took too long")
        return self.file.read(size)

    def close(self):
        self.file.close()


class ftplib_server(data_server):
    def client(self, passive):
        ftp = ftplib.FTP()
        ftp.connect("127.0.0.1", self.server.port, timeout=30)
        self.addCleanup(ftp.close)
        self.assertTrue(ftp.login("demo", "secret").startswith("230 "))
        ftp.set_pasv(passive)
        ftp.cwd(self.virtual)
        return ftp

    def download_hash(self, ftp, name, seconds=60.0):
        digest = hashlib.sha256()
        deadline = time.monotonic() + seconds

        def take(block):
            if time.monotonic() > deadline:
                raise AssertionError("download took too long")
            digest.update(block)

        self.assertEqual(ftp.retrbinary("RETR " + name, take, blocksize=1 << 20), COMPLETE)
        return digest.hexdigest()


class data_integrity(ftplib_server):
    def test_sizes_around_the_copy_buffer(self):
        path, _ = self.workspace()
        for size in SIZES:
            with open(os.path.join(path, "down%d.bin" % size), "wb") as f:
                f.write(os.urandom(size))
        for passive in (True, False):
            ftp = self.client(passive)
            for size in SIZES:
                with self.subTest(size=size, passive=passive):
                    source = os.path.join(path, "down%d.bin" % size)
                    self.assertEqual(self.download_hash(ftp, "down%d.bin" % size), sha256_of(source))
                    with open(source, "rb") as f:
                        self.assertEqual(ftp.storbinary("STOR up%d.bin" % size, f), COMPLETE)
                    self.assertEqual(sha256_of(os.path.join(path, "up%d.bin" % size)), sha256_of(source))
                    self.assertEqual(ftp.size("up%d.bin" % size), size)
            ftp.quit()

    def test_256_mib_up_and_down(self):
        path, _ = self.workspace()
        source = os.path.join(path, "big.bin")
        # A fast pattern: one random MiB with each copy's number in its first bytes.
        block = bytearray(os.urandom(1 << 20))
        with open(source, "wb") as f:
            for n in range(BIG >> 20):
                block[:8] = struct.pack("<Q", n)
                f.write(block)
        expected = sha256_of(source)
        for passive in (True, False):
            with self.subTest(passive=passive):
                ftp = self.client(passive)
                self.assertEqual(self.download_hash(ftp, "big.bin", BIG_LIMIT), expected)
                upload = bounded_reader(source, BIG_LIMIT)
                try:
                    self.assertEqual(ftp.storbinary("STOR copy.bin", upload, blocksize=1 << 20), COMPLETE)
                finally:
                    upload.close()
                self.assertEqual(sha256_of(os.path.join(path, "copy.bin")), expected)
                os.remove(os.path.join(path, "copy.bin"))
                ftp.quit()

    def test_restart_beyond_four_gib(self):
        path, c = self.workspace()
        sparse = os.path.join(path, "sparse.bin")
        tail = b"0123456789"
        try:
            with open(sparse, "wb") as f:
                f.truncate(5000000000)
                f.seek(5000000000)
                f.write(tail)
        except OSError as error:
            self.skipTest("the file system refuses a sparse 5 GB file: %s" % error)
        self.addCleanup(os.remove, sparse)
        self.assertEqual(c.command("SIZE sparse.bin"), "213 5000000010")
        for mode, active in (("passive", False), ("active", True)):
            with self.subTest(mode=mode):
                self.assertEqual(c.command("REST 5000000000"), restarting(5000000000))
                self.assertEqual(transfer(c, "RETR sparse.bin", active=active),
                                 (opening("sparse.bin"), tail, COMPLETE))

    def test_upload_in_small_pieces_with_pauses(self):
        path, c = self.workspace()
        pieces = [os.urandom(997) for _ in range(20)]
        for mode, active in (("passive", False), ("active", True)):
            with self.subTest(mode=mode):
                first, data = harness.start_transfer(c, "STOR slow.bin", active)
                self.assertEqual(first, opening("slow.bin"))
                with data:
                    for piece in pieces:
                        data.sendall(piece)
                        time.sleep(0.05)  # the pause is what is tested: the upload must not end here
                    self.assertEqual(harness.finish_data(data, b""), b"")
                self.assertEqual(c.reply(), COMPLETE)
                self.assertEqual(read_file(os.path.join(path, "slow.bin")), b"".join(pieces))


class real_clients(ftplib_server):
    def test_ftplib_file_commands(self):
        path, _ = self.workspace()
        for passive in (True, False):
            with self.subTest(passive=passive):
                ftp = self.client(passive)
                got = []
                self.assertEqual(ftp.retrbinary("RETR f25.bin", got.append), COMPLETE)
                self.assertEqual(b"".join(got), F25)
                self.assertEqual(ftp.storbinary("STOR up.bin", io.BytesIO(b"uploaded")), COMPLETE)
                self.assertEqual(ftp.size("up.bin"), 8)
                self.assertEqual(ftp.rename("up.bin", "moved.bin"), "250 Rename successful")
                self.assertEqual(read_file(os.path.join(path, "moved.bin")), b"uploaded")
                self.assertEqual(ftp.sendcmd("REST 6"), restarting(6))
                got = []
                ftp.retrbinary("RETR moved.bin", got.append)
                self.assertEqual(b"".join(got), b"ed")
                self.assertEqual(ftp.delete("moved.bin"), "250 Delete successful")
                self.assertEqual(ftp.mkd("made"), self.virtual + "/made")
                self.assertTrue(os.path.isdir(os.path.join(path, "made")))
                self.assertEqual(ftp.rmd("made"), "250 Remove directory successful")
                self.assertEqual(sorted(os.listdir(path)), ["f25.bin", "sub"])
                ftp.quit()

    def test_curl_download_and_upload(self):
        path, _ = self.workspace()
        content = os.urandom(300000)
        with open(os.path.join(path, "payload.bin"), "wb") as f:
            f.write(content)
        upload = os.path.join(path, "payload.bin")
        url = "ftp://127.0.0.1:%d%s/" % (self.server.port, self.virtual)
        # (options, command that must open the data connection, command that must not be sent)
        rows = [([], "PASV", None), (["--disable-epsv"], "PASV", "EPSV"),
                (["--ftp-port", "127.0.0.1"], "PORT", None)]
        for n, (options, used, unused) in enumerate(rows):
            with self.subTest(options=options):
                code, out, err = harness.curl("-v", "-u", "demo:secret", *options, url + "payload.bin")
                self.assertEqual(code, 0, err)
                self.assertEqual(out, content)
                self.assertIn("> %s" % used, err)
                if unused:
                    self.assertNotIn("> %s" % unused, err)
                elif used == "PASV":
                    # curl asks for EPSV first, is refused and falls back to PASV.
                    said = [line for line in err.splitlines() if line[:2] in ("> ", "< ")]
                    epsv = said.index("> EPSV")
                    self.assertEqual(said[epsv:epsv + 3], ["> EPSV", "< 502 Unknown command", "> PASV"])
                name = "up%d.bin" % n
                code, out, err = harness.curl("-u", "demo:secret", *options, "-T", upload, url + name)
                self.assertEqual(code, 0, err)
                self.assertEqual(read_file(os.path.join(path, name)), content)


if __name__ == "__main__":
    unittest.main()
