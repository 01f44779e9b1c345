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
import unittest

PROGRAM = os.environ.get("TARVEX_PROGRAM", "")
UNDER_WINE = bool(os.environ.get("TARVEX_WINE"))
# A sanitized build (address, undefined-behaviour or thread sanitizer) runs
# several times slower: load tests scale down under it.
SANITIZED = bool(os.environ.get("TARVEX_SANITIZED"))


def slow_timer_case(test):
    """Marks a case that waits out one of the long timers (30 or 60 seconds).
    The native and Windows legs run it; the sanitized legs, which look for
    memory and thread faults, leave it out to keep the suite short."""
    return unittest.skipIf(SANITIZED, "a slow timer case: run natively and under Wine")(test)
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


def demo_account(home):
    """The [user] section of "demo", password "secret", who may write in home."""
    return {"name": "demo", "password": "secret", "home": native_path(home), "can-write": "yes"}


def reader_account(home):
    """The [user] section of "reader", password "read", who may only read in home."""
    return {"name": "reader", "password": "read", "home": native_path(home), "can-write": "no"}


def make_tree(base, tree):
    """Makes the files and folders of tree under base: tree maps a relative path
    to file bytes, or to None for a folder."""
    for rel, content in tree.items():
        path = os.path.join(base, rel)
        if content is None:
            os.makedirs(path, exist_ok=True)
        else:
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(content)


def read_tree(base, file_value=bytes):
    """Every entry under base, as make_tree takes it: relative path -> None for a
    folder, file_value(bytes) for a file (its bytes by default)."""
    found = {}
    for folder, dirs, files in os.walk(base):
        for name in dirs:
            found[os.path.relpath(os.path.join(folder, name), base)] = None
        for name in files:
            with open(os.path.join(folder, name), "rb") as f:
                found[os.path.relpath(os.path.join(folder, name), base)] = file_value(f.read())
    return found


def read_file(path):
    with open(path, "rb") as f:
        return f.read()


def wait_until(predicate, timeout=10.0):
    """True as soon as predicate() holds; False when it still fails after timeout."""
    deadline = time.monotonic() + timeout
    while not predicate():
        if time.monotonic() > deadline:
            return False
        time.sleep(0.01)
    return True


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
            users = [demo_account(self.homes["demo"])]
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

    def connect(self, timeout=10.0, source=None):
        """A raw control connection, from the loopback address source when given
        (on Linux, and so under Wine, all of 127/8 is loopback)."""
        return control_connection(socket.create_connection(("127.0.0.1", self.port), timeout=timeout,
                                                           source_address=(source, 0) if source else None))

    def rewrite_config(self, config=None, users=()):
        """Replaces Config.ini before start, for accounts whose homes are made after __init__."""
        if config is None:
            config = {"listen-address": "127.0.0.1", "listen-port": "0"}
        with open(self.config_path, "w", encoding="utf-8", newline="") as f:
            f.write(config_text(config, users))

    def log_in(self, user="demo", password="secret", timeout=10.0, source=None):
        """A raw control connection past the greeting and a successful USER / PASS."""
        c = self.connect(timeout, source)
        try:
            greeting = c.reply()
            if not greeting.startswith("220 TARVEX "):
                raise AssertionError("greeting: %r" % greeting)
            reply = c.command("USER " + user)
            if reply.startswith("331 "):
                reply = c.command("PASS " + password)
            if reply != "230 User %s logged in" % user:
                raise AssertionError("login of %s: %r" % (user, reply))
        except BaseException:
            c.close()
            raise
        return c


class shared_server_case(unittest.TestCase):
    """A test class whose tests share one server, started in setUpClass and
    stopped in tearDownClass. server_homes names the home-<name> folders made in
    the scratch folder; prepare_server fills that folder and returns the
    accounts. A start that fails partway stops what it started."""

    server_homes = ("demo",)

    @classmethod
    def prepare_server(cls, s):
        """Runs before s starts: may fill the scratch folder s.root, and returns the
        [user] sections of Config.ini. By default "demo" on home-demo."""
        return [demo_account(s.home())]

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.server = server(users=[], homes=cls.server_homes)
        try:
            cls.server.rewrite_config(users=cls.prepare_server(cls.server))
            cls.server.start()
        except BaseException:
            cls.server.stop()
            raise

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()
        super().tearDownClass()


