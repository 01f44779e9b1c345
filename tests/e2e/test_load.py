"""Load: as many concurrent sessions as the server's concurrency allows (128, the
default), each logged in and doing a mix of LIST, RETR and STOR of 64 KiB to
4 MiB files for a bounded time. No command may fail and no byte may be lost or
changed (SHA-256 of every transfer); a connection beyond the concurrency is
closed without a greeting while all sessions are busy and greeted again once
one ends; afterwards the server has no more threads than with its sessions
logged in and idle. Under Wine and sanitizers the mix is shorter (see SCALE)."""
import hashlib
import os
import random
import threading
import time
import unittest

import harness
from harness import transfer, wait_until

COMPLETE = "226 Transfer complete"
# Under Wine every socket wait goes through Wine's server process and 128
# sessions take seconds to log in, and a sanitized server runs several times
# slower: a shorter mix (and smaller files when sanitized) keeps the case near
# the native one's length.
SCALE = {"sessions": 128, "seconds": 8.0 if harness.SANITIZED else 10.0 if harness.UNDER_WINE else 15.0,
         "largest": 1 << 20 if harness.SANITIZED else 4 << 20}
SMALLEST = 64 << 10
FIXED = {"f64k.bin": 64 << 10, "f512k.bin": 512 << 10, "f1m+1.bin": (1 << 20) + 1, "fbig.bin": SCALE["largest"]}


def sha256(data):
    return hashlib.sha256(data).hexdigest()


def opening(name):
    return "150 Opening BINARY mode data connection for " + name


class session_worker:
    """One client: logs in, waits for the start, then runs random operations
    until the deadline and records every mismatch in errors."""

    def __init__(self, test, index, pool, expected):
        self.test, self.index, self.pool, self.expected = test, index, pool, expected
        self.name = "up%03d.bin" % index
        self.rng = random.Random(index)
        self.counts = {"LIST": 0, "RETR": 0, "STOR": 0}
        self.connection = None
        self.uploaded = None  # SHA-256 of this worker's last upload

    def fail(self, what):
        self.test.errors.append("session %d: %s" % (self.index, what))

    def run(self, start, deadline):
        try:
            self.connection = self.test.server.log_in(timeout=60)
            start.wait()
            start.wait()  # the second phase: the main thread has made its checks
            while time.monotonic() < deadline[0] and not self.test.errors:
                getattr(self, self.rng.choice(("list", "retr", "retr", "stor")))()
        except AssertionError:
            start.abort()  # already recorded
        except Exception as error:
            self.fail(repr(error))
            start.abort()

    def expect(self, got, wanted, what):
        if got != wanted:
            self.fail("%s: %r instead of %r" % (what, got, wanted))
            raise AssertionError(what)

    def list(self):
        first, received, final = transfer(self.connection, "LIST")
        self.expect((first, final), (opening("LIST"), COMPLETE), "LIST")
        for name in FIXED:
            if (" " + name + "\r\n").encode() not in received:
                self.expect(received, "a line for " + name, "LIST")
        self.counts["LIST"] += 1

    def retr(self):
        name = self.name if self.uploaded and self.rng.random() < 0.3 else self.rng.choice(list(FIXED))
        wanted = self.uploaded if name == self.name else self.expected[name]
        first, received, final = transfer(self.connection, "RETR " + name, active=self.rng.random() < 0.25)
        self.expect((first, sha256(received or b""), final), (opening(name), wanted, COMPLETE), "RETR " + name)
        self.counts["RETR"] += 1

    def stor(self):
        size = int(SMALLEST * (SCALE["largest"] / SMALLEST) ** self.rng.random())
        offset = self.rng.randrange(len(self.pool) - size)
        content = self.pool[offset:offset + size]
        self.uploaded = None  # until the upload is complete
        first, received, final = transfer(self.connection, "STOR " + self.name, content,
                                          active=self.rng.random() < 0.25)
        self.expect((first, received, final), (opening(self.name), b"", COMPLETE), "STOR " + self.name)
        self.uploaded = sha256(content)
        self.counts["STOR"] += 1


