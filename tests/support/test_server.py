"""The update server of the tests and the demo (tools/demo_server.py) on 127.0.0.1: the files below
its root by path, with Range ("bytes=N-" or "bytes=N-M": 206 and Content-Range; past the end 416). The query string,
or for a path <root>/_options.json ({"/files/c.zip": {"cut": "1000"}}, read on every request),
programs how a reply goes wrong: status=404 (that status, a short body); ignore_range=1 (a Range
request gets 200 and the whole file); wrong_range=1 (206 with the bytes from 0); overlong=1 (206 naming the
range asked, then every byte from its start to the file's end, with no length); no_length=1 (the
body ends with the connection); chunked=1 (chunked coding; with cut or reset the last chunk never
comes); cut=N, reset=N (the full length announced, the connection closed, or reset, after N body
bytes); stall=N (N body bytes, then nothing for a minute); once=1 (cut, reset and stall for the
path's first request only); delay=S (a wait first); hold=1 (a wait while <root>/_hold exists);
drip=S (8 KiB pieces S seconds apart); rate=N (at most N body bytes a second, per reply, as a
server that limits each connection). Each request is appended to <root>/_requests.log as
"METHOD PATH RANGE-HEADER USER-AGENT", and to <root>/_busy.log as "PATH N": N replies to that path
were being sent when it came (so N + 1 connections were busy with it)."""
import contextlib
import json
import os
import shutil
import socket
import struct
import sys
import tempfile
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer


class QuietServer(ThreadingHTTPServer):
    daemon_threads = True  # and a dropped connection (a closed keep-alive, a cancel) is ordinary here

    def handle_error(self, request, client_address):
        if not isinstance(sys.exc_info()[1], (ConnectionError, TimeoutError)):
            super().handle_error(request, client_address)


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, fmt, *args):
        pass

    def setup(self):
        super().setup()
        # Headers and body leave in two writes; with Nagle's algorithm the body would wait
        # for the client's delayed acknowledgement of the headers (40 ms on Linux), a cost
        # per request that real servers (nginx: tcp_nodelay) do not have.
        self.connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)

    def reply(self, status, body=b"", headers=()):
        self.send_response(status)
        for header in list(headers) + [("Content-Length", str(len(body)))]:
            self.send_header(*header)
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        root = self.server.root
        url = urllib.parse.urlsplit(self.path)
        with self.server.lock:
            busy = self.server.busy.get(url.path, 0)
            self.server.busy[url.path] = busy + 1
            with open(os.path.join(root, "_requests.log"), "a") as log:
                log.write("%s %s %s %s\n" % (self.command, self.path, self.headers.get("Range", "-"),
                                             self.headers.get("User-Agent", "-")))
            with open(os.path.join(root, "_busy.log"), "a") as log:
                log.write("%s %d\n" % (url.path, busy))
        try:
            self.serve(root, url)
        finally:
            with self.server.lock:
                self.server.busy[url.path] -= 1

    def serve(self, root, url):
        query = dict(urllib.parse.parse_qsl(url.query))
        with contextlib.suppress(OSError, ValueError), open(os.path.join(root, "_options.json")) as f:
            query = dict(json.load(f).get(url.path, {}), **query)
        if query.get("once"):
            with self.server.lock:
                if url.path in self.server.seen:
                    for key in ("cut", "reset", "stall"):
                        query.pop(key, None)
                self.server.seen.add(url.path)
        time.sleep(float(query.get("delay", 0)))
        while query.get("hold") and os.path.exists(os.path.join(root, "_hold")):
            time.sleep(0.05)
        if query.get("status", "200") != "200":
            return self.reply(int(query["status"]), b"status %s\n" % query["status"].encode())
        path = os.path.realpath(os.path.join(root, urllib.parse.unquote(url.path).lstrip("/")))
        if not path.startswith(os.path.realpath(root) + os.sep) or not os.path.isfile(path):
            return self.reply(404, b"not found\n")
        size, start, status = os.path.getsize(path), 0, 200
        end = size - 1  # the last byte sent
        wanted = self.headers.get("Range", "")
        if wanted.startswith("bytes=") and not query.get("ignore_range"):
            first, last = (wanted[6:].split("-") + [""])[:2]
            start = int(first or 0)
            if start >= size > 0:
                return self.reply(416, headers=[("Content-Range", "bytes */%d" % size)])
            end = min(int(last), size - 1) if last else size - 1
            start, status = (0 if query.get("wrong_range") else start), 206
        named = end
        if query.get("overlong"):
            end, query["no_length"] = size - 1, "1"
        length = end - start + 1
        self.send_response(status)
        if status == 206:
            self.send_header("Content-Range", "bytes %d-%d/%d" % (start, named, size))
        chunked = bool(query.get("chunked"))
        self.close_connection = bool(query.get("no_length")) and not chunked
        self.send_header(*(("Transfer-Encoding", "chunked") if chunked else ("Connection", "close")
                           if self.close_connection else ("Content-Length", str(length))))
        self.end_headers()
        limit = min(length, int(query.get("cut", query.get("reset", query.get("stall", length)))))
        drip, rate = float(query.get("drip", 0)), float(query.get("rate", 0))
        began = time.monotonic()
        with open(path, "rb") as f:
            f.seek(start)
            for sent in range(0, limit, 8192 if drip else 65536):
                chunk = f.read(min(8192 if drip else 65536, limit - sent))
                try:
                    self.wfile.write(b"%x\r\n%s\r\n" % (len(chunk), chunk) if chunked else chunk)
                    if drip:
                        self.wfile.flush()
                        time.sleep(drip)
                    if rate:
                        time.sleep(max(0.0, began + (sent + len(chunk)) / rate - time.monotonic()))
                except (BrokenPipeError, ConnectionResetError):
                    return
        if "stall" in query:
            self.wfile.flush()
            time.sleep(60)
            self.close_connection = True
        elif "reset" in query:
            # A zero linger time turns the close into a reset; the pause first lets the
            # client take in what was sent, which the reset would discard.
            self.wfile.flush()
            time.sleep(0.2)
            self.close_connection = True
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            self.connection.close()
        elif "cut" in query:
            self.wfile.flush()
            self.close_connection = True
            with contextlib.suppress(OSError):
                self.connection.shutdown(socket.SHUT_RDWR)
        elif chunked:
            self.wfile.write(b"0\r\n\r\n")