class confined_home_case(shared_server_case):
    """A shared server whose one account, "demo" (who may write), has the folder
    "home" of the scratch folder, among what scratch_tree (make_tree's form)
    makes there, inside the home and beside it. cls.root is the scratch folder
    and cls.home the home."""

    server_homes = ()
    scratch_tree = {}

    @classmethod
    def prepare_server(cls, s):
        cls.root = s.root
        cls.home = os.path.join(s.root, "home")
        make_tree(s.root, dict(cls.scratch_tree, home=None))
        return [demo_account(cls.home)]


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

    def reply_or_end(self):
        """The next reply line as text without CR LF, or None when the server closed
        the connection instead of answering. A line must end with CR LF."""
        try:
            line = self.read_line()
        except (ConnectionResetError, ConnectionAbortedError):
            return None
        if not line:
            return None
        if not line.endswith(b"\r\n"):
            raise AssertionError("reply cut short: %r" % line)
        return line[:-2].decode("utf-8", "replace")

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


def exchange(connection, line, lines=1):
    """Sends one command line and reads its reply: a text, a tuple of texts when
    lines > 1, or None when the server ended the session instead of answering."""
    try:
        connection.send(line)
    except (BrokenPipeError, ConnectionResetError, ConnectionAbortedError):
        return None
    first = connection.reply_or_end()
    if first is None or lines == 1:
        return first
    return (first,) + tuple(connection.reply_or_end() for _ in range(lines - 1))


def run_rows(test, start_session, rows):
    """Runs a table of (command line, expected reply) rows, each as a subTest, on
    sessions made by start_session(). The expected reply is one line, a tuple of
    lines, or None: the server must end the session without a reply, and the next
    row runs on a fresh session (so does every row after an unexpected end)."""
    connection = start_session()
    try:
        for line, expected in rows:
            lines = len(expected) if isinstance(expected, tuple) else 1
            got = exchange(connection, line, lines)
            with test.subTest(line=line):
                test.assertEqual(got, expected)
            if got is None or (isinstance(got, tuple) and None in got):
                connection.close()
                connection = start_session()
    finally:
        connection.close()


# Data connections. The server listens on 127.0.0.1 only, so the tests open their
# data connections there, whatever address a 227 reply announces.

PASV_REPLY = re.compile(r"227 Entering Passive Mode \(([0-9]+(?:,[0-9]+){5})\)\.")


def parse_pasv_reply(reply):
    """The (address text, port) of a 227 reply; AssertionError unless the line has
    exactly that form with six plain decimal numbers from 0 to 255."""
    match = PASV_REPLY.fullmatch(reply)
    numbers = match.group(1).split(",") if match else []
    if not match or any(n != str(int(n)) or int(n) > 255 for n in numbers):
        raise AssertionError("not a 227 reply: %r" % reply)
    n = [int(x) for x in numbers]
    return "%d.%d.%d.%d" % tuple(n[:4]), n[4] * 256 + n[5]


def enter_passive(connection):
    """Sends PASV; returns the announced port."""
    return parse_pasv_reply(connection.command("PASV"))[1]


def open_data(port, source=None, timeout=30.0):
    """A data connection to the passive port, optionally from a chosen local address."""
    return socket.create_connection(("127.0.0.1", port), timeout=timeout,
                                    source_address=(source, 0) if source else None)


def active_listener(host="127.0.0.1", timeout=30.0):
    """A listening socket that a PORT command can name."""
    listener = socket.socket()
    listener.settimeout(timeout)
    listener.bind((host, 0))
    listener.listen(4)
    return listener


def port_argument(listener):
    """The PORT argument that names listener."""
    host, port = listener.getsockname()
    return ",".join(host.split(".") + [str(port >> 8), str(port & 0xFF)])


def finish_data(data, upload=None):
    """Sends upload (if given) and ends the sending side, then reads until the
    server closes; returns what the server sent."""
    if upload is not None:
        data.sendall(upload)
        data.shutdown(socket.SHUT_WR)
    received = bytearray()
    while True:
        chunk = data.recv(1 << 20)
        if not chunk:
            return bytes(received)
        received += chunk


