#!/usr/bin/python3
"""Other clients of velnor-registryd while peers misbehave.

  bench/server/peers.py [BUILD_DIR]

1. One peer opens 300 TCP connections, past its bound of 256, and holds
   them: the read time of another client (velnor-rove over the Unix socket,
   and over TCP as another user when run as root) while it holds them.
2. 500 peers each send 16 pipelined dumps of a 1 MB text over TCP and never
   read (small receive buffers): the read time of another client meanwhile,
   the server's peak RSS, how long until the server has closed them (its
   send time-out is 10 s) and its RSS and descriptors after.

Prints each figure beside its target; all traffic is on 127.0.0.1.
"""
import os
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import time

APPLICATION_KEY = b"registry-app"


def dump_request(request_id, node):
    """A GIOP 1.2 Request for dumpSubTree(node, all levels), little-endian."""
    body = bytearray()

    def align(n):
        while (12 + len(body)) % n:
            body.append(0)

    def ulong(v):
        align(4)
        body.extend(struct.pack("<I", v))

    ulong(request_id)
    body.extend(b"\x03\x00\x00\x00")  # response expected, reserved
    align(2)
    body.extend(struct.pack("<H", 0))  # target by object key
    ulong(len(APPLICATION_KEY))
    body.extend(APPLICATION_KEY)
    operation = b"dumpSubTree\x00"
    ulong(len(operation))
    body.extend(operation)
    ulong(0)  # no service contexts
    align(8)
    for v in (node, 0xFFFFFFFF, 0, 0):
        ulong(v)
    body.append(0)  # no hidden nodes
    return b"GIOP\x01\x02\x01\x00" + struct.pack("<I", len(body)) + bytes(body)


class Server:
    def __init__(self, bin_dir, work, tree, *args):
        self.work = work
        self.env = dict(os.environ, VELNOR_RUNTIME_DIR=os.path.join(work, "run"))
        os.makedirs(self.env["VELNOR_RUNTIME_DIR"], mode=0o755, exist_ok=True)
        self.bin_dir = bin_dir
        self.process = subprocess.Popen([os.path.join(bin_dir, "velnor-registryd"), "--tree", tree, "--port", "0", *args],
                                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=self.env, text=True)
        line = self.process.stdout.readline()
        self.port = int(line.rsplit(":", 1)[1])

    def read_time(self, node, tcp_as=None):
        """Seconds of one `velnor-rove NODE` run, and whether it succeeded."""
        command = [os.path.join(self.bin_dir, "velnor-rove"), node, "--port", str(self.port)]
        env = self.env
        if tcp_as:  # no socket in its runtime directory: it connects over TCP
            env = dict(os.environ, VELNOR_RUNTIME_DIR=tempfile.mkdtemp())
            os.chmod(env["VELNOR_RUNTIME_DIR"], 0o777)
            command = ["su", tcp_as, "-s", "/bin/sh", "-c", " ".join(command)]
        start = time.monotonic()
        ok = subprocess.run(command, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0
        return time.monotonic() - start, ok

    def status(self, field):
        with open(f"/proc/{self.process.pid}/status") as status:
            for line in status:
                if line.startswith(field + ":"):
                    return int(line.split()[1])
        return 0

    def descriptors(self):
        return len(os.listdir(f"/proc/{self.process.pid}/fd"))

    def stop(self):
        self.process.terminate()
        self.process.wait()


def load_average():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


def reads(server, seconds, tcp_as=None):
    """Read times over `seconds`; the slowest, and the failures."""
    worst, failed, count = 0.0, 0, 0
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        took, ok = server.read_time("small", tcp_as)
        worst = max(worst, took)
        failed += 0 if ok else 1
        count += 1
    return worst, failed, count


def connection_bound(bin_dir, work, tree):
    server = Server(bin_dir, work, tree)
    peer = [socket.create_connection(("127.0.0.1", server.port)) for _ in range(300)]
    print(f"one peer holding 300 TCP connections (bound 256), load average {load_average()}:")
    worst, failed, count = reads(server, 10)
    print(f"  other client (Unix socket): {count} reads, slowest {worst * 1000:.0f} ms, {failed} failed   (target < 1000 ms, 0 failed)")
    if os.geteuid() == 0 and shutil.which("su"):
        worst, failed, count = reads(server, 10, tcp_as="nobody")
        print(f"  other client (TCP, another user): {count} reads, slowest {worst * 1000:.0f} ms, {failed} failed   (target < 1000 ms, 0 failed)")
    for s in peer:
        s.close()
    server.stop()


def unread_peers(bin_dir, work, tree):
    server = Server(bin_dir, work, tree, "--max-peer-connections", "1000")
    server.read_time("s")
    before_rss, before_fds = server.status("VmRSS"), server.descriptors()
    requests = b"".join(dump_request(i + 1, 1) for i in range(16))
    peers = []
    for _ in range(500):
        s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        s.connect(("127.0.0.1", server.port))
        s.sendall(requests)
        peers.append(s)
    start = time.monotonic()
    print(f"500 peers pipelining 16 dumps of 1 MB and never reading, load average {load_average()}:")
    worst, failed, count = reads(server, 8)
    print(f"  other client (Unix socket): {count} reads, slowest {worst * 1000:.0f} ms, {failed} failed   (target < 1000 ms, 0 failed)")
    while server.descriptors() > before_fds and time.monotonic() - start < 120:
        time.sleep(0.5)
    closed = time.monotonic() - start
    peak = server.status("VmHWM")
    for s in peers:
        s.close()
    time.sleep(5)
    print(f"  server: RSS {before_rss // 1024} MiB before, peak {peak // 1024} MiB, {server.status('VmRSS') // 1024} MiB after;"
          f" descriptors back to {server.descriptors()} after {closed:.0f} s   (send time-out 10 s)")
    server.stop()


def main():
    bin_dir = os.path.abspath(os.path.join(sys.argv[1] if len(sys.argv) > 1 else "build", "bin"))
    work = tempfile.mkdtemp(prefix="velnor-peers-")
    try:
        tree = os.path.join(work, "tree.yaml")
        with open(tree, "w") as f:
            f.write('host: h\napplication:\n  nodes:\n    small: {type: int32, value: 1}\n')
            f.write('    s: {type: string, value: "' + "x" * (1 << 20) + '"}\nplatform: {}\n')
        connection_bound(bin_dir, work, tree)
        unread_peers(bin_dir, work, tree)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
