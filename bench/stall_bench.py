#!/usr/bin/python3
"""What one silent or greedy remote party costs the server: CPU, and how long until service comes back.

    python3 bench/stall_bench.py [--server build/Server/VexaServer] [SCENARIO ...]

Scenarios (all by default):
  transfers    a script starts --transfers httpGet requests (default 1024) to a host that accepts and never answers.
               Prints the server's CPU time per second of wall time while they wait (and that of the same
               server without them), how long until their completion functions ran (and with which codes),
               and whether a later httpGet is taken.
  descriptors  the server runs with its open-file limit at 256 (soft and hard) while the bench holds 400
               connections to its file server. Prints the CPU time per second of the file server's thread
               "HttpMgr" while descriptors are short, and how long until GET /sig is answered again.
  listing      the server-listing host accepts and never answers the handshake. Prints when the server gives
               up ("Failed to connect to the server listing") and when it connects again.

Each scenario bounds its own waits (a scenario that sees nothing in time says so) and takes about a minute and a
half at most; the server is always stopped and its folder removed.
"""

import argparse
import os
import resource
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import urllib.error
import urllib.request

TICKS = os.sysconf("SC_CLK_TCK")


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class SilentHost:
    """Accepts connections on 127.0.0.1 and holds them without ever sending a byte."""

    def __init__(self):
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(4096)
        self.port = self.listener.getsockname()[1]
        self.accepted = []
        self.times = []
        threading.Thread(target=self.run, daemon=True).start()

    def run(self):
        while True:
            try:
                connection, _ = self.listener.accept()
            except OSError:
                return
            self.accepted.append(connection)
            self.times.append(time.time())

    def close(self):
        self.listener.close()
        for connection in self.accepted:
            connection.close()


class Server:
    """The server binary in a folder of its own, its output collected with the time each line came."""

    def __init__(self, binary, config_children, resources=None, prefix=()):
        self.folder = tempfile.mkdtemp(prefix="vexa-stall-bench-")
        self.http_port = free_port()
        shutil.copy(binary, os.path.join(self.folder, "VexaServer"))
        names = ""
        for name, script in (resources or {}).items():
            os.makedirs(os.path.join(self.folder, "resources", name))
            with open(os.path.join(self.folder, "resources", name, "meta.xml"), "w") as out:
                out.write('<meta>\n\t<script src="main.lua" type="server" language="lua" />\n</meta>\n')
            with open(os.path.join(self.folder, "resources", name, "main.lua"), "w") as out:
                out.write(script)
            names += '<resource src="%s" />' % name
        with open(os.path.join(self.folder, "server.xml"), "w") as out:
            out.write("<server><port>%d</port><httpport>%d</httpport><rconport>%d</rconport>"
                      "<bindip>127.0.0.1</bindip><resources>%s</resources>%s</server>\n" %
                      (free_port(), self.http_port, free_port(), names, config_children))
        self.lines = []
        self.process = subprocess.Popen(list(prefix) + ["./VexaServer", "-noinput"], cwd=self.folder,
                                        stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                        stderr=subprocess.STDOUT, text=True, errors="replace")
        threading.Thread(target=self.read, daemon=True).start()

    def read(self):
        for line in self.process.stdout:
            self.lines.append((time.time(), line.rstrip("\n")))

    def wait_for(self, text, timeout):
        """The time of the first line holding the text, or None after the time-out."""
        deadline = time.time() + timeout
        while time.time() < deadline:
            for when, line in list(self.lines):
                if text in line:
                    return when
            if self.process.poll() is not None:
                return None
            time.sleep(0.05)
        return None

    def matching(self, text):
        return [(when, line) for when, line in list(self.lines) if text in line]

    def cpu_seconds(self, thread_name=None):
        """CPU time of the whole process, or of its one thread with that name."""
        stat = "/proc/%d/stat" % self.process.pid
        if thread_name:
            task = "/proc/%d/task" % self.process.pid
            for tid in os.listdir(task):
                with open(os.path.join(task, tid, "comm")) as comm:
                    if comm.read().strip() == thread_name:
                        stat = os.path.join(task, tid, "stat")
                        break
            else:
                return None
        with open(stat) as source:
            fields = source.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / TICKS

    def cpu_share(self, seconds, thread_name=None):
        """CPU seconds per wall second over the interval."""
        before, start = self.cpu_seconds(thread_name), time.time()
        time.sleep(seconds)
        after = self.cpu_seconds(thread_name)
        if before is None or after is None:
            return None
        return (after - before) / (time.time() - start)

    def stop(self):
        # The server quits in order on SIGINT, as on Ctrl+C.
        self.process.send_signal(signal.SIGINT)
        try:
            self.process.wait(timeout=15)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        shutil.rmtree(self.folder, ignore_errors=True)


def percent(share):
    return "n/a" if share is None else "%.1f%% of a core" % (100.0 * share)


