"""Limits on clients that do not log in: failed passwords slow down per client
address, and silent connections from one address cannot keep everyone else
out of a full server. Other loopback addresses (127.0.0.2 and up) stand for
other clients."""
import time
import unittest

import harness

INCORRECT = "530 Login incorrect"
LOGGED_IN = "230 User demo logged in"


def timed(connection, line):
    """(reply or None when the server ended the session, seconds it took)."""
    started = time.monotonic()
    return harness.exchange(connection, line), time.monotonic() - started


class failed_logins(unittest.TestCase):
    def greeted(self, server, source, timeout=40.0):
        c = server.connect(timeout, source)
        self.addCleanup(c.close)
        self.assertTrue(c.reply().startswith("220 TARVEX "))
        self.assertEqual(c.command("USER demo"), "331 Password required for demo")
        return c

    @harness.slow_timer_case
    def test_fourth_failure_waits_and_a_success_clears_the_count(self):
        with harness.server() as s:
            # Its deadline runs from here; it fails three times at once.
            late = self.greeted(s, "127.0.0.4")
            late_since = time.monotonic()
            for _ in range(3):
                self.assertEqual(late.command("PASS wrong"), INCORRECT)

            first = self.greeted(s, "127.0.0.1")
            for _ in range(3):
                reply, took = timed(first, "PASS wrong")
                self.assertEqual(reply, INCORRECT)
                self.assertLess(took, 2.0)
            first.send("PASS wrong")
            paused_since = time.monotonic()
            # Another address logs in at once meanwhile.
            with s.log_in(source="127.0.0.2"):
                self.assertLess(time.monotonic() - paused_since, 2.0)
            self.assertEqual(first.reply(), INCORRECT)
            self.assertGreaterEqual(time.monotonic() - paused_since, 5.0)
            self.assertEqual(first.command("PASS secret"), LOGGED_IN)
            # The success cleared the count: a fifth failure would wait 10 s.
            reply, took = timed(self.greeted(s, "127.0.0.1"), "PASS wrong")
            self.assertEqual((reply, took < 2.0), (INCORRECT, True))

            # With 4 s of its deadline left, the 5 s that a failure would cost
            # do not fit: the session ends at once without a reply, and without
            # a check, since the end itself would answer the guess.
            time.sleep(max(0.0, late_since + 26 - time.monotonic()))  # the deadline's time must pass
            reply, took = timed(late, "PASS secret")
            self.assertEqual((reply, took < 2.0), (None, True))


class silent_flood(unittest.TestCase):
    def test_silent_connections_of_one_address_make_room_for_another(self):
        config = {"listen-address": "127.0.0.1", "listen-port": "0", "concurrency": "32"}
        with harness.server(config=config) as s:
            silent = []
            self.addCleanup(lambda: [c.close() for c in silent])
            flood_started = time.monotonic()
            for _ in range(40):
                silent.append(s.connect(10, "127.0.0.3"))
            # Refused until those dialogues have lasted 2 s, then served in the
            # place of one of them, and again: the session logged in first is
            # not the one that goes.
            sessions = harness.greeted_sessions(s, 1)
            self.assertEqual(len(sessions), 1, "no room made for 127.0.0.1")
            self.assertGreater(time.monotonic() - flood_started, 1.9)
            sessions += harness.greeted_sessions(s, 1)
            self.addCleanup(lambda: [c.close() for c in sessions])
            self.assertEqual(len(sessions), 2)
            for c in sessions:
                self.assertEqual(c.command("NOOP"), "200 NOOP command successful")


if __name__ == "__main__":
    unittest.main()