def start_transfer(connection, command, active=False):
    """Prepares a data connection (PASV, or PORT when active), sends command and,
    when it answers with a 150 line, opens the data connection: (first reply,
    data socket, or None when the reply is another one; the prepared data
    connection is then left as it is)."""
    listener = active_listener() if active else None
    try:
        if active:
            reply = connection.command("PORT " + port_argument(listener))
            if reply != "200 PORT command successful":
                raise AssertionError("PORT: %r" % reply)
        else:
            port = enter_passive(connection)
        first = connection.command(command)
        if not first.startswith("150 "):
            return first, None
        data = listener.accept()[0] if active else open_data(port)
        data.settimeout(30.0)
        return first, data
    finally:
        if listener is not None:
            listener.close()


def transfer(connection, command, upload=None, active=False):
    """One whole transfer with start_transfer: (first reply, bytes received, final
    reply), the last two None when the first reply is not a 150 line."""
    first, data = start_transfer(connection, command, active)
    if data is None:
        return first, None, None
    with data:
        received = finish_data(data, upload)
    return first, received, connection.reply()


def free_port_block(count, first=20000, last=32000, hosts=("127.0.0.1",)):
    """The first of count consecutive ports that are free on every address of
    hosts right now (below the usual ephemeral range, so that outgoing
    connections do not take them meanwhile)."""
    import random
    for _ in range(200):
        base = random.randrange(first, last - count)
        probes = []
        try:
            for port in range(base, base + count):
                for host in hosts:
                    probe = socket.socket()
                    probes.append(probe)
                    probe.bind((host, port))
            return base
        except OSError:
            continue
        finally:
            for probe in probes:
                probe.close()
    raise AssertionError("no block of %d free ports" % count)


def curl(*args, timeout=40.0):
    """Runs curl bounded to 30 seconds; returns (exit code, stdout bytes, stderr text)."""
    done = subprocess.run(["curl", "--silent", "--show-error", "--max-time", "30"] + list(args),
                          capture_output=True, timeout=timeout, stdin=subprocess.DEVNULL)
    return done.returncode, done.stdout, done.stderr.decode("utf-8", "replace")


# Clients that misbehave, load and faults.

def reset_close(sock):
    """Closes sock with a reset (SO_LINGER of 0) instead of an orderly end."""
    import struct
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    sock.close()


def thread_count(pid):
    """The number of threads of a native process, from /proc."""
    with open("/proc/%d/status" % pid, encoding="ascii") as status:
        for line in status:
            if line.startswith("Threads:"):
                return int(line.split()[1])
    raise AssertionError("no thread count for process %d" % pid)


def flood(sock, data, limit, time_limit=20.0, stall=2.0):
    """Sends data over and over on sock without reading anything, up to limit
    bytes or for time_limit seconds, stopping early once no byte could be sent
    for `stall` seconds. Leaves sock non-blocking. Returns (bytes sent, True
    when it stalled)."""
    import select
    sock.setblocking(False)
    sent = 0
    started = time.monotonic()
    while sent < limit and time.monotonic() - started < time_limit:
        offset = sent % len(data)  # whole copies of data only, even after a partial send
        try:
            sent += sock.send(memoryview(data)[offset:offset + limit - sent])
        except BlockingIOError:
            if not select.select([], [sock], [], stall)[1]:
                return sent, True
    return sent, False


def greeted_sessions(server, count, timeout=10.0, user="demo", password="secret"):
    """Up to count logged-in sessions, connecting again while the server closes
    new connections without a greeting (its workers are still busy), until the
    time is up."""
    sessions = []
    deadline = time.monotonic() + timeout
    while len(sessions) < count and time.monotonic() < deadline:
        c = server.connect(timeout=max(0.1, deadline - time.monotonic()))
        try:
            if c.read_line().startswith(b"220 TARVEX ") and c.command("USER " + user).startswith("331 ") \
                    and c.command("PASS " + password) == "230 User %s logged in" % user:
                sessions.append(c)
                continue
        except OSError:
            pass  # neither greeted nor closed in time, or reset
        c.close()
    return sessions


SANITIZER_REPORT = re.compile(r"ERROR: \w+Sanitizer|WARNING: ThreadSanitizer|runtime error: ")


def sanitizer_reports(text):
    """The lines of a program's output that report a sanitizer finding."""
    return [line for line in text.splitlines() if SANITIZER_REPORT.search(line)]
