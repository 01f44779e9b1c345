"""The orderly stop of the real program with many sessions still in the login
dialogue: every session ends at once, not one after another."""
import time
import unittest

import harness

SESSIONS = 200
# The whole stop, from the request to the exit. Wine delivers Ctrl+C and tears
# the process down more slowly; one session after another took about 25 ms each.
STOP_BOUND = 3.0 if harness.UNDER_WINE else 2.0


class stop_with_sessions_before_login(unittest.TestCase):
    def test_stop_ends_many_sessions_in_the_login_dialogue_at_once(self):
        config = {"listen-address": "127.0.0.1", "listen-port": "0", "concurrency": str(SESSIONS + 16)}
        with harness.server(config=config) as s:
            clients = []
            for _ in range(SESSIONS):
                c = s.connect(timeout=30)
                self.addCleanup(c.close)
                clients.append(c)
            # Every session is served (a greeting each), half of them half-way
            # through a login.
            for i, c in enumerate(clients):
                self.assertTrue(c.reply().startswith("220 TARVEX "), i)
                if i % 2:
                    self.assertEqual(c.command("USER demo"), "331 Password required for demo")

            started = time.monotonic()
            s.request_stop()
            code = s.wait_exit(STOP_BOUND + 10)
            took = time.monotonic() - started
            self.assertEqual(code, 0, s.stderr.text())
            self.assertLess(took, STOP_BOUND)
            for i, c in enumerate(clients):
                self.assertTrue(c.is_closed_by_server(1.0), i)


if __name__ == "__main__":
    unittest.main()
