#!/usr/bin/env python3
"""Loopback HTTP server for tests: serves a folder plus a few hostile paths.

Prints "PORT <n>" on stdout once it listens. Exits by itself after
--lifetime seconds, and as soon as its stdin reaches end of file (the test
that started it has gone), unless --ignore-stdin is given.

Files ending in .html, .htm or .css have every @NAME@ replaced by the value
given with --define NAME=VALUE, so a page can name a second origin whose port
is only known at run time.

Special paths (query parameters in brackets):
  /never-answers            reads the request and never answers
  /slow[?bytes=N&delay=S]   dribbles N bytes, one every S seconds
  /huge[?type=T&length=1]   an endless body of type T (no length unless length=1)
  /redirect?to=URL          302 to URL
  /redirect-loop            302 to itself
  /status/NNN               answers with status NNN and a small HTML body
  /not-html                 a GIF picture (image/gif)
  /bytes?n=N                N bytes of a fixed pattern (application/octet-stream)
  /headers                  the request's headers as text/plain
  /gen/deep?depth=N         N nested <div> elements
  /gen/frames?count=N[&src=U&tag=iframe|frame]  a page of N frames
  /gen/images?count=N[&src=U&distinct=1]        a page of N pictures (distinct: "i=<n>" added to each)
  /gen/huge-attr?bytes=N    one element with an N-byte attribute value
"""

import argparse
import os
import posixpath
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

# Sending loops stop at this many bytes even if the client keeps reading.
MAX_STREAM_BYTES = 1 << 31

OUTPUT_LOCK = threading.Lock()

GIF_1X1 = bytes.fromhex(
    "47494638396101000100800000000000ffffff21f90401000000002c00000000010001000002024401003b")

TYPES = {
    ".html": "text/html; charset=utf-8",
    ".htm": "text/html; charset=utf-8",
    ".css": "text/css; charset=utf-8",
    ".js": "application/javascript",
    ".gif": "image/gif",
    ".png": "image/png",
    ".jpg": "image/jpeg",
    ".jpeg": "image/jpeg",
    ".webp": "image/webp",
    ".bmp": "image/bmp",
    ".ico": "image/x-icon",
    ".swf": "application/x-shockwave-flash",
    ".mov": "video/quicktime",
    ".rm": "application/vnd.rn-realmedia",
    ".wmv": "video/x-ms-wmv",
    ".txt": "text/plain; charset=utf-8",
}
TEMPLATED = (".html", ".htm", ".css")


