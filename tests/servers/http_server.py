#!/usr/bin/env python3
"""Loopback HTTP server for the download tests and the download benchmark.

Listens on 127.0.0.1 (port 0 unless --port), prints "PORT <n>" once ready,
and exits when its stdin reaches end of file or after --lifetime seconds.

Generated resources have known bytes that a test can recompute:
byte i of (size, seed) is block(seed)[i % 65536] ^ ((i // 65536) & 0xff),
block(seed) being 65536 bytes of the LCG below. Paths (a trailing /<name>
is free text that only sets the file name a client derives):

  /gen/<size>/<seed>/<name>          Content-Length, whole body
  /nolength/<size>/<seed>/<name>     no length: the end of the body is the close
  /chunked/<size>/<seed>/<name>      chunked transfer coding
  /chunked-cut/<size>/<seed>/<sent>/<name>  chunked, connection closed after
                                     <sent> bytes without the last chunk
  /cut/<size>/<seed>/<sent>/<name>   announces <size>, closes after <sent>
  /stall/<size>/<seed>/<sent>/<name> announces <size>, sends <sent>, then
                                     nothing (until the client goes away)
  /slow/<size>/<seed>/<chunk>/<ms>/<name>  <chunk> bytes every <ms> ms
  /silent/<name>                     reads the request, never answers
  /status/<code>/<name>              that status with a short HTML body
  /redirect/<code>/<target path>     redirect to <target path> on this server
  /empty/<name>                      200 with an empty body
  /agent                             the User-Agent header as the body
  /files/<relative path>             a file under --root (for benchmarks)
A request in absolute form ("GET http://host/x HTTP/1.1", as sent to a
proxy) is answered with "proxied <url>".
"""
import argparse
import os
import select
import socket
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

BLOCK = 65536
_blocks = {}
_blocks_lock = threading.Lock()


def block(seed):
    with _blocks_lock:
        b = _blocks.get(seed)
        if b is None:
            x = (seed * 2654435761 + 1) & 0xFFFFFFFF
            out = bytearray(BLOCK)
            for i in range(BLOCK):
                x = (x * 1103515245 + 12345) & 0x7FFFFFFF
                out[i] = (x >> 16) & 0xFF
            b = bytes(out)
            _blocks[seed] = b
        return b


_xor_tables = [bytes((i ^ k) for i in range(256)) for k in range(256)]


