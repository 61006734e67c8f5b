#!/usr/bin/python3
"""An S3-compatible server for the tests, on loopback, that checks AWS signature version 4.

Usage: s3_server.py LOG DATA ACCESS_KEY SECRET. Prints "PORT <n>" once it listens and runs until
its standard input closes. Every request is written to LOG as one JSON line (method, path, query,
status, code). Objects go to DATA/BUCKET/KEY. It answers PUT of an object, the multipart upload
(POST ?uploads, PUT ?partNumber&uploadId, POST ?uploadId, DELETE ?uploadId) and refuses, as S3
does, a wrong access key (403 InvalidAccessKeyId), a wrong signature (403 SignatureDoesNotMatch),
a payload whose SHA-256 differs from x-amz-content-sha256 (400 XAmzContentSHA256Mismatch) and parts
but the last below 5 MiB (400 EntityTooSmall).

The signature is computed as AWS documents it (Signature Version 4, "Create a canonical request",
"Create a string to sign", "Calculate the signature"): canonical URI as sent (S3 does not
normalise it), canonical query sorted with every name and value URI-encoded, the signed headers
lowercased with trimmed values, the payload hash from x-amz-content-sha256, then HMAC-SHA256 chained
over date, region, service and "aws4_request".
"""
import hashlib
import hmac
import json
import os
import re
import sys
import threading
import urllib.parse
import uuid
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

LOG, DATA, ACCESS_KEY, SECRET = sys.argv[1:5]
LOCK = threading.Lock()
UPLOADS = {}  # upload id -> {"bucket", "key", "parts": {number: (etag, bytes)}}
MIN_PART = 5 * 1024 * 1024


def uri_encode(text):
    return urllib.parse.quote(text, safe="-_.~")


def canonical_query(query):
    pairs = []
    for part in query.split("&") if query else []:
        name, _, value = part.partition("=")
        pairs.append((uri_encode(urllib.parse.unquote(name)), uri_encode(urllib.parse.unquote(value))))
    return "&".join(name + "=" + value for name, value in sorted(pairs))


def sign(key, text):
    return hmac.new(key, text.encode(), hashlib.sha256).digest()


