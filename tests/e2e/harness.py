"""Starts the real program on a scratch folder with its own Config.ini and talks
to it. Every wait is bounded; every process started here is stopped by its PID."""
import os
import re
import shutil
import signal
import socket
import subprocess
import tempfile
import threading
import time

PROGRAM = os.environ.get("TARVEX_PROGRAM", "")
UNDER_WINE = bool(os.environ.get("TARVEX_WINE"))
# Wine starts slowly; the native program in well under a second.
START_TIMEOUT = 60.0 if UNDER_WINE else 15.0


def command_line_for(program, *args):
    return (["wine", program] if UNDER_WINE else [program]) + list(args)


def command_line(*args):
    return command_line_for(PROGRAM, *args)


def native_path(path):
    """A path as the program sees it (Wine maps the Unix root to drive Z:)."""
    if UNDER_WINE:
        return "Z:" + path.replace("/", "\\")
    return path


def config_text(config=None, users=()):
    """Builds a Config.ini text: config is a dict of [config] keys, users a list of dicts."""
    lines = []
    if config is not None:
        lines.append("[config]")
        lines += ["%s=%s" % (k, v) for k, v in config.items()]
    for user in users:
        lines.append("[user]")
        lines += ["%s=%s" % (k, v) for k, v in user.items()]
    return "\r\n".join(lines) + "\r\n"


class output_reader:
    """Collects a pipe's lines on a thread so that reads can wait with a bound."""

    def __init__(self, pipe):
        self.lines = []
        self.closed = False
        self._cond = threading.Condition()
        self._thread = threading.Thread(target=self._pump, args=(pipe,), daemon=True)
        self._thread.start()

    def _pump(self, pipe):
        for raw in iter(pipe.readline, b""):
            with self._cond:
                self.lines.append(raw.decode("utf-8", "replace").rstrip("\r\n"))
                self._cond.notify_all()
        with self._cond:
            self.closed = True
            self._cond.notify_all()

    def wait_for(self, predicate, timeout):
        """Returns the first line matching predicate, or None when the time is up."""
        deadline = time.monotonic() + timeout
        with self._cond:
            while True:
                for line in self.lines:
                    if predicate(line):
                        return line
                left = deadline - time.monotonic()
                if left <= 0 or self.closed:
                    return None
                self._cond.wait(left)

    def text(self):
        with self._cond:
            return "\n".join(self.lines)


def run_program(args, timeout=None, cwd=None):
    """Runs the program to its end; returns (exit code, stdout lines, stderr lines)."""
    done = subprocess.run(command_line(*args), capture_output=True, timeout=timeout or START_TIMEOUT + 30,
                          cwd=cwd, stdin=subprocess.DEVNULL)
    out = done.stdout.decode("utf-8", "replace").splitlines()
    err = done.stderr.decode("utf-8", "replace").splitlines()
    return done.returncode, out, err


def exit_status(code):
    """The exit code as an unsigned byte (-1 becomes 255) on both platforms."""
    return code & 0xFF


class server:
    """A running program. Use as a context manager:

        with server(config={...}, users=[...]) as s:
            s.port, s.home("demo"), s.connect() ...
    """

    def __init__(self, config=None, users=None, homes=("demo",), wait_running=True):
        self.root = tempfile.mkdtemp(prefix="tarvex-e2e-")
        self.homes = {}
        for name in homes:
            path = os.path.join(self.root, "home-" + name)
            os.makedirs(path)
            self.homes[name] = path
        if config is None:
            config = {"listen-address": "127.0.0.1", "listen-port": "0"}
        if users is None:
            users = [{"name": "demo", "password": "secret", "home": native_path(self.homes["demo"]), "can-write": "yes"}]
        self.config_path = os.path.join(self.root, "Config.ini")
        with open(self.config_path, "w", encoding="utf-8", newline="") as f:
            f.write(config_text(config, users))
        self.wait_running = wait_running
        self.preexec = None  # run in the child before the program starts (POSIX only)
        self.process = None
        self.port = None

    def home(self, name="demo"):
        return self.homes[name]

    def __enter__(self):
        try:
            self.start()
        except BaseException:
            self.stop()
            raise
        return self

    def __exit__(self, *exc):
        self.stop()
        return False

    def start(self):
        self.process = subprocess.Popen(command_line("-config", native_path(self.config_path)),
                                        stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE, start_new_session=True,
                                        preexec_fn=self.preexec)
        self.stdout = output_reader(self.process.stdout)
        self.stderr = output_reader(self.process.stderr)
        if not self.wait_running:
            return
        line = self.stdout.wait_for(lambda l: l.startswith("ftp://"), START_TIMEOUT)
        if line is None:
            raise AssertionError("server did not start; stdout:\n%s\nstderr:\n%s"
                                 % (self.stdout.text(), self.stderr.text()))
        match = re.match(r"ftp://([0-9.]+)(?::(\d+))?$", line)
        self.host = match.group(1)
        self.port = int(match.group(2) or 21)

    def request_stop(self):
        """Asks for the orderly stop (SIGTERM natively, Ctrl+C under Wine)."""
        if self.process and self.process.poll() is None:
            self.process.send_signal(signal.SIGINT if UNDER_WINE else signal.SIGTERM)

    def wait_exit(self, timeout):
        """The exit code, or None when the process is still running after timeout."""
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            return None

    def stop(self):
        if self.process is not None:
            if self.process.poll() is None:
                self.request_stop()
                if self.wait_exit(15) is None:
                    self.process.kill()
                    self.process.wait(10)
            for pipe in (self.process.stdout, self.process.stderr):
                if pipe:
                    pipe.close()
        shutil.rmtree(self.root, ignore_errors=True)

    def connect(self, timeout=10.0):
        """A raw control connection."""
        return control_connection(socket.create_connection(("127.0.0.1", self.port), timeout=timeout))


class control_connection:
    """A raw control connection that reads reply lines byte-exactly."""

    def __init__(self, sock):
        self.sock = sock
        self.buffer = b""

    def close(self):
        self.sock.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def send_raw(self, data):
        self.sock.sendall(data)

    def send(self, line):
        self.sock.sendall(line.encode("utf-8") + b"\r\n" if isinstance(line, str) else line + b"\r\n")

    def read_line(self):
        """One reply line with its CR LF, as bytes; b"" when the server closed."""
        while b"\r\n" not in self.buffer:
            chunk = self.sock.recv(4096)
            if not chunk:
                rest, self.buffer = self.buffer, b""
                return rest
            self.buffer += chunk
        line, self.buffer = self.buffer.split(b"\r\n", 1)
        return line + b"\r\n"

    def reply(self):
        """One reply line as text without CR LF ("" when the server closed)."""
        return self.read_line().decode("utf-8", "replace").rstrip("\r\n")

    def command(self, line):
        self.send(line)
        return self.reply()

    def is_closed_by_server(self, timeout=5.0):
        """True when the server closes the connection without sending anything more."""
        self.sock.settimeout(timeout)
        try:
            data = self.sock.recv(4096)
        except ConnectionResetError:
            return True
        except socket.timeout:
            return False
        return data == b"" and self.buffer == b""
