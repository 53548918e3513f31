#!/usr/bin/python3
"""The file server beside `python3 -m http.server`, serving the same files on the same machine in the same run.

    python3 bench/http_bench.py [--server build/Server/VexaServer] [--large-mib 128] [--small-count 2000]

Measured with curl's parallel mode (one curl process, its transfers side by side), over the loopback:
  - one large file downloaded by 1, 16 and 64 clients at once: throughput in MiB/s (all bytes / wall time);
  - many small files (1 KiB each) fetched by 16 clients at once: requests per second.
Every download is checked for its size. The run takes about a minute and stops by itself; each curl run is
bounded in time.
"""

import argparse
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

SMALL_SIZE = 1024
SMALL_FILES = 100
CURL_TIMEOUT = 300


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def wait_for_port(port, process, timeout=30):
    deadline = time.time() + timeout
    while time.time() < deadline:
        if process.poll() is not None:
            sys.exit("the server ended before it listened")
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=1):
                return
        except OSError:
            time.sleep(0.05)
    sys.exit("nothing listens on port %d" % port)


def run_curl(urls, parallel, folder):
    """Fetches every URL with at most `parallel` transfers at once; returns (seconds, the size of each download)."""
    config = os.path.join(folder, "curl.config")
    with open(config, "w") as out:
        for url in urls:
            out.write('url = "%s"\noutput = "/dev/null"\n' % url)
    command = ["curl", "-s", "-f", "--parallel", "--parallel-immediate", "--parallel-max", str(parallel),
               "-w", "%{size_download}\n", "-K", config]
    start = time.perf_counter()
    result = subprocess.run(command, capture_output=True, text=True, timeout=CURL_TIMEOUT)
    seconds = time.perf_counter() - start
    if result.returncode != 0:
        sys.exit("curl failed (%d): %s" % (result.returncode, result.stderr))
    sizes = [int(line) for line in result.stdout.split()]
    return seconds, sizes


def measure(name, base, large_size, small_count, folder):
    rows = []
    large_url = base + "/resources/bench/large.bin"
    for clients in (1, 16, 64):
        seconds, sizes = run_curl([large_url] * clients, clients, folder)
        if sizes != [large_size] * clients:
            sys.exit("%s: a large download had the wrong size" % name)
        rows.append(("large file, %d client%s" % (clients, "" if clients == 1 else "s"),
                     "%.0f MiB/s" % (clients * large_size / seconds / (1 << 20))))
    urls = [base + "/resources/bench/small-%d.txt" % (i % SMALL_FILES) for i in range(small_count)]
    seconds, sizes = run_curl(urls, 16, folder)
    if sizes != [SMALL_SIZE] * small_count:
        sys.exit("%s: a small download had the wrong size" % name)
    rows.append(("small files, 16 clients", "%.0f requests/s" % (small_count / seconds)))
    return rows


def main():
    parser = argparse.ArgumentParser()
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    parser.add_argument("--server", default=os.path.join(root, "build", "Server", "VexaServer"))
    parser.add_argument("--large-mib", type=int, default=128)
    parser.add_argument("--small-count", type=int, default=2000)
    options = parser.parse_args()
    if not os.path.exists(options.server):
        sys.exit("no server at %s (build it first)" % options.server)

    folder = tempfile.mkdtemp(prefix="vexa-http-bench-")
    processes = []
    try:
        files = os.path.join(folder, "htdocs", "resources", "bench")
        os.makedirs(files)
        large_size = options.large_mib << 20
        with open(os.path.join(files, "large.bin"), "wb") as out:
            chunk = os.urandom(1 << 20)
            for _ in range(options.large_mib):
                out.write(chunk)
        for i in range(SMALL_FILES):
            with open(os.path.join(files, "small-%d.txt" % i), "wb") as out:
                out.write(os.urandom(SMALL_SIZE))

        server = os.path.join(folder, "VexaServer")
        shutil.copy(options.server, server)
        http_port, python_port = free_port(), free_port()
        with open(os.path.join(folder, "server.xml"), "w") as out:
            out.write("<server><port>%d</port><httpport>%d</httpport><rconport>%d</rconport>"
                      "<bindip>127.0.0.1</bindip></server>\n" % (free_port(), http_port, free_port()))
        processes.append(subprocess.Popen([server, "-noinput"], cwd=folder, stdin=subprocess.DEVNULL,
                                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        wait_for_port(http_port, processes[-1])
        processes.append(subprocess.Popen(
            [sys.executable, "-m", "http.server", str(python_port), "--bind", "127.0.0.1", "--directory",
             os.path.join(folder, "htdocs")], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        wait_for_port(python_port, processes[-1])

        results = [("VexaServer", measure("VexaServer", "http://127.0.0.1:%d" % http_port, large_size,
                                          options.small_count, folder)),
                   ("python3 -m http.server", measure("python3 -m http.server", "http://127.0.0.1:%d" % python_port,
                                                      large_size, options.small_count, folder))]
        print("%d cores; large file %d MiB, %d small files of %d bytes fetched %d times" %
              (os.cpu_count(), options.large_mib, SMALL_FILES, SMALL_SIZE, options.small_count))
        print("%-28s %-26s %s" % ("scenario", results[0][0], results[1][0]))
        for (scenario, ours), (_, theirs) in zip(results[0][1], results[1][1]):
            print("%-28s %-26s %s" % (scenario, ours, theirs))
    finally:
        for process in processes:
            # The server quits in order on SIGINT, as on Ctrl+C.
            process.send_signal(signal.SIGINT)
            try:
                process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
