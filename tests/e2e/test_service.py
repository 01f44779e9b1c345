"""The Windows program as a service of the service control manager, under
Wine's sc.exe and net.exe: created with "-service" in its binPath, started, it
serves; stopped, it ends its sessions and its process and reports a clean
STOPPED; a failed start leaves a stopped service with its exit codes, as the
manager's recovery actions need them.

What Wine cannot show: the Application event log (Wine's ReportEventW keeps
nothing that can be read back), the delayed automatic start at boot, the
recovery actions, and the account: Wine runs every service as the user who runs
Wine. Each service here has a name of its own and is deleted when the case
ends, passed or failed, as the whole Wine leg shares one Wine server."""
import os
import re
import secrets
import shutil
import signal
import socket
import subprocess
import tempfile
import unittest

import harness
import unattended

FILE_NAME = "served.txt"
FILE_BYTES = b"served by a service\r\n"
STOPPED, RUNNING = 1, 4
ERROR_SERVICE_SPECIFIC_ERROR = 1066


def wine(*args):
    """Runs a Wine tool to its end; returns (exit code, output text)."""
    done = subprocess.run(["wine"] + list(args), stdin=subprocess.DEVNULL, capture_output=True,
                          timeout=harness.START_TIMEOUT)
    return done.returncode, done.stdout.decode("utf-8", "replace")


def processes(first_argument_ends, holding=b""):
    """Unix PIDs of this Wine prefix's processes whose first argument ends with
    first_argument_ends (any case) and whose command line holds `holding`."""
    found = []
    prefix = os.environ.get("WINEPREFIX")
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                command = f.read()
            with open("/proc/%s/environ" % pid, "rb") as f:
                environment = dict(v.split(b"=", 1) for v in f.read().split(b"\0") if b"=" in v)
        except OSError:
            continue
        first = command.split(b"\0")[0].decode("utf-8", "replace").lower()
        in_prefix = environment.get(b"WINEPREFIX") == (prefix.encode() if prefix else None)
        if in_prefix and first.endswith(first_argument_ends) and holding in command:
            found.append(int(pid))
    return found


def is_running(pid):
    """False once the process is gone or a zombie."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except OSError:
        return False


def status(name):
    """STATE, WIN32_EXIT_CODE, SERVICE_EXIT_CODE... as sc query gives them; {} for no such service."""
    _, said = wine("sc", "query", name)
    return {key: int(value) for key, value in re.findall(r"^\s*([A-Z0-9_]+)\s*:\s*(\d+)", said, re.M)}


@unittest.skipUnless(harness.UNDER_WINE, "a Windows service; systemd runs the Linux program as it is")
class runs_as_a_windows_service(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        # Two control managers in one prefix answer the calls of sc.exe and
        # of the service in turn and lose its status reports ("wineboot -i" on
        # a new Wine server starts a second one; "wineboot" does not).
        managers = processes("\\services.exe")
        if len(managers) != 1:
            raise AssertionError("this Wine prefix runs %d services.exe (PIDs %s); boot it with 'wineboot', not "
                                 "'wineboot -i'" % (len(managers), managers))

    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="tarvex-service-")
        self.addCleanup(shutil.rmtree, self.root, True)
        harness.make_tree(self.root, {"home/" + FILE_NAME: FILE_BYTES})
        self.config = os.path.join(self.root, "Config.ini")

    def create(self, **keys):
        """Creates a service of a name of its own on a Config.ini whose ports are
        free now, with keys written over its [config] values; returns (name,
        control port). The service goes when the case ends."""
        with open(self.config, "w", encoding="utf-8", newline="") as f:
            f.write(harness.config_text({"listen-address": "", "listen-port": "", "pasv-ports": ""},
                                        [{"name": "reader", "password": "secret",
                                          "home": harness.native_path(os.path.join(self.root, "home"))}]))
        port = unattended.loopback_config(self.config)
        if keys:
            unattended.set_config_keys(self.config, **keys)
        name = "TarvexTest%d%s" % (os.getpid(), secrets.token_hex(4))
        command = "%s -service -config %s" % (harness.native_path(harness.PROGRAM), harness.native_path(self.config))
        code, said = wine("sc", "create", name, "binPath=", command)
        self.assertEqual(code, 0, said)
        self.addCleanup(self.remove, name)
        return name, port

    def remove(self, name):
        """Stops and deletes the service; ends by PID a process of it that outlived that."""
        wine("sc", "stop", name)
        harness.wait_until(lambda: status(name).get("STATE") in (None, STOPPED), harness.START_TIMEOUT)
        wine("sc", "delete", name)
        for pid in self.service_processes():
            os.kill(pid, signal.SIGKILL)

    def service_processes(self):
        """The running processes started with this case's Config.ini."""
        held = harness.native_path(self.config).encode()
        return [pid for pid in processes("\\tarvex.exe", held) if is_running(pid)]

    def test_serves_then_stops_in_order(self):
        name, port = self.create()
        code, said = wine("net", "start", name)
        self.assertEqual(code, 0, said)
        self.assertEqual(status(name)["STATE"], RUNNING)
        pids = self.service_processes()
        self.assertEqual(len(pids), 1, "the service's process")
        listing, data = unattended.list_and_fetch(port, FILE_NAME, "reader:secret")
        self.assertIn(FILE_NAME, listing)
        self.assertEqual(data, FILE_BYTES)

        # A session that is logged in when the stop comes is ended by the server.
        session = harness.control_connection(socket.create_connection(("127.0.0.1", port), timeout=10))
        self.addCleanup(session.close)
        self.assertTrue(session.reply().startswith("220 "))
        self.assertTrue(session.command("USER reader").startswith("331 "))
        self.assertEqual(session.command("PASS secret"), "230 User reader logged in")
        code, said = wine("net", "stop", name)
        self.assertEqual(code, 0, said)
        self.assertTrue(session.is_closed_by_server(10))
        self.assertTrue(harness.wait_until(lambda: not is_running(pids[0]), harness.START_TIMEOUT))
        after = status(name)
        self.assertEqual((after["STATE"], after["WIN32_EXIT_CODE"], after["SERVICE_EXIT_CODE"]), (STOPPED, 0, 0))

    def test_failed_start_stops_with_a_service_exit_code(self):
        rows = [("a port that is no number", {"listen_port": "notanumber"}),
                ("an address that is not on this machine", {"listen_address": "192.0.2.1"})]
        for what, keys in rows:
            with self.subTest(what):
                name, _ = self.create(**keys)
                wine("net", "start", name)  # Wine's net.exe calls any end of a start a success
                self.assertTrue(harness.wait_until(lambda: status(name).get("STATE") == STOPPED, 30), status(name))
                after = status(name)
                self.assertEqual((after["WIN32_EXIT_CODE"], after["SERVICE_EXIT_CODE"]),
                                 (ERROR_SERVICE_SPECIFIC_ERROR, 1))
                self.assertEqual(self.service_processes(), [])


if __name__ == "__main__":
    unittest.main()
