#!/usr/bin/python3
"""SMTP server for the mail tests: aiosmtpd on 127.0.0.1, a free port chosen by the system.

Prints "PORT <n>" once it listens and runs until its standard input closes, so it ends with the
test that started it. Every accepted mail is stored in the mail folder as <n>.eml (the DATA as
received) and <n>.json (envelope sender and recipients, whether the session logged in).

Usage: smtp_server.py MAILDIR [USER PASSWORD]  -- with a user, AUTH is required (no TLS needed).
"""
import asyncio
import json
import os
import sys

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword


class Store:
    def __init__(self, folder):
        self.folder = folder
        self.count = 0

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        base = os.path.join(self.folder, str(self.count))
        with open(base + ".eml.tmp", "wb") as f:
            f.write(envelope.original_content or envelope.content)
        meta = {"mail_from": envelope.mail_from, "rcpt_tos": envelope.rcpt_tos,
                "authenticated": bool(session.authenticated)}
        with open(base + ".json", "w") as f:
            json.dump(meta, f)
        os.rename(base + ".eml.tmp", base + ".eml")
        return "250 Message accepted for delivery"


def main():
    folder = sys.argv[1]
    user = sys.argv[2].encode() if len(sys.argv) > 3 else None
    password = sys.argv[3].encode() if len(sys.argv) > 3 else None

    def authenticator(server, session, envelope, mechanism, auth_data):
        ok = isinstance(auth_data, LoginPassword) and auth_data.login == user and auth_data.password == password
        return AuthResult(success=ok, handled=False)

    handler = Store(folder)
    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)

    def factory():
        if user is None:
            return SMTP(handler, hostname="tavrix-test", loop=loop)
        return SMTP(handler, hostname="tavrix-test", loop=loop, authenticator=authenticator,
                    auth_required=True, auth_require_tls=False)

    server = loop.run_until_complete(loop.create_server(factory, "127.0.0.1", 0))
    port = server.sockets[0].getsockname()[1]
    print("PORT", port, flush=True)
    loop.add_reader(sys.stdin.fileno(), lambda: loop.stop() if not os.read(sys.stdin.fileno(), 4096) else None)
    loop.run_forever()
    server.close()


if __name__ == "__main__":
    main()
