#!/usr/bin/env python3
"""Loopback FTP server for the download tests (pyftpdlib, Debian package
python3-pyftpdlib).

Serves --root read-only to anonymous users on 127.0.0.1 (port 0), prints
"PORT <n>" once ready, and exits when its stdin reaches end of file or after
--lifetime seconds. When pyftpdlib cannot be imported it prints
"SKIP pyftpdlib missing" and exits with status 3.
"""
import os
import sys

try:
    from pyftpdlib.authorizers import DummyAuthorizer
    from pyftpdlib.handlers import FTPHandler
    from pyftpdlib.servers import FTPServer
except ImportError:
    # The interpreter first on PATH may be a private one without Debian's
    # packages; the system interpreter has them.
    system_python = "/usr/bin/python3"
    if os.path.realpath(sys.executable) != os.path.realpath(system_python) and os.path.exists(system_python):
        os.execv(system_python, [system_python, "-u", os.path.abspath(__file__)] + sys.argv[1:])
    print("SKIP pyftpdlib missing", flush=True)
    sys.exit(3)

import argparse
import logging
import threading
import time


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--root", required=True)
    ap.add_argument("--lifetime", type=float, default=600.0)
    args = ap.parse_args()
    logging.disable(logging.CRITICAL)

    authorizer = DummyAuthorizer()
    authorizer.add_anonymous(args.root, perm="elr")

    class Handler(FTPHandler):
        pass

    Handler.authorizer = authorizer
    Handler.passive_ports = None
    Handler.masquerade_address = None
    server = FTPServer(("127.0.0.1", 0), Handler)
    server.max_cons = 256
    print("PORT %d" % server.address[1], flush=True)

    def watch_stdin():
        try:
            while sys.stdin.buffer.read(4096):
                pass
        except OSError:
            pass
        os._exit(0)

    def watch_lifetime():
        time.sleep(args.lifetime)
        os._exit(0)

    threading.Thread(target=watch_stdin, daemon=True).start()
    threading.Thread(target=watch_lifetime, daemon=True).start()
    server.serve_forever(timeout=0.5)


if __name__ == "__main__":
    main()
