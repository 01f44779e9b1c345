"""Two servers behind HAProxy sharing one home folder: the recipe of
examples/haproxy.cfg, tried on loopback addresses. The balancer is 127.0.0.10,
the instances 127.0.0.11 and 127.0.0.12, clients come from other 127/8
addresses (HAProxy's `balance source` sends different ones to different
instances)."""
import concurrent.futures
import ftplib
import hashlib
import io
import os
import shutil
import socket
import subprocess
import tempfile
import unittest

import harness

HAPROXY = shutil.which("haproxy")
EXAMPLE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "examples", "haproxy.cfg")
BALANCER, INSTANCES = "127.0.0.10", ("127.0.0.11", "127.0.0.12")
PASSIVE_PORTS = 10  # each instance's range
SHARED = os.urandom(200 * 1024 + 3)


def sha256(data):
    return hashlib.sha256(data).hexdigest()


def balancer_config(control_port, instance_ports, passive_base):
    """examples/haproxy.cfg with this machine's addresses and ports, without
    its syslog lines."""
    with open(EXAMPLE, encoding="utf-8") as f:
        text = f.read()
    ranges = ["%s:%d-%d" % (BALANCER, passive_base + i * PASSIVE_PORTS, passive_base + (i + 1) * PASSIVE_PORTS - 1)
              for i in range(2)]
    for old, new in [("192.0.2.10:21", "%s:%d" % (BALANCER, control_port)),
                     ("10.0.0.11:21", "%s:%d" % (INSTANCES[0], instance_ports[0])),
                     ("10.0.0.12:21", "%s:%d" % (INSTANCES[1], instance_ports[1])),
                     ("192.0.2.10:50000-50099", ranges[0]), ("192.0.2.10:50100-50199", ranges[1]),
                     ("10.0.0.10", BALANCER), ("10.0.0.11", INSTANCES[0]), ("10.0.0.12", INSTANCES[1])]:
        if old not in text:
            raise AssertionError("examples/haproxy.cfg no longer says " + old)
        text = text.replace(old, new)
    logging = lambda line: line.split()[:1] == ["log"] or line.split() == ["option", "tcplog"]
    return "".join(line for line in text.splitlines(True) if not logging(line))


class cluster:
    """HAProxy and two instances sharing the first one's home, all stopped on exit."""

    def __enter__(self):
        self.instances, self.haproxy = [], None
        self.root = tempfile.mkdtemp(prefix="tarvex-balancer-")
        try:
            self.start()
        except BaseException:
            self.__exit__()
            raise
        return self

    def start(self):
        hosts = (BALANCER,) + INSTANCES
        self.passive_base = harness.free_port_block(2 * PASSIVE_PORTS, hosts=hosts)
        self.port = harness.free_port_block(1, 32000, 40000, hosts=(BALANCER,))
        for i, address in enumerate(INSTANCES):
            first = self.passive_base + i * PASSIVE_PORTS
            config = {"listen-address": address, "listen-port": "0", "pasv-address": BALANCER,
                      "pasv-ports": "%d-%d" % (first, first + PASSIVE_PORTS - 1), "proxy-from": BALANCER}
            users = [harness.demo_account(self.instances[0].home())] if self.instances else None
            instance = harness.server(config=config, users=users)
            self.instances.append(instance)
            instance.start()
        path = os.path.join(self.root, "haproxy.cfg")
        with open(path, "w", encoding="utf-8") as f:
            f.write(balancer_config(self.port, [s.port for s in self.instances], self.passive_base))
        self.haproxy = subprocess.Popen([HAPROXY, "-f", path, "-db"], stdin=subprocess.DEVNULL,
                                        stdout=subprocess.PIPE, stderr=subprocess.STDOUT, start_new_session=True)
        self.haproxy_output = harness.output_reader(self.haproxy.stdout)
        if not harness.wait_until(self.greets, 15.0):
            raise AssertionError("HAProxy did not pass sessions on:\n" + self.haproxy_output.text())
        with open(os.path.join(self.home(), "shared.bin"), "wb") as f:
            f.write(SHARED)

    def greets(self):
        try:
            with socket.create_connection((BALANCER, self.port), timeout=5.0) as s:
                return s.recv(4).startswith(b"220 ")
        except OSError:
            return False

    def __exit__(self, *exc):
        if self.haproxy is not None:
            self.haproxy.terminate()
            try:
                self.haproxy.wait(10)
            except subprocess.TimeoutExpired:
                self.haproxy.kill()
                self.haproxy.wait(10)
            self.haproxy.stdout.close()
        for instance in reversed(self.instances):
            instance.stop()
        shutil.rmtree(self.root, ignore_errors=True)
        return False

    def home(self):
        return self.instances[0].home()

    def instance_of(self, passive_port):
        """Which instance (0 or 1) announced this passive port."""
        return (passive_port - self.passive_base) // PASSIVE_PORTS

    def ftp(self, source):
        f = ftplib.FTP(timeout=30.0, source_address=(source, 0))
        f.connect(BALANCER, self.port)
        f.login("demo", "secret")
        return f


def passive_port(ftp):
    return harness.parse_pasv_reply(ftp.sendcmd("PASV"))[1]


