"""Starting the program as a user or the system does, outside harness.server: from
its own folder without -config, without a console, with its standard handles
closed or on a terminal. Every wait is bounded; every process started here is
stopped by its PID."""
import os
import re
import signal
import socket
import subprocess
import threading
import time

import harness


def set_config_keys(path, **keys):
    """Replaces the values of [config] keys (underscores in the names stand for
    dashes) in a Config.ini, keeping its line ends; AssertionError when a key is
    not there."""
    with open(path, "rb") as f:
        text = f.read().decode("utf-8")
    for key, value in keys.items():
        key = key.replace("_", "-")
        text, count = re.subn(r"(?m)^%s=[^\r\n]*" % re.escape(key), "%s=%s" % (key, value), text)
        if count != 1:
            raise AssertionError("%s holds %d lines %s=" % (path, count, key))
    with open(path, "wb") as f:
        f.write(text.encode("utf-8"))


def loopback_config(path):
    """Points a shipped Config.ini at 127.0.0.1 with ports that are free now;
    returns the control port."""
    port = harness.free_port_block(1)
    passive = harness.free_port_block(8)
    set_config_keys(path, listen_address="127.0.0.1", listen_port=port,
                    pasv_ports="%d-%d" % (passive, passive + 7))
    return port


def wait_for_greeting(port, process, timeout=harness.START_TIMEOUT):
    """Connects until the server greets; returns the first line it sends (bytes),
    or None when the process ended or the time ran out first."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline and process.poll() is None:
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=5) as sock:
                sock.settimeout(max(0.1, min(10.0, deadline - time.monotonic())))
                line = b""
                while not line.endswith(b"\r\n"):
                    chunk = sock.recv(1)
                    if not chunk:
                        break
                    line += chunk
                return line
        except (ConnectionRefusedError, ConnectionResetError):
            time.sleep(0.05)
        except socket.timeout:
            return b""
    return None


def list_and_fetch(port, name, user=None):
    """Lists / and downloads name with curl (anonymously unless user is
    "name:password"): (listing text, file bytes). AssertionError when curl fails."""
    account = ["--user", user] if user else []
    url = "ftp://127.0.0.1:%d/" % port
    code, listing, err = harness.curl(*account, url)
    if code != 0:
        raise AssertionError("curl %s: %d %s" % (url, code, err))
    code, data, err = harness.curl(*account, url + name)
    if code != 0:
        raise AssertionError("curl %s%s: %d %s" % (url, name, code, err))
    return listing.decode("utf-8", "replace"), data


def stop_process(process, stop_signal=None, timeout=15.0):
    """Asks the process to stop (stop_signal, by default the orderly one: SIGINT
    under Wine, SIGTERM natively); kills its process group when it is still
    there after timeout. Returns the exit code of the orderly stop, or None."""
    if process.poll() is None:
        process.send_signal(stop_signal or (signal.SIGINT if harness.UNDER_WINE else signal.SIGTERM))
    try:
        return process.wait(timeout)
    except subprocess.TimeoutExpired:
        os.killpg(process.pid, signal.SIGKILL)
        process.wait(10)
        return None


class terminal:
    """A program on a terminal of its own (a pseudo-terminal), as from a shell
    window: its output is collected, and what the test writes is typed."""

    def __init__(self, command, stdin_from_null=False):
        import pty
        self.master, slave = pty.openpty()
        stdin = subprocess.DEVNULL if stdin_from_null else slave
        self.process = subprocess.Popen(command, stdin=stdin, stdout=slave, stderr=slave, start_new_session=True)
        os.close(slave)
        self._output = b""
        self._closing = False
        self._cond = threading.Condition()
        self._thread = threading.Thread(target=self._pump, daemon=True)
        self._thread.start()

    def _pump(self):
        import select
        while not self._closing:
            if not select.select([self.master], [], [], 0.2)[0]:
                continue
            try:
                data = os.read(self.master, 4096)
            except OSError:  # the last holder of the terminal went away
                data = b""
            with self._cond:
                self._output += data
                self._cond.notify_all()
            if not data:
                return

    def text(self):
        with self._cond:
            return self._output.decode("utf-8", "replace")

    def wait_for_text(self, text, timeout):
        """True once text has appeared on the terminal, False when the time ran out."""
        deadline = time.monotonic() + timeout
        with self._cond:
            while text.encode() not in self._output:
                left = deadline - time.monotonic()
                if left <= 0:
                    return False
                self._cond.wait(left)
            return True

    def type(self, data):
        os.write(self.master, data)

    def close(self):
        if self.process.poll() is None:
            os.killpg(self.process.pid, signal.SIGKILL)
            self.process.wait(10)
        self._closing = True
        self._thread.join(5)
        os.close(self.master)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False