class S3Error(Exception):
    def __init__(self, status, code):
        super().__init__(code)
        self.status = status
        self.code = code


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def verify(self, path, query, body):
        match = re.match(r"AWS4-HMAC-SHA256 Credential=([^/]+)/(\d{8})/([^/]+)/s3/aws4_request, *"
                         r"SignedHeaders=([^,]+), *Signature=([0-9a-f]{64})$",
                         self.headers.get("Authorization", ""))
        if not match:
            raise S3Error(403, "AccessDenied")
        access, date, region, signed, signature = match.groups()
        if access != ACCESS_KEY:
            raise S3Error(403, "InvalidAccessKeyId")
        names = signed.split(";")
        for required in ("host", "x-amz-date", "x-amz-content-sha256"):
            if required not in names:
                raise S3Error(403, "AccessDenied")
        payload_hash = self.headers.get("x-amz-content-sha256", "")
        if payload_hash != "UNSIGNED-PAYLOAD" and payload_hash != hashlib.sha256(body).hexdigest():
            raise S3Error(400, "XAmzContentSHA256Mismatch")
        headers = "".join(name + ":" + " ".join((self.headers.get(name) or "").split()) + "\n" for name in names)
        request = "\n".join([self.command, path, canonical_query(query), headers, signed, payload_hash])
        timestamp = self.headers.get("x-amz-date", "")
        scope = date + "/" + region + "/s3/aws4_request"
        to_sign = "\n".join(["AWS4-HMAC-SHA256", timestamp, scope,
                             hashlib.sha256(request.encode()).hexdigest()])
        key = sign(sign(sign(sign(("AWS4" + SECRET).encode(), date), region), "s3"), "aws4_request")
        if not hmac.compare_digest(hmac.new(key, to_sign.encode(), hashlib.sha256).hexdigest(), signature):
            raise S3Error(403, "SignatureDoesNotMatch")

    def handle_any(self):
        path, _, query = self.path.partition("?")
        length = int(self.headers.get("Content-Length", "0") or "0")
        body = self.rfile.read(length) if length else b""
        params = dict(urllib.parse.parse_qsl(query, keep_blank_values=True))
        status, code, answer, headers = 200, "", b"", {}
        try:
            self.verify(path, query, body)
            status, answer, headers = self.operate(path, params, body)
        except S3Error as error:
            status, code = error.status, error.code
            answer = ("<?xml version=\"1.0\" encoding=\"UTF-8\"?><Error><Code>%s</Code><Message>%s</Message>"
                      "</Error>" % (code, code)).encode()
        with LOCK, open(LOG, "a") as log:
            log.write(json.dumps({"method": self.command, "path": path, "query": query,
                                  "status": status, "code": code, "bytes": len(body)}) + "\n")
        self.send_response(status)
        for name, value in headers.items():
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(answer)))
        self.end_headers()
        self.wfile.write(answer)

    def operate(self, path, params, body):
        parts = urllib.parse.unquote(path).lstrip("/").split("/", 1)
        if len(parts) != 2 or not parts[1]:
            raise S3Error(400, "InvalidRequest")
        bucket, key = parts
        with LOCK:
            if self.command == "PUT" and "uploadId" not in params:
                self.store(bucket, key, body)
                return 200, b"", {"ETag": '"%s"' % hashlib.md5(body).hexdigest()}
            if self.command == "POST" and "uploads" in params:
                upload = uuid.uuid4().hex
                UPLOADS[upload] = {"bucket": bucket, "key": key, "parts": {}}
                return 200, ("<InitiateMultipartUploadResult><Bucket>%s</Bucket><Key>%s</Key><UploadId>%s"
                             "</UploadId></InitiateMultipartUploadResult>" % (bucket, key, upload)).encode(), {}
            upload = UPLOADS.get(params.get("uploadId", ""))
            if upload is None:
                raise S3Error(404, "NoSuchUpload")
            if self.command == "PUT":
                etag = '"%s"' % hashlib.md5(body).hexdigest()
                upload["parts"][int(params["partNumber"])] = (etag, body)
                return 200, b"", {"ETag": etag}
            if self.command == "DELETE":
                del UPLOADS[params["uploadId"]]
                return 204, b"", {}
            if self.command == "POST":
                listed = re.findall(r"<PartNumber>(\d+)</PartNumber><ETag>([^<]*)</ETag>", body.decode())
                numbers = [int(number) for number, _ in listed]
                if not listed or numbers != sorted(numbers):
                    raise S3Error(400, "InvalidPartOrder")
                data = b""
                for index, (number, etag) in enumerate(listed):
                    stored = upload["parts"].get(int(number))
                    if stored is None or stored[0] != etag.replace("&quot;", '"'):
                        raise S3Error(400, "InvalidPart")
                    if index < len(listed) - 1 and len(stored[1]) < MIN_PART:
                        raise S3Error(400, "EntityTooSmall")
                    data += stored[1]
                self.store(bucket, key, data)
                del UPLOADS[params["uploadId"]]
                return 200, ("<CompleteMultipartUploadResult><Key>%s</Key></CompleteMultipartUploadResult>"
                             % key).encode(), {}
        raise S3Error(400, "InvalidRequest")

    def store(self, bucket, key, data):
        target = os.path.join(DATA, bucket, key)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with open(target, "wb") as out:
            out.write(data)

    do_GET = do_POST = do_PUT = do_DELETE = handle_any


def main():
    server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    threading.Thread(target=server.serve_forever, daemon=True).start()
    print("PORT", server.server_address[1], flush=True)
    while os.read(sys.stdin.fileno(), 4096):
        pass


main()