def int_param(query, name, default, low=0, high=MAX_STREAM_BYTES):
    try:
        value = int(query.get(name, [default])[0])
    except ValueError:
        value = default
    return max(low, min(high, value))


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "QuilloryTestSite/1.0"

    def log_message(self, fmt, *args):
        pass  # the standard access log would interleave with the REQUEST lines

    def note_request(self):
        if self.server.log_requests:
            with OUTPUT_LOCK:
                sys.stdout.write("REQUEST %s %s\n" % (self.command, self.path))
                sys.stdout.flush()

    def do_HEAD(self):
        self.handle_request(head=True)

    def do_GET(self):
        self.handle_request(head=False)

    def send_body(self, status, ctype, body, head, extra=()):
        self.send_response(status)
        self.send_header("Content-Type", ctype)
        self.send_header("Content-Length", str(len(body)))
        for name, value in extra:
            self.send_header(name, value)
        self.end_headers()
        if not head:
            self.wfile.write(body)

    def handle_request(self, head):
        self.note_request()
        parsed = urllib.parse.urlsplit(self.path)
        path = parsed.path
        query = urllib.parse.parse_qs(parsed.query)
        special = getattr(self, "route_" + path.strip("/").replace("/", "_").replace("-", "_"), None)
        if path.startswith("/status/"):
            return self.route_status(path, head)
        if special is not None and (path.startswith("/gen/") or "/" not in path.strip("/")):
            return special(query, head)
        return self.serve_file(path, head)

    # --- hostile and helper paths -------------------------------------
    def route_never_answers(self, query, head):
        self.close_connection = True
        while not self.server.stopping.wait(1.0):
            pass

    def route_slow(self, query, head):
        count = int_param(query, "bytes", 100)
        delay = float(query.get("delay", ["0.5"])[0])
        self.close_connection = True
        self.send_response(200)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(count))
        self.end_headers()
        for _ in range(count):
            if head or self.server.stopping.wait(delay):
                return
            self.wfile.write(b" ")
            self.wfile.flush()

    def route_huge(self, query, head):
        ctype = query.get("type", ["text/html"])[0]
        self.close_connection = True
        self.send_response(200)
        self.send_header("Content-Type", ctype)
        if query.get("length", ["0"])[0] == "1":
            self.send_header("Content-Length", str(MAX_STREAM_BYTES))
        self.send_header("Connection", "close")
        self.end_headers()
        if head:
            return
        chunk = (b"<p>" + b"x" * 65533) if ctype.startswith("text/html") else b"\0" * 65536
        sent = 0
        while sent < MAX_STREAM_BYTES and not self.server.stopping.is_set():
            self.wfile.write(chunk)
            sent += len(chunk)

    def route_redirect(self, query, head):
        target = query.get("to", ["/"])[0]
        self.send_body(302, "text/html", b"moved", head, [("Location", target)])

    def route_redirect_loop(self, query, head):
        self.send_body(302, "text/html", b"moved", head, [("Location", "/redirect-loop")])

    def route_status(self, path, head):
        try:
            code = int(path.rsplit("/", 1)[1])
        except ValueError:
            code = 500
        code = code if 200 <= code <= 599 else 500
        body = ("<html><body><h1>Status %d</h1></body></html>" % code).encode()
        self.send_body(code, "text/html", body, head)

    def route_not_html(self, query, head):
        self.send_body(200, "image/gif", GIF_1X1, head)

    def route_bytes(self, query, head):
        count = int_param(query, "n", 1024, high=64 << 20)
        pattern = bytes(range(256))
        body = (pattern * (count // 256 + 1))[:count]
        self.send_body(200, "application/octet-stream", body, head)

    def route_headers(self, query, head):
        body = "".join("%s: %s\n" % (k, v) for k, v in self.headers.items()).encode()
        self.send_body(200, "text/plain", body, head)

    def route_gen_deep(self, query, head):
        depth = int_param(query, "depth", 1000, high=10_000_000)
        body = b"<!DOCTYPE html><html><body>" + b"<div>" * depth + b"deep" + b"</body></html>"
        self.send_body(200, "text/html", body, head)

    def route_gen_frames(self, query, head):
        count = int_param(query, "count", 100, high=1_000_000)
        src = query.get("src", ["/not-html"])[0]
        tag = query.get("tag", ["iframe"])[0]
        src_attr = urllib.parse.quote(src, safe="/:?&=%").encode()
        if tag == "frame":
            rows = b",".join([b"1"] * count)
            inner = (b'<frame src="' + src_attr + b'">') * count
            body = b"<!DOCTYPE html><html><frameset rows=\"" + rows + b"\">" + inner + b"</frameset></html>"
        else:
            inner = (b'<iframe src="' + src_attr + b'"></iframe>') * count
            body = b"<!DOCTYPE html><html><body>" + inner + b"</body></html>"
        self.send_body(200, "text/html", body, head)

    def route_gen_images(self, query, head):
        count = int_param(query, "count", 100, high=1_000_000)
        src = urllib.parse.quote(query.get("src", ["/not-html"])[0], safe="/:?&=%")
        if query.get("distinct", ["0"])[0] == "1":
            glue = "&" if "?" in src else "?"
            tags = "".join('<img src="%s%si=%d">' % (src, glue, i) for i in range(count))
        else:
            tags = '<img src="%s">' % src * count
        body = ("<!DOCTYPE html><html><body>" + tags + "</body></html>").encode()
        self.send_body(200, "text/html", body, head)

    def route_gen_huge_attr(self, query, head):
        size = int_param(query, "bytes", 1 << 20, high=256 << 20)
        body = b'<!DOCTYPE html><html><body><p data-x="' + b"x" * size + b'">big</p></body></html>'
        self.send_body(200, "text/html", body, head)

    # --- the folder ------------------------------------------------------
    def serve_file(self, path, head):
        root = self.server.root
        if root is None:
            return self.send_body(404, "text/html", b"<html><body>no such page</body></html>", head)
        # Percent-decoded as UTF-8 so that non-ASCII names map to the files.
        try:
            rel = posixpath.normpath(urllib.parse.unquote(path, encoding="utf-8", errors="strict"))
        except UnicodeDecodeError:
            return self.send_body(400, "text/html", b"<html><body>bad address</body></html>", head)
        parts = [p for p in rel.split("/") if p not in ("", ".", "..")]
        full = os.path.join(root, *parts)
        if os.path.isdir(full):
            full = os.path.join(full, "index.html")
        real = os.path.realpath(full)
        if not (real == root or real.startswith(root + os.sep)) or not os.path.isfile(real):
            return self.send_body(404, "text/html", b"<html><body>no such page</body></html>", head)
        with open(real, "rb") as f:
            body = f.read()
        ext = os.path.splitext(real)[1].lower()
        if ext in TEMPLATED:
            for name, value in self.server.defines.items():
                body = body.replace(("@%s@" % name).encode(), value.encode())
        self.send_body(200, TYPES.get(ext, "application/octet-stream"), body, head)


class Server(ThreadingHTTPServer):
    daemon_threads = True
    # The default backlog of 5 drops connection attempts of a client that
    # opens many at once, which then retries only after a second.
    request_queue_size = 128

    def handle_error(self, request, client_address):
        # A client that hangs up mid-body is the normal end of the hostile paths.
        if isinstance(sys.exc_info()[1], (ConnectionError, BrokenPipeError, TimeoutError)):
            return
        super().handle_error(request, client_address)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--root", help="folder to serve")
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--lifetime", type=float, default=120.0, help="seconds before the server exits")
    parser.add_argument("--define", action="append", default=[], metavar="NAME=VALUE")
    parser.add_argument("--log-requests", action="store_true", help='print "REQUEST <method> <path>" lines')
    parser.add_argument("--ignore-stdin", action="store_true", help="keep running when stdin closes")
    args = parser.parse_args()

    server = Server((args.host, args.port), Handler)
    server.root = os.path.realpath(args.root) if args.root else None
    server.defines = dict(d.split("=", 1) for d in args.define if "=" in d)
    server.log_requests = args.log_requests
    server.stopping = threading.Event()

    def leave():
        server.stopping.set()
        sys.stdout.flush()
        os._exit(0)

    timer = threading.Timer(args.lifetime, leave)
    timer.daemon = True
    timer.start()
    if not args.ignore_stdin:
        def watch_stdin():
            try:
                while sys.stdin.buffer.read(4096):
                    pass
            finally:
                leave()
        threading.Thread(target=watch_stdin, daemon=True).start()

    with OUTPUT_LOCK:
        print("PORT", server.server_address[1], flush=True)
    try:
        server.serve_forever(poll_interval=0.2)
    except KeyboardInterrupt:
        pass
    leave()


if __name__ == "__main__":
    main()