def generated(size, seed, start=0, end=None):
    """Yields the bytes [start, end) of resource (size, seed) in pieces."""
    if end is None:
        end = size
    base = block(seed)
    pos = start
    while pos < end:
        k = pos // BLOCK
        off = pos % BLOCK
        n = min(BLOCK - off, end - pos)
        piece = base[off:off + n].translate(_xor_tables[k & 0xFF])
        yield piece
        pos += n


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "QuilloryTestServer"
    root = None

    def log_message(self, fmt, *args):  # quiet: tests read stdout
        pass

    def send_plain(self, code, body, ctype="text/plain"):
        self.send_response(code)
        self.send_header("Content-Type", ctype)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def client_gone(self, timeout):
        """Waits up to timeout; True when the client closed its side."""
        r, _, _ = select.select([self.connection], [], [], timeout)
        if not r:
            return False
        try:
            return self.connection.recv(1, socket.MSG_PEEK) == b""
        except OSError:
            return True

    def hold(self):
        """Keeps the connection open without sending, until the client leaves."""
        self.close_connection = True
        deadline = time.monotonic() + self.server.lifetime
        while time.monotonic() < deadline:
            if self.client_gone(0.2):
                return

    def do_HEAD(self):
        self.do_GET()

    def do_GET(self):
        if self.path.startswith("http://") or self.path.startswith("https://"):
            return self.send_plain(200, ("proxied " + self.path).encode())
        parts = self.path.split("?", 1)[0].split("/")[1:]
        kind = parts[0] if parts else ""
        try:
            handler = getattr(self, "get_" + kind.replace("-", "_"), None)
            if handler is None:
                return self.send_plain(404, b"no such resource")
            handler(parts[1:])
        except (BrokenPipeError, ConnectionResetError):
            self.close_connection = True
        except (ValueError, IndexError):
            self.send_plain(400, b"bad test path")

    def write_generated(self, size, seed, start=0, end=None):
        for piece in generated(size, seed, start, end):
            self.wfile.write(piece)

    def get_gen(self, p):
        size, seed = int(p[0]), int(p[1])
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(size))
        self.end_headers()
        if self.command != "HEAD":
            self.write_generated(size, seed)

    def get_nolength(self, p):
        size, seed = int(p[0]), int(p[1])
        self.send_response(200)
        self.send_header("Connection", "close")
        self.end_headers()
        self.write_generated(size, seed)
        self.close_connection = True

    def write_chunked(self, size, seed, sent):
        for piece in generated(size, seed, 0, sent):
            self.wfile.write(b"%x\r\n" % len(piece) + piece + b"\r\n")

    def get_chunked(self, p):
        size, seed = int(p[0]), int(p[1])
        self.send_response(200)
        self.send_header("Transfer-Encoding", "chunked")
        self.end_headers()
        self.write_chunked(size, seed, size)
        self.wfile.write(b"0\r\n\r\n")

    def get_chunked_cut(self, p):
        size, seed, sent = int(p[0]), int(p[1]), int(p[2])
        self.send_response(200)
        self.send_header("Transfer-Encoding", "chunked")
        self.send_header("Connection", "close")
        self.end_headers()
        self.write_chunked(size, seed, sent)
        self.close_connection = True

    def get_cut(self, p):
        size, seed, sent = int(p[0]), int(p[1]), int(p[2])
        self.send_response(200)
        self.send_header("Content-Length", str(size))
        self.send_header("Connection", "close")
        self.end_headers()
        self.write_generated(size, seed, 0, sent)
        self.wfile.flush()
        self.close_connection = True

    def get_stall(self, p):
        size, seed, sent = int(p[0]), int(p[1]), int(p[2])
        self.send_response(200)
        self.send_header("Content-Length", str(size))
        self.end_headers()
        self.write_generated(size, seed, 0, sent)
        self.wfile.flush()
        self.hold()

    def get_slow(self, p):
        size, seed, chunk, ms = int(p[0]), int(p[1]), int(p[2]), int(p[3])
        self.send_response(200)
        self.send_header("Content-Length", str(size))
        self.end_headers()
        pos = 0
        while pos < size:
            n = min(chunk, size - pos)
            self.write_generated(size, seed, pos, pos + n)
            self.wfile.flush()
            pos += n
            if pos < size and self.client_gone(ms / 1000.0):
                self.close_connection = True
                return

    def get_silent(self, p):
        self.hold()

    def get_status(self, p):
        code = int(p[0])
        self.send_plain(code, b"<html><body>status %d</body></html>" % code, "text/html")

    def get_redirect(self, p):
        code = int(p[0])
        target = "/" + "/".join(p[1:])
        self.send_response(code)
        self.send_header("Location", target)
        self.send_header("Content-Length", "0")
        self.end_headers()

    def get_empty(self, p):
        self.send_plain(200, b"")

    def get_agent(self, p):
        self.send_plain(200, (self.headers.get("User-Agent") or "").encode())

    def get_files(self, p):
        if self.root is None:
            return self.send_plain(404, b"no --root")
        rel = "/".join(x for x in p if x not in ("", ".", ".."))
        path = os.path.join(self.root, rel)
        try:
            f = open(path, "rb")
        except OSError:
            return self.send_plain(404, b"no such file")
        with f:
            size = os.fstat(f.fileno()).st_size
            self.send_response(200)
            self.send_header("Content-Length", str(size))
            self.end_headers()
            if self.command != "HEAD":
                self.wfile.flush()
                offset = 0
                while offset < size:
                    n = os.sendfile(self.connection.fileno(), f.fileno(), offset, size - offset)
                    if n <= 0:
                        break
                    offset += n


class Server(ThreadingHTTPServer):
    daemon_threads = True
    request_queue_size = 1024
    allow_reuse_address = True


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--port", type=int, default=0)
    ap.add_argument("--lifetime", type=float, default=600.0)
    ap.add_argument("--root")
    args = ap.parse_args()
    Handler.root = args.root
    server = Server(("127.0.0.1", args.port), Handler)
    server.lifetime = args.lifetime
    threading.Thread(target=server.serve_forever, daemon=True).start()
    print("PORT %d" % server.server_address[1], flush=True)

    def watch_stdin():
        try:
            while sys.stdin.buffer.read(4096):
                pass
        except OSError:
            pass
        os._exit(0)

    threading.Thread(target=watch_stdin, daemon=True).start()
    time.sleep(args.lifetime)
    os._exit(0)


if __name__ == "__main__":
    main()
