"""The Windows program as a service under Wine's sc.exe and net.exe. Wine cannot
show the event log, the delayed start, the recovery actions or the account (its
services run as the user who runs Wine). Each case's services have names of
their own and are deleted when it ends: the Wine leg shares one Wine server."""
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

STOPPED, RUNNING = 1, 4


def wine(*args):
    done = subprocess.run(["wine"] + list(args), stdin=subprocess.DEVNULL, capture_output=True,
                          timeout=harness.START_TIMEOUT)
    return done.returncode, done.stdout.decode("utf-8", "replace")


def status(name):
    """STATE, WIN32_EXIT_CODE and SERVICE_EXIT_CODE from sc query ({} for no such service)."""
    said = wine("sc", "query", name)[1]
    return {key: int(value) for key, value in re.findall(r"^\s*(STATE|\w+_EXIT_CODE)\s*:\s*(\d+)", said, re.M)}


def running(marker):
    """PIDs of the live processes of this Wine prefix whose command line holds marker."""
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as c, open("/proc/%s/environ" % pid, "rb") as e:
                command, environment = c.read(), e.read().split(b"\0")
            with open("/proc/%s/stat" % pid) as s:
                live = s.read().rsplit(")", 1)[1].split()[0] != "Z"
        except OSError:
            continue
        if marker in command and live and ("WINEPREFIX=" + os.environ.get("WINEPREFIX", "")).encode() in environment:
            found.append(int(pid))
    return found


@unittest.skipUnless(harness.UNDER_WINE, "a Windows service; systemd runs the Linux program as it is")
class runs_as_a_windows_service(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="tarvex-service-")
        self.addCleanup(shutil.rmtree, self.root, True)
        harness.make_tree(self.root, {"home/served.txt": b"served by a service\r\n"})

    def create(self, **keys):
        """A service on a Config.ini of its own with free ports and keys over its
        values; returns its name, control port and the marker of its process."""
        config = os.path.join(self.root, secrets.token_hex(4) + ".ini")
        home = harness.native_path(os.path.join(self.root, "home"))
        with open(config, "w", encoding="utf-8", newline="") as f:
            f.write(harness.config_text({"listen-address": "", "listen-port": "", "pasv-ports": ""},
                                        [{"name": "anonymous", "password": "", "home": home}]))
        port = unattended.loopback_config(config)
        unattended.set_config_keys(config, **keys)
        name, marker = "TarvexTest" + secrets.token_hex(6), harness.native_path(config)
        command = harness.native_path(harness.PROGRAM) + " -service -config " + marker
        self.assertEqual(wine("sc", "create", name, "binPath=", command)[0], 0)
        self.addCleanup(self.remove, name, marker.encode())
        return name, port, marker.encode()

    def remove(self, name, marker):
        wine("sc", "stop", name)
        harness.wait_until(lambda: status(name).get("STATE", STOPPED) == STOPPED, harness.START_TIMEOUT)
        wine("sc", "delete", name)
        for pid in running(marker):
            os.kill(pid, signal.SIGKILL)

    def test_serves_then_stops_in_order(self):
        # Two control managers in a prefix lose a service's reports: "wineboot -i"
        # on a new Wine server starts a second one, "wineboot" does not.
        self.assertEqual(len(running(b"\\services.exe")), 1, "boot the prefix with wineboot, not wineboot -i")
        name, port, marker = self.create()
        self.assertEqual(wine("net", "start", name)[0], 0)
        self.assertEqual((status(name)["STATE"], len(running(marker))), (RUNNING, 1))
        self.assertIn("served.txt", unattended.list_and_fetch(port, "served.txt")[0])
        with harness.control_connection(socket.create_connection(("127.0.0.1", port), timeout=10)) as session:
            self.assertTrue(session.reply().startswith("220 "))
            self.assertEqual(wine("net", "stop", name)[0], 0)
            self.assertTrue(session.is_closed_by_server(10))  # the server ended the session
        self.assertTrue(harness.wait_until(lambda: not running(marker), harness.START_TIMEOUT))
        self.assertEqual(status(name), {"STATE": STOPPED, "WIN32_EXIT_CODE": 0, "SERVICE_EXIT_CODE": 0})

    def test_failed_start_stops_with_a_service_exit_code(self):
        for keys in ({"listen_port": "notanumber"}, {"listen_address": "192.0.2.1"}):
            with self.subTest(**keys):
                name = self.create(**keys)[0]
                wine("net", "start", name)  # Wine's net.exe calls every end of a start a success
                self.assertTrue(harness.wait_until(lambda: status(name).get("STATE") == STOPPED, 30))
                # ERROR_SERVICE_SPECIFIC_ERROR with the program's own code
                self.assertEqual(status(name), {"STATE": STOPPED, "WIN32_EXIT_CODE": 1066, "SERVICE_EXIT_CODE": 1})


if __name__ == "__main__":
    unittest.main()