def ftplib_session(c, source, name, data, active):
    """Upload, list and download through the balancer; the SHA-256s seen."""
    with c.ftp(source) as f:
        f.set_pasv(not active)
        f.storbinary("STOR " + name, io.BytesIO(data))
        listed = f.nlst()
        got = {}
        for wanted in (name, "shared.bin"):
            received = io.BytesIO()
            f.retrbinary("RETR " + wanted, received.write)
            got[wanted] = sha256(received.getvalue())
        f.quit()
    return name in listed, got


def curl_session(c, source, name, data, active):
    """The same with curl: one run uploads, one lists and downloads both files
    on one connection."""
    folder = tempfile.mkdtemp(dir=c.root)
    local = os.path.join(folder, "up")
    with open(local, "wb") as f:
        f.write(data)
    url = "ftp://demo:secret@%s:%d/" % (BALANCER, c.port)
    mode = ["--ftp-port", source] if active else ["--ftp-pasv"]
    common = ["--interface", source] + mode
    status, _, error = harness.curl(*common, "-T", local, url + name)
    if status != 0:
        raise AssertionError("curl upload: " + error)
    outputs = [os.path.join(folder, n) for n in ("list", "mine", "shared")]
    status, _, error = harness.curl(*common, url, "-o", outputs[0], url + name, "-o", outputs[1],
                                    url + "shared.bin", "-o", outputs[2])
    if status != 0:
        raise AssertionError("curl download: " + error)
    listed = [line.split()[-1] for line in harness.read_file(outputs[0]).decode().splitlines()]
    return name in listed, {name: sha256(harness.read_file(outputs[1])),
                            "shared.bin": sha256(harness.read_file(outputs[2]))}


def needs_haproxy():
    if HAPROXY is None:
        message = "HAProxy is not installed (Debian package haproxy): the balancer recipe is NOT tried"
        if os.environ.get("CI") == "true":
            raise AssertionError(message + ": CI must run these tests")
        raise unittest.SkipTest(message)


class behind_haproxy(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        needs_haproxy()
        cls.cluster = cluster().__enter__()

    @classmethod
    def tearDownClass(cls):
        cls.cluster.__exit__()

    def test_twenty_sessions_from_ftplib_and_curl_in_both_modes(self):
        rows = [(client, active, "127.0.0.%d" % (20 + i), "s%02d.bin" % i, os.urandom(64 * 1024 + i))
                for i, (client, active) in enumerate(
                    [(ftplib_session, False), (ftplib_session, True), (curl_session, False), (curl_session, True)] * 5)]
        with concurrent.futures.ThreadPoolExecutor(len(rows)) as pool:
            futures = [pool.submit(client, self.cluster, source, name, data, active)
                       for client, active, source, name, data in rows]
            for (client, active, source, name, data), future in zip(rows, futures):
                with self.subTest(client=client.__name__, active=active, source=source):
                    listed, got = future.result(timeout=120)
                    self.assertTrue(listed)
                    self.assertEqual(got, {name: sha256(data), "shared.bin": sha256(SHARED)})
                    self.assertEqual(harness.read_file(os.path.join(self.cluster.home(), name)), data)

    def test_what_one_instance_stores_the_other_lists(self):
        by_instance = {}
        for i in range(2, 60):
            if len(by_instance) == 2:
                break
            with self.cluster.ftp("127.0.0.%d" % i) as f:
                by_instance.setdefault(self.cluster.instance_of(passive_port(f)), "127.0.0.%d" % i)
        self.assertEqual(len(by_instance), 2, "balance source sent 58 addresses to one instance")
        with self.cluster.ftp(by_instance[0]) as f:
            f.storbinary("STOR from-a.txt", io.BytesIO(b"stored by a"))
        with self.cluster.ftp(by_instance[1]) as f:
            self.assertEqual(self.cluster.instance_of(passive_port(f)), 1)
            self.assertIn("from-a.txt", f.nlst())
            received = io.BytesIO()
            f.retrbinary("RETR from-a.txt", received.write)
            self.assertEqual(received.getvalue(), b"stored by a")

    def test_a_data_connection_from_another_address_is_refused(self):
        with self.cluster.ftp("127.0.0.1") as f:
            f.voidcmd("TYPE I")
            port = passive_port(f)
            f.putcmd("RETR shared.bin")
            # The balancer names 127.0.0.13 in its header: the instance closes it.
            for source, wanted in (("127.0.0.13", b""), ("127.0.0.1", SHARED)):
                with socket.create_connection((BALANCER, port), 30.0, (source, 0)) as data:
                    try:
                        received = harness.finish_data(data)
                    except ConnectionResetError:
                        received = b""
                    self.assertEqual(sha256(received), sha256(wanted), source)
            self.assertEqual(f.getresp()[:4], "150 ")
            self.assertEqual(f.getresp(), "226 Transfer complete")


class one_instance_stopped(unittest.TestCase):
    def test_new_sessions_are_still_served(self):
        needs_haproxy()
        with cluster() as c:
            sources = ["127.0.0.%d" % i for i in range(20, 40)]
            moved = []
            for source in sources:
                with c.ftp(source) as f:
                    if c.instance_of(passive_port(f)) == 1:
                        moved.append(source)
            self.assertTrue(moved, "balance source sent 20 addresses to one instance")
            c.instances[1].stop()
            for source in moved:
                with self.subTest(source=source), c.ftp(source) as f:
                    self.assertEqual(c.instance_of(passive_port(f)), 0)
                    received = io.BytesIO()
                    f.retrbinary("RETR shared.bin", received.write)
                    self.assertEqual(received.getvalue(), SHARED)

if __name__ == "__main__":
    unittest.main()
