"""Start-up of the real program: banner, configuration search, critical errors,
and what the Windows program is made of (its resources, its wide command line,
its console output)."""
import os
import re
import shutil
import struct
import subprocess
import tempfile
import unittest
import xml.etree.ElementTree as ElementTree

import harness
import unattended

LOAD_LINE = "Attempting to load config from: "
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
        # Each name stays below the 255 characters of one component; the whole
        # path passes the 260 of MAX_PATH.
        deep = os.path.join(self.scratch, *["folder-%02d-%s" % (i, "x" * 40) for i in range(6)])
        os.makedirs(deep)
        program = self.copy_program(deep)
        beside = os.path.join(deep, "Config.ini")
        self.assertGreater(len(harness.native_path(beside)), 260)
        with open(beside, "w") as f:
            f.write("[config]\nlisten-port=notanumber\n")
        done = subprocess.run(harness.command_line_for(program), capture_output=True, stdin=subprocess.DEVNULL,
                              timeout=harness.START_TIMEOUT + 30, cwd=self.scratch)
        shown = loaded_path(done.stdout.decode("utf-8", "replace").splitlines())
        if harness.UNDER_WINE:  # the letter case that Wine reports
            shown, beside = shown.lower(), harness.native_path(beside).lower()
        self.assertEqual(shown, beside)
        self.assertEqual(done.stderr.decode().splitlines(), ["Critical error: invalid input"])

    def test_config_path_in_three_scripts_is_opened_and_shown(self):
        """The path reaches the program whole: the file is read (its bad value is
        the error, not "file not found") and the load line shows it on a pipe and
        on a terminal."""
        os.mkdir(os.path.join(self.scratch, THREE_SCRIPTS))
        with open(os.path.join(self.scratch, THREE_SCRIPTS, "Config.ini"), "w") as f:
            f.write("[config]\nlisten-port=notanumber\n")
        # Relative, so that the line fits a terminal's width. Wine converts the
        # Unix command line and writes to a terminal in the locale's character
        # set; under C.UTF-8 its ANSI code page is 1252 and its console's code
        # page 437, which hold none of the Greek or Japanese letters.
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


def exe_resources(path):
    """The resources of a PE file with numeric type and name: {(type, name): [data
    of each language]}."""
    data = harness.read_file(path)
    header = struct.unpack_from("<I", data, 0x3C)[0]
    sections, = struct.unpack_from("<H", data, header + 6)
    optional_size, = struct.unpack_from("<H", data, header + 20)
    optional = header + 24
    pe32_plus = struct.unpack_from("<H", data, optional)[0] == 0x20B
    resource_rva, = struct.unpack_from("<I", data, optional + (112 if pe32_plus else 96) + 2 * 8)
    section_table = optional + optional_size

    def offset(rva):
        for i in range(sections):
            size, address, raw_size, raw = struct.unpack_from("<IIII", data, section_table + 40 * i + 8)
            if address <= rva < address + max(size, raw_size):
                return raw + rva - address
        raise AssertionError("address %#x lies in no section" % rva)

    base = offset(resource_rva)

    def entries(directory):
        named, numbered = struct.unpack_from("<HH", data, base + directory + 12)
        return [struct.unpack_from("<II", data, base + directory + 16 + 8 * i) for i in range(named + numbered)]

    found = {}
    for type_id, names in entries(0):
        for name_id, languages in entries(names & 0x7FFFFFFF):
            for _, leaf in entries(languages & 0x7FFFFFFF):
                rva, size = struct.unpack_from("<II", data, base + leaf)
                found.setdefault((type_id, name_id), []).append(data[offset(rva):offset(rva) + size])
    return found


def message_table(data):
    """The texts of a message table resource by message id."""
    messages = {}
    blocks, = struct.unpack_from("<I", data, 0)
    for b in range(blocks):
        low, high, at = struct.unpack_from("<III", data, 4 + 12 * b)
        for message in range(low, high + 1):
            length, flags = struct.unpack_from("<HH", data, at)
            text = data[at + 4:at + length]
            messages[message] = text.decode("utf-16-le" if flags & 1 else "ascii").rstrip("\0")
            at += length
    return messages


# The supportedOS ids of Windows 7, 8, 8.1, and 10 and 11 (one id).
WINDOWS_7_TO_11 = {"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
                   "{1f676c76-80e1-4239-95bb-83d0f6d0da78}", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}


@unittest.skipUnless(harness.UNDER_WINE, "resources of the Windows program")
class windows_program_resources(unittest.TestCase):
    def test_one_manifest_and_the_event_message(self):
        resources = exe_resources(harness.PROGRAM)
        manifests = resources.get((24, 1), [])
        self.assertEqual(len(manifests), 1, sorted(resources))
        manifest = ElementTree.fromstring(manifests[0])
        supported = {e.get("Id") for e in manifest.iter("{urn:schemas-microsoft-com:compatibility.v1}supportedOS")}
        self.assertEqual(supported, WINDOWS_7_TO_11)
        long_paths = list(manifest.iter("{http://schemas.microsoft.com/SMI/2016/WindowsSettings}longPathAware"))
        self.assertEqual([e.text for e in long_paths], ["true"])
        tables = resources.get((11, 1), [])
        self.assertEqual(len(tables), 1, sorted(resources))
        self.assertEqual(message_table(tables[0]), {1: "%1\r\n"})


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
