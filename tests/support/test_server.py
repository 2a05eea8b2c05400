#!/usr/bin/env python3
"""A programmable update server for tests, on 127.0.0.1.

It serves the files below --root by path. The query string programs how a
reply goes wrong, so tests need no control channel:

  ?status=404           answer with that status and a short body
  ?ignore_range=1       answer a Range request with 200 and the whole file
  ?no_length=1          send no Content-Length (the body ends with the connection)
  ?cut=N                announce the full length but close after N body bytes
  ?delay=S              wait S seconds before answering (time-out tests)
  ?drip=S               send the body in 8 KiB pieces, S seconds apart
  ?reset=N              announce the full length but reset the connection after N body bytes
  ?wrong_range=1        answer a Range request with 206 but the bytes (and Content-Range) from 0
  ?chunked=1            send the body with chunked transfer coding instead of a Content-Length;
                        with cut or reset the final empty chunk never comes

The same options can be set for a path without a query, in <root>/_options.json
({"/files/client.zip": {"cut": "1000"}}), read again on every request.

Range requests ("bytes=N-") get 206 with Content-Range. Every request is
appended to <root>/_requests.log as "METHOD PATH RANGE-HEADER USER-AGENT".

--login-port P also listens on TCP port P and accepts and closes connections,
standing in for the realm's login port. The chosen HTTP port is printed on the
first line of stdout ("PORT 12345").
"""
import argparse
import json
import os
import socket
import struct
import sys
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler

# The demo server's quiet server and login-port listener serve the tests too.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))), "tools"))
from demo_server import QuietServer, serve_login_port  # noqa: E402




class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    root = "."

    def log_message(self, fmt, *args):
        pass

    def _record(self):
        line = "%s %s %s %s\n" % (self.command, self.path, self.headers.get("Range", "-"),
                                  self.headers.get("User-Agent", "-"))
        with open(os.path.join(self.root, "_requests.log"), "a") as log:
            log.write(line)

    def do_GET(self):
        self._record()
        url = urllib.parse.urlsplit(self.path)
        query = dict(urllib.parse.parse_qsl(url.query))
        try:
            with open(os.path.join(self.root, "_options.json")) as f:
                query = dict(json.load(f).get(url.path, {}), **query)
        except (OSError, ValueError):
            pass
        if "delay" in query:
            time.sleep(float(query["delay"]))
        if "status" in query and query["status"] != "200":
            body = ("status %s\n" % query["status"]).encode()
            self.send_response(int(query["status"]))
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)
            return
        rel = urllib.parse.unquote(url.path).lstrip("/")
        path = os.path.realpath(os.path.join(self.root, rel))
        if not path.startswith(os.path.realpath(self.root)) or not os.path.isfile(path):
            body = b"not found\n"
            self.send_response(404)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)
            return
        size = os.path.getsize(path)
        start = 0
        status = 200
        range_header = self.headers.get("Range")
        if range_header and range_header.startswith("bytes=") and not query.get("ignore_range"):
            start = int(range_header[6:].split("-")[0] or 0)
            asked = start
            if query.get("wrong_range"):
                start = 0
            if asked >= size and size > 0:
                self.send_response(416)
                self.send_header("Content-Range", "bytes */%d" % size)
                self.send_header("Content-Length", "0")
                self.end_headers()
                return
            status = 206
        length = size - start
        self.send_response(status)
        if status == 206:
            self.send_header("Content-Range", "bytes %d-%d/%d" % (start, size - 1, size))
        chunked = bool(query.get("chunked"))
        if chunked:
            self.send_header("Transfer-Encoding", "chunked")
        elif query.get("no_length"):
            self.send_header("Connection", "close")
            self.close_connection = True
        else:
            self.send_header("Content-Length", str(length))
        self.end_headers()
        limit = length
        for key in ("cut", "reset"):
            if key in query:
                limit = int(query[key])
        drip = float(query.get("drip", 0))
        with open(path, "rb") as f:
            f.seek(start)
            sent = 0
            while sent < min(limit, length):
                chunk = f.read(min(65536 if not drip else 8192, min(limit, length) - sent))
                if not chunk:
                    break
                try:
                    if chunked:
                        self.wfile.write(b"%x\r\n" % len(chunk) + chunk + b"\r\n")
                    else:
                        self.wfile.write(chunk)
                except (BrokenPipeError, ConnectionResetError):
                    return
                sent += len(chunk)
                if drip:
                    self.wfile.flush()
                    time.sleep(drip)
        if "reset" in query:
            # SO_LINGER with a zero time-out turns the close into a TCP reset. The pause
            # lets the client take in what was sent before the reset discards the rest.
            self.wfile.flush()
            time.sleep(0.2)
            self.close_connection = True
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            self.connection.close()
        elif "cut" in query:
            self.wfile.flush()
            self.close_connection = True
            try:
                self.connection.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
        elif chunked:
            self.wfile.write(b"0\r\n\r\n")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--login-port", type=int)
    args = parser.parse_args()
    Handler.root = os.path.abspath(args.root)
    server = QuietServer(("127.0.0.1", args.port), Handler)
    port = server.server_address[1]
    if args.login_port:
        serve_login_port("127.0.0.1", args.login_port)
    print("PORT %d" % port, flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    sys.exit(main())