def after(start, when):
    return "not within the bound" if when is None else "%.1f s" % (when - start)


def transfers(options):
    host = SilentHost()
    url = "http://127.0.0.1:%d/" % host.port
    script = """
local started, done, codes = 0, 0, {}
for i = 1, %d do
  if httpGet('%s', '', function() end, function(code, status)
      done = done + 1
      codes[code] = (codes[code] or 0) + 1
      if done == started then
        local summary = {}
        for code, count in pairs(codes) do summary[#summary + 1] = code .. ' x' .. count end
        print('all done: ' .. table.concat(summary, ', '))
        print('a later request is taken: ' .. tostring(httpGet('%s', '', function() end, function() end)))
      end
    end) then started = started + 1 end
end
print('started ' .. started)
""" % (options.transfers, url, url)
    idle = Server(options.server, "")
    try:
        if idle.wait_for("Resources loaded", 30) is None:
            sys.exit("the server did not start")
        time.sleep(2)
        idle_share = idle.cpu_share(10)
    finally:
        idle.stop()
    server = Server(options.server, "", {"waiters": script})
    try:
        start = server.wait_for("started ", 30)
        if start is None:
            sys.exit("the server did not start the transfers")
        time.sleep(2)
        share = server.cpu_share(10)
        done = server.wait_for("all done", options.bound)
        print("transfers: %s; %d connections reached the host" % (server.matching("started ")[0][1],
                                                                   len(host.accepted)))
        print("  server CPU while they wait:        %s (idle, without them: %s)" % (percent(share),
                                                                                    percent(idle_share)))
        print("  completion functions ran after:    %s" % after(start, done))
        for _, line in server.matching("all done") + server.matching("a later request"):
            print("  " + line)
    finally:
        server.stop()
        host.close()


def descriptors(options):
    server = Server(options.server, "", prefix=("prlimit", "--nofile=256:256"))
    held = []
    try:
        if server.wait_for("Resources loaded", 30) is None:
            sys.exit("the server did not start")
        soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
        resource.setrlimit(resource.RLIMIT_NOFILE, (max(soft, min(hard, 4096)), hard))
        for _ in range(400):
            connection = socket.socket()
            connection.setblocking(False)
            connection.connect_ex(("127.0.0.1", server.http_port))
            held.append(connection)
        time.sleep(1)
        share = server.cpu_share(5, "HttpMgr")
        # While the connections are held: the idle ones are closed by the server after its own time-out, and then
        # service should come back without the bench letting go of anything.
        start = time.time()
        answered = None
        while time.time() - start < options.bound:
            try:
                with urllib.request.urlopen("http://127.0.0.1:%d/sig" % server.http_port, timeout=2) as reply:
                    if reply.read() == b"DODI":
                        answered = time.time()
                        break
            except (urllib.error.URLError, OSError):
                pass
        print("descriptors: open-file limit 256, 400 connections held")
        print("  HttpMgr CPU while descriptors are short: %s" % percent(share))
        print("  GET /sig answered after:                  %s" % after(start, answered))
        for _, line in server.matching("descriptor"):
            print("  logged: " + line)
    finally:
        for connection in held:
            connection.close()
        server.stop()


def listing(options):
    host = SilentHost()
    server = Server(options.server, "<serverbrowser>true</serverbrowser><serverlistingurl>127.0.0.1:%d"
                    "</serverlistingurl>" % host.port)
    try:
        start = server.wait_for("Connecting to the server listing...", 30)
        if start is None:
            sys.exit("the server did not connect to the listing")
        failed = server.wait_for("Failed to connect to the server listing", options.bound)
        deadline = time.time() + 15
        while failed is not None and len(host.times) < 2 and time.time() < deadline:
            time.sleep(0.05)
        print("listing: the host accepts and never answers the handshake")
        print("  the attempt fails after:    %s" % after(start, failed))
        print("  the next connection after:  %s" % after(start, host.times[1] if len(host.times) > 1 else None))
    finally:
        server.stop()
        host.close()


def main():
    parser = argparse.ArgumentParser()
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    parser.add_argument("--server", default=os.path.join(root, "build", "Server", "VexaServer"))
    parser.add_argument("--transfers", type=int, default=1024)
    parser.add_argument("--bound", type=float, default=75.0, help="seconds to wait for each outcome")
    parser.add_argument("scenarios", nargs="*")
    options = parser.parse_args()
    runs = {"transfers": transfers, "descriptors": descriptors, "listing": listing}
    for scenario in options.scenarios:
        if scenario not in runs:
            sys.exit("unknown scenario %s (one of %s)" % (scenario, ", ".join(runs)))
    if not os.path.exists(options.server):
        sys.exit("no server at %s (build it first)" % options.server)
    print("%d cores" % os.cpu_count())
    for scenario in options.scenarios or list(runs):
        runs[scenario](options)


if __name__ == "__main__":
    main()
