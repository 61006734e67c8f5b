#!/usr/bin/python3
"""A camera's HTTP side for the tests, on loopback: serves the JPEG files of a folder as an MJPEG
stream (multipart/x-mixed-replace) in a loop at a given rate, optionally behind basic or digest
authentication; or misbehaves as broken cameras do: accepts and never answers ("silent"), or
answers with bytes that are no stream ("garbage"). With --close-after the server ends every
stream after that many frames and closes the connection, as a camera that stops streaming does;
the next request is served again.

Prints "PORT <n>" on its first line once it listens. Runs until killed.

    http_camera.py --mode mjpeg --frames DIR [--fps 10] [--user U --password P [--digest]] [--forbid]
                   [--close-after N]
    http_camera.py --mode silent | garbage
"""

import argparse
import base64
import hashlib
import os
import secrets
import socket
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

BOUNDARY = "tavrixframe"
REALM = "camera"


def parse_digest(header):
    fields = {}
    for part in header[len("Digest "):].split(","):
        if "=" in part:
            key, value = part.strip().split("=", 1)
            fields[key] = value.strip('"')
    return fields


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"
    options = None
    frames = []
    nonce = secrets.token_hex(8)

    def log_message(self, *args):
        pass

    def authorized(self):
        opts = self.options
        if not opts.user:
            return True
        header = self.headers.get("Authorization", "")
        if not opts.digest and header.startswith("Basic "):
            expected = base64.b64encode(f"{opts.user}:{opts.password}".encode()).decode()
            return header[6:] == expected
        if opts.digest and header.startswith("Digest "):
            f = parse_digest(header)
            ha1 = hashlib.md5(f"{opts.user}:{REALM}:{opts.password}".encode()).hexdigest()
            ha2 = hashlib.md5(f"{self.command}:{f.get('uri', '')}".encode()).hexdigest()
            if "qop" in f:
                text = f"{ha1}:{f.get('nonce')}:{f.get('nc')}:{f.get('cnonce')}:{f.get('qop')}:{ha2}"
            else:
                text = f"{ha1}:{f.get('nonce')}:{ha2}"
            return f.get("username") == opts.user and f.get("response") == hashlib.md5(text.encode()).hexdigest()
        return False

    def do_GET(self):
        if self.options.forbid:
            self.send_response(403)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        if not self.authorized():
            self.send_response(401)
            if self.options.digest:
                challenge = f'Digest realm="{REALM}", nonce="{self.nonce}", qop="auth", algorithm=MD5'
            else:
                challenge = f'Basic realm="{REALM}"'
            self.send_header("WWW-Authenticate", challenge)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        self.send_response(200)
        self.send_header("Content-Type", f"multipart/x-mixed-replace; boundary={BOUNDARY}")
        self.send_header("Cache-Control", "no-cache")
        self.end_headers()
        interval = 1.0 / self.options.fps
        index = 0
        try:
            while not self.options.close_after or index < self.options.close_after:
                frame = self.frames[index % len(self.frames)]
                index += 1
                self.wfile.write(f"--{BOUNDARY}\r\nContent-Type: image/jpeg\r\n"
                                 f"Content-Length: {len(frame)}\r\n\r\n".encode())
                self.wfile.write(frame)
                self.wfile.write(b"\r\n")
                self.wfile.flush()
                time.sleep(interval)
        except (BrokenPipeError, ConnectionResetError):
            pass


def serve_raw(listener, mode):
    """Accepts connections and never answers (silent) or answers with noise (garbage)."""
    held = []

    def garbage(conn):
        try:
            while True:
                conn.sendall(os.urandom(4096))
                time.sleep(0.05)
        except OSError:
            pass

    while True:
        conn, _ = listener.accept()
        held.append(conn)
        if mode == "garbage":
            threading.Thread(target=garbage, args=(conn,), daemon=True).start()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--mode", default="mjpeg", choices=["mjpeg", "silent", "garbage"])
    parser.add_argument("--frames")
    parser.add_argument("--fps", type=float, default=10)
    parser.add_argument("--user", default="")
    parser.add_argument("--password", default="")
    parser.add_argument("--digest", action="store_true")
    parser.add_argument("--forbid", action="store_true", help="answer every request with 403")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--close-after", type=int, default=0, help="frames before each stream closes")
    opts = parser.parse_args()

    if opts.mode != "mjpeg":
        listener = socket.socket()
        listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        listener.bind(("127.0.0.1", opts.port))
        listener.listen(16)
        print(f"PORT {listener.getsockname()[1]}", flush=True)
        serve_raw(listener, opts.mode)
        return

    names = sorted(n for n in os.listdir(opts.frames) if n.endswith(".jpg"))
    Handler.frames = [open(os.path.join(opts.frames, n), "rb").read() for n in names]
    if not Handler.frames:
        sys.exit("no frames")
    Handler.options = opts
    ThreadingHTTPServer.allow_reuse_address = True
    ThreadingHTTPServer.daemon_threads = True
    server = ThreadingHTTPServer(("127.0.0.1", opts.port), Handler)
    print(f"PORT {server.server_address[1]}", flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
