"""The program without a console of its own: started with its standard handles
closed, on the null device, or (Windows) with none at all as the Task Scheduler
starts it, it serves exactly as from a console. And a start-up failure on a
console that the program has to itself waits for Enter; nowhere else.

Under Wine, closing the Unix descriptors 0 to 2 is no way to start a Windows
program without handles: Wine opens its own connection to the Wine server on
them and hands them on as the program's standard handles, so that any program
that writes a line to standard output is ended by Wine. The Windows rows start
the program through start_without_console.exe instead, which hands it no
handles (or invalid ones) and no console, as Windows does for a scheduled task.
"""
import os
import shutil
import subprocess
import tempfile
import unittest

import harness
import unattended

FILE_NAME = "served.txt"
FILE_BYTES = b"served without a console\r\n"


def close_standard_descriptors(*fds):
    """A preexec_fn that closes the given descriptors in the child."""
    def close():
        for fd in fds:
            os.close(fd)
    return close


def start_without_console_helper():
    """The helper that the Windows build puts beside its tests."""
    return os.path.join(os.path.dirname(harness.PROGRAM), "tests", "start_without_console.exe")


class serves_without_a_console(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="tarvex-detached-")
        self.addCleanup(shutil.rmtree, self.root, True)
        home = os.path.join(self.root, "home")
        os.mkdir(home)
        with open(os.path.join(home, FILE_NAME), "wb") as f:
            f.write(FILE_BYTES)
        self.config = os.path.join(self.root, "Config.ini")
        with open(self.config, "w", encoding="utf-8", newline="") as f:
            f.write(harness.config_text({"listen-address": "", "listen-port": "", "pasv-ports": ""},
                                        [{"name": "reader", "password": "secret", "home": harness.native_path(home)}]))

    def start(self, command, **popen):
        """Starts command on a fresh loopback port; returns (process, port)."""
        port = unattended.loopback_config(self.config)
        process = subprocess.Popen(command, start_new_session=True, cwd=self.root, **popen)
        self.addCleanup(lambda: process.poll() is not None or unattended.stop_process(process))
        return process, port

    def check_serves(self, process, port):
        greeting = unattended.wait_for_greeting(port, process)
        self.assertIsNotNone(greeting, "no server on port %d (exit code %r)" % (port, process.poll()))
        self.assertTrue(greeting.startswith(b"220 TARVEX "), greeting)
        listing, data = unattended.list_and_fetch(port, FILE_NAME, "reader:secret")
        self.assertIn(FILE_NAME, listing)
        self.assertEqual(data, FILE_BYTES)

    @unittest.skipIf(harness.UNDER_WINE, "the descriptors of a native program")
    def test_native_with_standard_descriptors_closed_or_on_the_null_device(self):
        null = subprocess.DEVNULL
        rows = [
            ("input, output and error closed", {"preexec_fn": close_standard_descriptors(0, 1, 2)}),
            ("output and error closed", {"stdin": null, "preexec_fn": close_standard_descriptors(1, 2)}),
            ("input closed", {"stdout": null, "stderr": null, "preexec_fn": close_standard_descriptors(0)}),
            ("all three on the null device", {"stdin": null, "stdout": null, "stderr": null}),
        ]
        for what, popen in rows:
            with self.subTest(what):
                process, port = self.start(harness.command_line("-config", self.config), **popen)
                self.check_serves(process, port)
                # The orderly stop works as from a console.
                self.assertEqual(unattended.stop_process(process), 0)

    @unittest.skipUnless(harness.UNDER_WINE, "Windows standard handles")
    def test_windows_without_console_and_handles_or_on_the_null_device(self):
        helper = start_without_console_helper()
        self.assertTrue(os.path.isfile(helper), "build the helper first: cmake --build build-win (%s)" % helper)
        config = harness.native_path(self.config)
        program = harness.native_path(harness.PROGRAM)
        for handles in ("none", "invalid"):
            with self.subTest("no console, standard handles: " + handles):
                process, port = self.start(["wine", helper, handles, program, "-config", config],
                                           stdin=subprocess.PIPE, stdout=subprocess.PIPE)
                self.addCleanup(process.stdout.close)
                said = harness.output_reader(process.stdout)
                self.assertIsNotNone(said.wait_for(lambda l: l == "started", harness.START_TIMEOUT), said.text())
                self.check_serves(process, port)
                # As schtasks /End does: the helper ends the program when its input ends.
                process.stdin.close()
                self.assertEqual(process.wait(harness.START_TIMEOUT), 0)
        with self.subTest("all three on the null device"):
            null = subprocess.DEVNULL
            process, port = self.start(harness.command_line("-config", config), stdin=null, stdout=null, stderr=null)
            self.check_serves(process, port)
            self.assertEqual(unattended.stop_process(process), 0)


class waits_for_enter_after_a_failure(unittest.TestCase):
    """A start-up failure (a missing configuration file) on a terminal. Under Wine
    a program started from a terminal is the only process on a console of its
    own, as after a double-click in Explorer."""

    PROMPT = "Press Enter to close this window."
    ERROR = "Critical error: file not found"

    def setUp(self):
        self.missing = harness.native_path(os.path.join(tempfile.gettempdir(), "tarvex-no-such-dir", "Config.ini"))

    def check_no_wait(self, command, stdin_from_null=False):
        with unattended.terminal(command, stdin_from_null) as term:
            code = term.process.wait(harness.START_TIMEOUT)
            self.assertTrue(term.wait_for_text(self.ERROR, 5), term.text())
            self.assertNotIn(self.PROMPT, term.text())
            self.assertEqual(harness.exit_status(code), 255)

    @unittest.skipUnless(harness.UNDER_WINE, "a console of its own exists on Windows only")
    def test_alone_on_its_console_it_waits_for_enter(self):
        with unattended.terminal(harness.command_line("-config", self.missing)) as term:
            self.assertTrue(term.wait_for_text(self.PROMPT, harness.START_TIMEOUT), term.text())
            text = term.text()
            self.assertLess(text.index(self.ERROR), text.index(self.PROMPT), text)
            # Still there a while later: it waits for Enter, not for time.
            try:
                code = term.process.wait(2)
                self.fail("ended without Enter, exit code %r; terminal: %r" % (code, term.text()))
            except subprocess.TimeoutExpired:
                pass
            term.type(b"\r")
            self.assertEqual(harness.exit_status(term.process.wait(harness.START_TIMEOUT)), 255)

    @unittest.skipUnless(harness.UNDER_WINE, "a console of its own exists on Windows only")
    def test_started_by_a_command_prompt_or_with_input_redirected_nothing_waits(self):
        program = harness.native_path(harness.PROGRAM)
        with self.subTest("started by cmd /c on the same console"):
            self.check_no_wait(["wine", "cmd", "/c", program, "-config", self.missing])
        with self.subTest("input from the null device"):
            self.check_no_wait(harness.command_line("-config", self.missing), stdin_from_null=True)

    @unittest.skipIf(harness.UNDER_WINE, "the native program")
    def test_native_program_on_a_terminal_never_waits(self):
        self.check_no_wait(harness.command_line("-config", self.missing))


if __name__ == "__main__":
    unittest.main()