class TestServer:
    """The server on a port of its own (0: a free one) serving `root` (default: a
    fresh folder), in threads of this process. With `login_port` it also accepts
    and closes connections there, standing in for the realm's login port."""

    def __init__(self, root=None, port=0, login_port=None):
        self.own_root = root is None
        self.root = os.path.abspath(root or tempfile.mkdtemp(prefix="ostrel-server-"))
        self.server = QuietServer(("127.0.0.1", port), Handler)
        self.server.root, self.port = self.root, self.server.server_address[1]
        self.server.lock, self.server.seen, self.server.busy = threading.Lock(), set(), {}
        self.login = socket.create_server(("127.0.0.1", login_port)) if login_port else None

    def __enter__(self):
        threading.Thread(target=self.server.serve_forever, daemon=True).start()
        if self.login:
            threading.Thread(target=self._accept_logins, daemon=True).start()
        return self

    def _accept_logins(self):
        with contextlib.suppress(OSError):  # closed on exit
            while True:
                self.login.accept()[0].close()

    def url(self, path):
        return "http://127.0.0.1:%d%s" % (self.port, path)

    def __exit__(self, *exc):
        self.server.shutdown()
        self.server.server_close()
        if self.login:
            self.login.shutdown(socket.SHUT_RDWR)  # wakes the blocked accept
            self.login.close()
        if self.own_root:
            shutil.rmtree(self.root, ignore_errors=True)
        return False


if __name__ == "__main__":  # for the benches: test_server.py --root DIR [--port N]; prints "PORT n"
    args = dict(zip(sys.argv[1::2], sys.argv[2::2]))
    with TestServer(args["--root"], int(args.get("--port", 0))) as served:
        print("PORT %d" % served.port, flush=True)
        threading.Event().wait()
