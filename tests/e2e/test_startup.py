"""Start-up of the real program: banner, configuration search, critical errors,
and the Windows program's manifest, wide command line and console output."""
import os
import re
import shutil
import subprocess
import tempfile
import unittest

import harness
import unattended

LOAD_LINE = "Attempting to load config from: "
TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
# A folder named in three scripts, none of them all in one Windows code page.
THREE_SCRIPTS = "Zoë-Ελλάδα-日本"


def loaded_path(out):
    for line in out:
        if line.startswith(LOAD_LINE):
            return line[len(LOAD_LINE):]
    raise AssertionError("no load line in %r" % out)


class banner_and_config_search(unittest.TestCase):
    def setUp(self):
        self.scratch = tempfile.mkdtemp(prefix="tarvex-start-")

    def tearDown(self):
        shutil.rmtree(self.scratch, ignore_errors=True)

    def test_banner_then_load_line_then_critical_error(self):
        missing = os.path.join(self.scratch, "missing.ini")
        code, out, err = harness.run_program(["-config", harness.native_path(missing)])
        self.assertGreaterEqual(len(out), 2, out)
        self.assertIn("TARVEX", out[0])
        self.assertIn("v1.4", out[0])
        self.assertEqual(out[1], LOAD_LINE + harness.native_path(missing))
        self.assertEqual(err, ["Critical error: file not found"])
        self.assertEqual(harness.exit_status(code), 255)

    def test_config_as_last_argument_selects_the_empty_path(self):
        code, out, err = harness.run_program(["-config"])
        self.assertEqual(out[1], LOAD_LINE)
        self.assertEqual(len(err), 1)
        self.assertTrue(err[0].startswith("Critical error: "), err)
        self.assertEqual(harness.exit_status(code), 255)

    def test_first_of_two_config_arguments_wins(self):
        code, out, _ = harness.run_program(["-config", "first.ini", "-config", "second.ini"])
        self.assertEqual(loaded_path(out), "first.ini")
        self.assertEqual(harness.exit_status(code), 255)

    def copy_program(self, folder=None):
        """A copy of the program in folder (the scratch folder by default), so that
        "beside the program" is ours."""
        target = os.path.join(folder or self.scratch, os.path.basename(harness.PROGRAM))
        shutil.copy2(harness.PROGRAM, target)
        return target

    def run_copy(self, program, env_extra=None):
        env = dict(os.environ)
        env.update(env_extra or {})
        done = subprocess.run(harness.command_line_for(program), capture_output=True, env=env,
                              stdin=subprocess.DEVNULL, timeout=harness.START_TIMEOUT + 30, cwd=self.scratch)
        return done.returncode, done.stdout.decode("utf-8", "replace").splitlines()

    def test_config_beside_the_program_is_used(self):
        program = self.copy_program()
        beside = os.path.join(self.scratch, "Config.ini")
        with open(beside, "w") as f:
            f.write("[config]\nlisten-port=notanumber\n")
        code, out = self.run_copy(program)
        path = loaded_path(out).replace("\\", "/")
        if harness.UNDER_WINE:  # Z:/tmp/... with the letter case Wine reports
            self.assertEqual(path.lower(), "z:" + beside.lower())
        else:
            self.assertEqual(path, beside)
        self.assertEqual(harness.exit_status(code), 255)

    def test_config_beside_a_program_deeper_than_max_path_is_used(self):
        # No name passes the 255 characters of a component; the path passes 260.
        deep = os.path.join(self.scratch, *["folder-%02d-%s" % (i, "x" * 40) for i in range(6)])
        os.makedirs(deep)
        beside = os.path.join(deep, "Config.ini")
        with open(beside, "w") as f:
            f.write("[config]\nlisten-port=notanumber\n")
        code, out = self.run_copy(self.copy_program(deep))
        shown, beside = loaded_path(out), harness.native_path(beside)
        self.assertGreater(len(beside), 260)
        if harness.UNDER_WINE:  # the letter case that Wine reports
            shown, beside = shown.lower(), beside.lower()
        self.assertEqual(shown, beside)

    @unittest.skipUnless(harness.UNDER_WINE, "the Windows program's resources")
    def test_program_holds_its_manifest_once(self):
        self.assertEqual(harness.read_file(harness.PROGRAM).count(harness.read_file(TOP + "/app/tarvex.manifest")), 1)

    def test_config_path_in_three_scripts_is_opened_and_shown(self):
        # Read whole (the error is the file's bad value), shown on a pipe and a terminal.
        os.mkdir(os.path.join(self.scratch, THREE_SCRIPTS))
        with open(os.path.join(self.scratch, THREE_SCRIPTS, "Config.ini"), "w") as f:
            f.write("[config]\nlisten-port=notanumber\n")
        # Relative, so that the line fits a terminal. Under C.UTF-8 Wine's ANSI
        # code page is 1252 and its console's 437: neither has Greek or Japanese.
        relative = THREE_SCRIPTS + ("\\" if harness.UNDER_WINE else "/") + "Config.ini"
        command = ["env", "-C", self.scratch, "LC_ALL=C.UTF-8"] + harness.command_line("-config", relative)
        done = subprocess.run(command, capture_output=True, stdin=subprocess.DEVNULL,
                              timeout=harness.START_TIMEOUT + 30)
        self.assertEqual(done.stdout.decode("utf-8", "replace").splitlines()[1:], [LOAD_LINE + relative])
        self.assertEqual(done.stderr.decode("utf-8", "replace").splitlines(), ["Critical error: invalid input"])
        with unattended.terminal(command, stdin_from_null=True) as term:
            self.assertEqual(harness.exit_status(term.process.wait(harness.START_TIMEOUT)), 255)
            self.assertTrue(term.wait_for_text("Critical error: invalid input", 5), term.text())
            self.assertIn(LOAD_LINE + relative, on_screen(term.text()))

    def test_directory_named_config_ini_is_skipped_for_the_user_folder(self):
        program = self.copy_program()
        os.mkdir(os.path.join(self.scratch, "Config.ini"))
        xdg = os.path.join(self.scratch, "xdg")
        code, out = self.run_copy(program, {"XDG_CONFIG_HOME": xdg})
        path = loaded_path(out).replace("\\", "/")
        self.assertTrue(path.endswith("/TARVEX/Config.ini"), path)
        if not harness.UNDER_WINE:
            self.assertEqual(path, xdg + "/TARVEX/Config.ini")
        self.assertEqual(harness.exit_status(code), 255)


