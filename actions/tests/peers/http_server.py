#!/usr/bin/python3
"""A webhook receiver for the tests, on loopback.

Prints "PORT <n>" once it listens and runs until its standard input closes. Every request is
written to the file given as the first argument as one JSON line (method, path, headers, body).
Answers by path: /status/NNN with NNN; /flaky/N with 503 to the first N requests, then 200;
/slow after 5 seconds with 200; anything else 200.
"""
import json
import os
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

LOG = sys.argv[1]
LOCK = threading.Lock()
COUNTS = {}


class Handler(BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def handle_any(self):
        length = int(self.headers.get("Content-Length", "0") or "0")
        body = self.rfile.read(length).decode("utf-8", "replace") if length else ""
        with LOCK:
            COUNTS[self.path] = COUNTS.get(self.path, 0) + 1
            count = COUNTS[self.path]
            with open(LOG, "a") as log:
                log.write(json.dumps({"method": self.command, "path": self.path,
                                      "headers": dict(self.headers), "body": body}) + "\n")
        status = 200
        parts = self.path.strip("/").split("/")
        if parts[0] == "status" and len(parts) > 1:
            status = int(parts[1])
        elif parts[0] == "flaky" and len(parts) > 1:
            status = 503 if count <= int(parts[1]) else 200
        elif parts[0] == "slow":
            time.sleep(5)
        self.send_response(status)
        self.send_header("Content-Length", "2")
        self.end_headers()
        self.wfile.write(b"ok")

    do_GET = do_POST = do_PUT = do_DELETE = do_PATCH = handle_any


def main():
    server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    threading.Thread(target=server.serve_forever, daemon=True).start()
    print("PORT", server.server_address[1], flush=True)
    while os.read(sys.stdin.fileno(), 4096):
        pass


main()