class load(unittest.TestCase):
    def setUp(self):
        # The default concurrency is what is tested: no such key in the file.
        self.server = harness.server(config={"listen-address": "127.0.0.1", "listen-port": "0"})
        self.addCleanup(self.server.__exit__, None, None, None)
        pool = os.urandom(2 * SCALE["largest"])
        self.pool = memoryview(pool)
        self.expected = {}
        for n, (name, size) in enumerate(FIXED.items()):
            content = pool[n * 1000:n * 1000 + size]
            with open(os.path.join(self.server.home(), name), "wb") as f:
                f.write(content)
            self.expected[name] = sha256(content)
        self.server.__enter__()
        self.errors = []

    def threads(self):
        return harness.thread_count(self.server.process.pid)

    def test_full_concurrency_of_mixed_transfers(self):
        sessions = SCALE["sessions"]
        native = not harness.UNDER_WINE
        # One session first, so that what the first login starts (a worker, the
        # timer of the login deadline) is counted in the level before the load.
        with self.server.log_in() as warm_up:
            self.assertTrue(warm_up.command("QUIT").startswith("221 "))
            self.assertTrue(warm_up.is_closed_by_server(10))
        started_with = self.threads() if native else None
        workers = [session_worker(self, n, self.pool, self.expected) for n in range(sessions)]
        start = threading.Barrier(sessions + 1, timeout=120)
        deadline = [float("inf")]
        threads = [threading.Thread(target=w.run, args=(start, deadline), daemon=True) for w in workers]
        for t in threads:
            t.start()
        try:
            start.wait()  # every session is logged in
        except threading.BrokenBarrierError:
            self.fail("not every session logged in: %s" % self.errors[:5])
        logged_in_threads = self.threads() if native else None

        try:
            # All workers are busy: one more connection is closed without a greeting.
            with self.server.connect() as extra:
                self.assertTrue(extra.is_closed_by_server(10), "a connection beyond the concurrency was served")
        finally:
            deadline[0] = time.monotonic() + SCALE["seconds"]
            start.wait()
        for t in threads:
            t.join(SCALE["seconds"] + 120)
        self.assertFalse(any(t.is_alive() for t in threads), "a session did not finish in time")
        self.assertEqual(self.errors, [])
        totals = {kind: sum(w.counts[kind] for w in workers) for kind in ("LIST", "RETR", "STOR")}
        self.assertTrue(all(totals.values()), totals)
        for w in workers:  # every last upload is whole on disk
            if w.uploaded:
                with open(os.path.join(self.server.home(), w.name), "rb") as f:
                    self.assertEqual(sha256(f.read()), w.uploaded, w.name)

        # One session ends: a new one is served once that worker is free.
        first = workers[0].connection
        self.assertTrue(first.command("QUIT").startswith("221 "))
        self.assertTrue(first.is_closed_by_server(10))
        greeted = harness.greeted_sessions(self.server, 1)
        self.assertEqual(len(greeted), 1, "no new session after one ended")
        greeted[0].close()
        for w in workers[1:]:
            self.assertTrue(w.connection.command("QUIT").startswith("221 "))
            w.connection.close()
        print("\n  load: %d sessions, %s in %.0f s" % (sessions, totals, SCALE["seconds"]), end="")
        if not native:
            return  # Wine's threads are not the process's own /proc entries
        # Workers stay for the next sessions, but nothing else may remain.
        self.assertLessEqual(logged_in_threads, started_with - 1 + sessions)  # one worker was there
        self.assertTrue(wait_until(lambda: self.threads() <= logged_in_threads),
                        (started_with, logged_in_threads, self.threads()))
        print("; threads %d idle, %d with the sessions, %d afterwards"
              % (started_with, logged_in_threads, self.threads()), end="")


if __name__ == "__main__":
    unittest.main()