def on_screen(text):
    """Terminal output without the cursor and erase sequences that Wine's console writes."""
    return re.sub(r"\x1b\[[0-9;?]*[A-Za-z]", "", text)


def can_isolate_network():
    return (not harness.UNDER_WINE and shutil.which("unshare") is not None
            and subprocess.run(["unshare", "-n", "true"], capture_output=True).returncode == 0)


@unittest.skipUnless(can_isolate_network(), "needs a private network namespace (unshare -n, as root)")
class only_loopback(unittest.TestCase):
    def test_all_interfaces_with_nothing_but_loopback_is_a_critical_error(self):
        scratch = tempfile.mkdtemp(prefix="tarvex-start-")
        self.addCleanup(shutil.rmtree, scratch, True)
        config = os.path.join(scratch, "Config.ini")
        with open(config, "w") as f:
            f.write(harness.config_text({"listen-port": "0"}, [{"name": "a", "home": scratch}]))
        # A fresh network namespace has only the loopback interface.
        done = subprocess.run(["unshare", "-n", "sh", "-c", "ip link set lo up 2>/dev/null; exec \"$0\" \"$@\"",
                               harness.PROGRAM, "-config", config],
                              capture_output=True, timeout=30, stdin=subprocess.DEVNULL)
        out = done.stdout.decode().splitlines()
        self.assertIn("Running", out)
        self.assertFalse([line for line in out if line.startswith("ftp://")], out)
        self.assertEqual(done.stderr.decode().splitlines(), ["Critical error: network error"])
        self.assertEqual(harness.exit_status(done.returncode), 255)


if __name__ == "__main__":
    unittest.main()
