#!/usr/bin/python3
"""SMTP server for the mail tests: aiosmtpd on 127.0.0.1, a free port chosen by the system.

Prints "PORT <n>" once it listens and runs until its standard input closes, so it ends with the
test that started it. Every accepted mail is stored in the mail folder as <n>.eml (the DATA as
received) and <n>.json: envelope sender and recipients, whether the session logged in, and what
Python's own mail parser reads from it (header fields, defects, the decoded text body, attachment
names and sizes); attachment <i> is saved decoded as <n>.att<i>.

Usage: smtp_server.py MAILDIR [USER PASSWORD]  -- with a user, AUTH is required (no TLS needed).
"""
import asyncio
import email
import email.policy
import email.utils
import json
import logging
import os
import sys
import warnings

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword


def summary(meta):
    """The parse result as a key file (GLib's GKeyFile reads it in the C++ tests)."""
    def line(key, value):
        return key + "=" + str(value).replace("\r", " ").replace("\n", " ") + "\n"
    text = "[mail]\n"
    text += line("mail_from", meta["mail_from"])
    text += line("rcpt_tos", ",".join(meta["rcpt_tos"]))
    text += line("authenticated", int(meta["authenticated"]))
    text += line("date_ok", int(meta["date_ok"]))
    text += line("defects", ",".join(meta["defects"]))
    text += line("multipart", int(meta["multipart"]))
    text += line("attachments", len(meta["attachments"]))
    text += "[header]\n"
    for key, value in meta["headers"].items():
        text += line(key, value)
    for index, attachment in enumerate(meta["attachments"]):
        text += "[attachment" + str(index) + "]\n"
        for key, value in attachment.items():
            text += line(key, value)
    return text


class Store:
    def __init__(self, folder):
        self.folder = folder
        self.count = 0

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        base = os.path.join(self.folder, str(self.count))
        raw = envelope.original_content or envelope.content
        with open(base + ".eml.tmp", "wb") as f:
            f.write(raw)
        parsed = email.message_from_bytes(raw, policy=email.policy.compat32)
        meta = {"mail_from": envelope.mail_from, "rcpt_tos": envelope.rcpt_tos,
                "authenticated": bool(session.authenticated),
                "date_ok": False,
                "headers": {k: str(v) for k, v in parsed.items()},
                "defects": [type(d).__name__ for d in parsed.defects],
                "multipart": parsed.is_multipart(), "body": None, "attachments": []}
        try:
            meta["date_ok"] = email.utils.parsedate_to_datetime(parsed["Date"]) is not None
        except (TypeError, ValueError):
            pass
        for part in parsed.walk():
            if part.is_multipart():
                continue
            meta["defects"] += [type(d).__name__ for d in part.defects]
            payload = part.get_payload(decode=True) or b""
            if part.get_filename() is None and meta["body"] is None:
                meta["body"] = payload.decode("utf-8", "replace").replace("\r\n", "\n")
            elif part.get_filename() is not None:
                index = len(meta["attachments"])
                with open(base + ".att" + str(index), "wb") as f:
                    f.write(payload)
                meta["attachments"].append({"filename": part.get_filename(), "size": len(payload),
                                            "content_type": part.get_content_type()})
        with open(base + ".json", "w") as f:
            json.dump(meta, f)
        with open(base + ".body", "w") as f:
            f.write(meta["body"] or "")
        with open(base + ".summary", "w") as f:
            f.write(summary(meta))
        os.rename(base + ".eml.tmp", base + ".eml")
        return "250 Message accepted for delivery"


def main():
    warnings.filterwarnings("ignore")
    logging.disable(logging.CRITICAL)
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
