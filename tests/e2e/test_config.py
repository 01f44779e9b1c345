"""A configuration that cannot be loaded ends start-up: the banner and the path
are printed on standard output, one "Critical error: " line on standard error,
and the exit status is 255 (-1)."""
import os
import shutil
import tempfile
import unittest

import harness

PREFIX = "Attempting to load config from: "


class config_failures(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="tarvex-e2e-config-")

    def tearDown(self):
        shutil.rmtree(self.root, ignore_errors=True)

    def write(self, text, name="Config.ini"):
        path = os.path.join(self.root, name)
        with open(path, "w", encoding="utf-8", newline="") as f:
            f.write(text)
        return path

    def home(self):
        return harness.native_path(self.root)

    def assert_fails(self, args, config_path, message):
        """Runs with args and checks the whole failing start-up; returns nothing."""
        code, out, err = harness.run_program(args)
        context = "stdout: %r\nstderr: %r" % (out, err)
        self.assertEqual(harness.exit_status(code), 255, context)
        self.assertGreaterEqual(len(out), 2, context)
        self.assertIn("TARVEX", out[0], context)
        self.assertIn("v1.4", out[0], context)
        self.assertEqual(out[1], PREFIX + config_path, context)
        self.assertFalse(any(line.startswith("Running") or line.startswith("ftp://") for line in out), context)
        critical = [line for line in err if line.startswith("Critical error: ")]
        self.assertEqual(critical, ["Critical error: " + message], context)

    def assert_config_fails(self, text, message):
        path = harness.native_path(self.write(text))
        self.assert_fails(["-config", path], path, message)

    def valid_user(self):
        return {"name": "demo", "password": "secret", "home": self.home()}

    def test_config_missing_file(self):
        path = harness.native_path(os.path.join(self.root, "absent.ini"))
        self.assert_fails(["-config", path], path, "file not found")

    def test_config_missing_folder(self):
        path = harness.native_path(os.path.join(self.root, "no-such-folder", "Config.ini"))
        self.assert_fails(["-config", path], path, "file not found")

    def test_config_bad_listen_port(self):
        for value, message in (("21x", "invalid input"), ("-1", "invalid input"),
                               ("4294967296", "overflow")):
            with self.subTest(value=value):
                self.assert_config_fails(harness.config_text({"listen-port": value}, [self.valid_user()]), message)

    def test_config_bad_concurrency(self):
        self.assert_config_fails(harness.config_text({"concurrency": "99999999999"}, [self.valid_user()]),
                                 "overflow")

    def test_config_bad_pasv_ports(self):
        for value in ("200-100", "50000-5001x", "abc", "70000", "60000-65536"):
            with self.subTest(value=value):
                self.assert_config_fails(
                    harness.config_text({"listen-port": "0", "pasv-ports": value}, [self.valid_user()]),
                    "Could not parse PASV ports list")

    def test_config_user_without_name(self):
        self.assert_config_fails(harness.config_text({}, [{"password": "x", "home": self.home()}]),
                                 "No user name specified")

    def test_config_user_without_home(self):
        self.assert_config_fails(harness.config_text({}, [self.valid_user(), {"name": "other"}]),
                                 "No user home directory specified")

    def test_config_user_without_name_or_home_reports_the_name(self):
        self.assert_config_fails(harness.config_text({}, [{"password": "x"}]), "No user name specified")

    def test_config_argument_last_gives_empty_path(self):
        code, out, err = harness.run_program(["-config"])
        context = "stdout: %r\nstderr: %r" % (out, err)
        self.assertEqual(harness.exit_status(code), 255, context)
        self.assertEqual(out[1:2], [PREFIX], context)
        critical = [line for line in err if line.startswith("Critical error: ")]
        # Opening the empty path is a file error; which one is the system's choice.
        self.assertEqual(len(critical), 1, context)
        self.assertIn(critical[0], ("Critical error: file not found", "Critical error: file access error"), context)

    def test_config_first_of_two_arguments_wins(self):
        first = harness.native_path(self.write(harness.config_text({}, [{"home": self.home()}]), "first.ini"))
        second = harness.native_path(self.write(harness.config_text({}, [{"name": "x"}]), "second.ini"))
        self.assert_fails(["-config", first, "-config", second], first, "No user name specified")
        self.assert_fails(["other", "-config", second, "-config", first], second, "No user home directory specified")


if __name__ == "__main__":
    unittest.main()
