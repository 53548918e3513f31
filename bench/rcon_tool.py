#!/usr/bin/python3
"""Remote-console load for VexaLoad (run by it, or by hand against a running server).

  guess URL CONNECTIONS SOURCES SECONDS
      CONNECTIONS WebSocket connections guess the remote-console password for SECONDS seconds. Connection i binds
      to 127.0.0.(2 + i % SOURCES). Each sends bursts of 200 wrong-password
      messages in one write, as a flood would, and connects again whenever the server closes it or refuses it.
      Prints one line: "guess sent=<messages> answers=<answers> opened=<connections> refused=<refusals>".
  probe URL PASSWORD SECONDS
      Authenticates and prints "ready", then sends "/start nosuch" every 100 ms for SECONDS seconds, waiting for each answer, and prints
      "probe replies=<n> median_ms=<m> p95_ms=<p> max_ms=<x> timeouts=<t>" (a reply not seen within 15 s is a
      time-out).
"""

import asyncio
import struct
import sys
import time

import websockets
from websockets.frames import Frame, Opcode

MAGIC = 0x54523402
BURST = 200


def message(message_id, text):
    data = text.encode()
    length = bytearray()
    value = len(data)
    while True:
        byte = value & 0x7F
        value >>= 7
        length.append(byte | (0x80 if value else 0))
        if not value:
            break
    return struct.pack("<BII", 0x86, MAGIC, message_id) + bytes(length) + data


def source_address(index, sources):
    return "127.0.0.%d" % (2 + index % sources)


async def guesser(url, index, sources, deadline, counts):
    burst = b"".join(Frame(Opcode.BINARY, message(2, "wrong%d" % n)).serialize(mask=True) for n in range(BURST))
    while time.monotonic() < deadline:
        try:
            websocket = await websockets.connect(url, local_addr=(source_address(index, sources), 0),
                                                 compression=None, open_timeout=5, close_timeout=1)
        except Exception:
            counts["refused"] += 1
            await asyncio.sleep(0.05)
            continue
        counts["opened"] += 1
        try:
            while time.monotonic() < deadline:
                websocket.transport.write(burst)
                counts["sent"] += BURST
                for _ in range(BURST):
                    remaining = deadline - time.monotonic()
                    if remaining <= 0:
                        break
                    await asyncio.wait_for(websocket.recv(), remaining)
                    counts["answers"] += 1
        except Exception:
            pass
        websocket.transport.abort()


async def guess(url, connections, sources, seconds):
    counts = {"sent": 0, "answers": 0, "opened": 0, "refused": 0}
    deadline = time.monotonic() + seconds
    await asyncio.gather(*(guesser(url, i, sources, deadline, counts) for i in range(connections)))
    print("guess sent=%(sent)d answers=%(answers)d opened=%(opened)d refused=%(refused)d" % counts, flush=True)


async def probe(url, password, seconds):
    websocket = await websockets.connect(url, compression=None, open_timeout=10)
    await websocket.send(message(2, password))
    answer = await asyncio.wait_for(websocket.recv(), 30)
    if answer[-1:] != b"\x01":
        print("probe not authenticated", flush=True)
        return
    print("ready", flush=True)
    times = []
    timeouts = 0
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        start = time.monotonic()
        await websocket.send(message(1, "/start nosuch"))
        try:
            await asyncio.wait_for(websocket.recv(), 15)
            times.append((time.monotonic() - start) * 1000.0)
        except asyncio.TimeoutError:
            timeouts += 1
        await asyncio.sleep(0.1)
    times.sort()
    if not times:
        print("probe replies=0 timeouts=%d" % timeouts, flush=True)
        return
    print("probe replies=%d median_ms=%.1f p95_ms=%.1f max_ms=%.1f timeouts=%d" % (
        len(times), times[len(times) // 2], times[int(0.95 * (len(times) - 1))], times[-1], timeouts), flush=True)


def main():
    mode, arguments = sys.argv[1], sys.argv[2:]
    if mode == "guess":
        asyncio.run(guess(arguments[0], int(arguments[1]), int(arguments[2]), float(arguments[3])))
    elif mode == "probe":
        asyncio.run(probe(arguments[0], arguments[1], float(arguments[2])))
    else:
        sys.exit("unknown mode " + mode)


if __name__ == "__main__":
    main()
