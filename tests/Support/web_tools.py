#!/usr/bin/python3
"""Clients and stand-in servers for the tests of the web layer, driven by a test over standard input and output.

Every tool prints one line per thing that happened and flushes it at once; commands come as lines on standard
input. Bytes travel as hexadecimal text.

  ws-client URL [SUBPROTOCOL]   WebSocket client. Prints "open <subprotocol>", "recv <hex>", "closed <code>" or
                                "refused <reason>". Commands: "send <hex>", "sendtext <text>",
                                "sendfrag <hex> <hex> ...", "sendmany <count> <hex>" (that many binary messages
                                in one write), "close".
  ws-hold URL COUNT ADDRESS...  COUNT WebSocket clients at once, client i connecting from ADDRESS i modulo the
                                addresses given; each only holds its connection. Prints "open <i>",
                                "refused <i> <reason>" and "closed <i> <code>" per client and "settled" once every
                                client has opened or been refused; runs until standard input ends.
  ws-server PORT [SUBPROTOCOL]  WebSocket server on 127.0.0.1. Prints "ready", then per connection
                                "request <path>", "header <name> <value>" for the handshake headers, "open",
                                "recv <hex>" and "closed <code>". Commands: "send <hex>", "close".
  http-server PORT [CERT]       HTTP stand-in on 127.0.0.1 (HTTPS with the certificate and key file). Prints
                                "ready" and "request <method> <path> ua=<user agent> body=<body>" per request.
                                POST echoes the body; GET /slow?ms=N answers "slow" after N ms;
                                GET /redirect?to=URL redirects; GET /loop redirects to itself; GET /big?n=N sends
                                N bytes; other GETs answer "ok".
  silent-server PORT            Accepts connections on 127.0.0.1 and never answers. Prints "ready", "accepted".
"""

import asyncio
import http.server
import socket
import socketserver
import ssl
import sys
import threading
import time
import urllib.parse


def say(text):
    sys.stdout.write(text + "\n")
    sys.stdout.flush()


def stdin_lines(loop, queue):
    """Feeds the lines of standard input into an asyncio queue; None at its end."""

    def reader():
        for line in sys.stdin:
            loop.call_soon_threadsafe(queue.put_nowait, line.strip())
        loop.call_soon_threadsafe(queue.put_nowait, None)

    threading.Thread(target=reader, daemon=True).start()


async def run_commands(queue, websocket):
    while True:
        line = await queue.get()
        if line is None or line == "close":
            await websocket.close()
            return
        word, _, rest = line.partition(" ")
        if word == "send":
            await websocket.send(bytes.fromhex(rest))
        elif word == "sendtext":
            await websocket.send(rest)
        elif word == "sendfrag":
            await websocket.send([bytes.fromhex(part) for part in rest.split()])
        elif word == "sendmany":
            from websockets.frames import Frame, Opcode

            count, _, data = rest.partition(" ")
            frame = Frame(Opcode.BINARY, bytes.fromhex(data)).serialize(mask=True)
            websocket.transport.write(frame * int(count))


async def print_messages(websocket):
    try:
        async for message in websocket:
            if isinstance(message, str):
                message = message.encode()
            say("recv " + message.hex())
    except Exception:
        pass
    say("closed %s" % websocket.close_code)


async def ws_client(url, subprotocol):
    import websockets

    queue = asyncio.Queue()
    stdin_lines(asyncio.get_running_loop(), queue)
    try:
        websocket = await websockets.connect(
            url, subprotocols=[subprotocol] if subprotocol else None, compression=None, max_size=None,
            open_timeout=10)
    except Exception as error:
        say("refused %s" % type(error).__name__)
        return
    say("open %s" % (websocket.subprotocol or "-"))
    commands = asyncio.ensure_future(run_commands(queue, websocket))
    await print_messages(websocket)
    commands.cancel()


async def ws_hold(url, count, addresses):
    import websockets

    queue = asyncio.Queue()
    stdin_lines(asyncio.get_running_loop(), queue)

    async def hold(index):
        try:
            websocket = await websockets.connect(url, local_addr=(addresses[index % len(addresses)], 0),
                                                 compression=None, open_timeout=10)
        except Exception as error:
            say("refused %d %s" % (index, type(error).__name__))
            return None
        say("open %d" % index)
        return websocket

    async def watch(index, websocket):
        try:
            await websocket.wait_closed()
        finally:
            say("closed %d %s" % (index, websocket.close_code))

    websockets_held = await asyncio.gather(*(hold(i) for i in range(count)))
    watchers = [asyncio.ensure_future(watch(i, w)) for i, w in enumerate(websockets_held) if w is not None]
    say("settled")
    while await queue.get() is not None:
        pass
    for watcher in watchers:
        watcher.cancel()


async def ws_server(port, subprotocol):
    import websockets

    queue = asyncio.Queue()
    stdin_lines(asyncio.get_running_loop(), queue)

    async def record_request(path, headers):
        say("request %s" % path)
        for name, value in headers.raw_items():
            say("header %s %s" % (name.lower(), value))
        return None

    async def handler(websocket, path=None):
        say("open")
        commands = asyncio.ensure_future(run_commands(queue, websocket))
        await print_messages(websocket)
        commands.cancel()

    async with websockets.serve(handler, "127.0.0.1", port, process_request=record_request,
                                subprotocols=[subprotocol] if subprotocol else None, compression=None,
                                max_size=None):
        say("ready")
        await asyncio.Future()


class StandInHandler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def answer(self, status, body, headers=()):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def record(self, body=b""):
        say("request %s %s ua=%s body=%s" % (self.command, self.path, self.headers.get("User-Agent", ""),
                                              body.decode("latin-1")))

    def do_POST(self):
        body = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        self.record(body)
        self.answer(200, body)

    def do_GET(self):
        self.record()
        url = urllib.parse.urlparse(self.path)
        query = urllib.parse.parse_qs(url.query)
        if url.path == "/slow":
            time.sleep(int(query.get("ms", ["1000"])[0]) / 1000.0)
            self.answer(200, b"slow")
        elif url.path == "/redirect":
            self.answer(302, b"", [("Location", query["to"][0])])
        elif url.path == "/loop":
            self.answer(302, b"", [("Location", "/loop")])
        elif url.path == "/big":
            self.answer(200, b"x" * int(query.get("n", ["0"])[0]))
        else:
            self.answer(200, b"ok")


class StandInServer(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def http_server(port, certificate):
    server = StandInServer(("127.0.0.1", port), StandInHandler)
    if certificate:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(certificate)
        server.socket = context.wrap_socket(server.socket, server_side=True)
    say("ready")
    server.serve_forever()


def silent_server(port):
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", port))
    listener.listen(64)
    say("ready")
    held = []
    while True:
        connection, _ = listener.accept()
        held.append(connection)
        say("accepted")


def main():
    tool, arguments = sys.argv[1], sys.argv[2:]
    if tool == "ws-client":
        asyncio.run(ws_client(arguments[0], arguments[1] if len(arguments) > 1 else None))
    elif tool == "ws-hold":
        asyncio.run(ws_hold(arguments[0], int(arguments[1]), arguments[2:]))
    elif tool == "ws-server":
        asyncio.run(ws_server(int(arguments[0]), arguments[1] if len(arguments) > 1 else None))
    elif tool == "http-server":
        http_server(int(arguments[0]), arguments[1] if len(arguments) > 1 else None)
    elif tool == "silent-server":
        silent_server(int(arguments[0]))
    else:
        sys.exit("unknown tool " + tool)


if __name__ == "__main__":
    main()
