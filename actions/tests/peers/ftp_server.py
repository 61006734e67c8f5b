#!/usr/bin/python3
"""FTP server for the upload tests: pyftpdlib on 127.0.0.1, a free port chosen by the system.

Prints "PORT <n>" once it listens and runs until its standard input closes. Every control
connection and every data-connection command (PORT, EPRT, PASV, EPSV) are noted in the connection
log, so that a test can tell whether a connection was made and in which mode. A second user
"reader" with the same password may not write.

Usage: ftp_server.py ROOT CONNECTION_LOG USER PASSWORD
"""
import logging
import os
import sys
import threading

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.log import config_logging
from pyftpdlib.servers import FTPServer


def main():
    config_logging(level=logging.WARNING)
    root, connection_log, user, password = sys.argv[1:5]
    authorizer = DummyAuthorizer()
    authorizer.add_user(user, password, root, perm="elradfmw")
    authorizer.add_user("reader", password, root, perm="elr")

    class Handler(FTPHandler):
        def note(self, what):
            with open(connection_log, "a") as f:
                f.write(what + "\n")

        def on_connect(self):
            self.note("connect")

        def ftp_PORT(self, line):
            self.note("PORT")
            return super().ftp_PORT(line)

        def ftp_EPRT(self, line):
            self.note("EPRT")
            return super().ftp_EPRT(line)

        def ftp_PASV(self, line):
            self.note("PASV")
            return super().ftp_PASV(line)

        def ftp_EPSV(self, line):
            self.note("EPSV")
            return super().ftp_EPSV(line)

    Handler.authorizer = authorizer
    Handler.banner = "tavrix test ftp"
    Handler.auth_failed_timeout = 0.1  # the tests need no brute-force delay
    server = FTPServer(("127.0.0.1", 0), Handler)
    print("PORT", server.address[1], flush=True)
    thread = threading.Thread(target=server.serve_forever, kwargs={"timeout": 0.2}, daemon=True)
    thread.start()
    while os.read(sys.stdin.fileno(), 4096):
        pass
    server.close_all()


if __name__ == "__main__":
    main()
