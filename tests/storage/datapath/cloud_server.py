"""HTTPS object store for the cloud client tests, on 127.0.0.1 only.

S3 requests (Host "<bucket>.s3.localhost") are checked against the signature
computed here from the secret; Swift requests authenticate on /auth/v1.0 and
work on /v1/AUTH_test/<container>/<object> with the token. Objects are kept
as files under --dir/<bucket or container>/<name>. Every request is logged to
--log as "METHOD PATH", and --fault makes the server send what real servers
never do.

Usage: cloud_server.py --cert C --key K --dir D --log L --port-file P
                       [--fault NAME]
The file "<dir>.fault", when it exists, holds the fault switch instead.
The chosen port is written to the port file once the server listens.
"""
import argparse
import base64
import hashlib
import hmac
import http.server
import os
import ssl
import sys

ACCESS = "AKTEST"
SECRET = "s3cr3t/Key+x"
SWIFT_USER = "test:tester"
SWIFT_KEY = "testing"
TOKEN = "AUTH_tk0123456789"

args = None


def fault():
    """The fault switch: the fault file's text when it exists, else --fault."""
    try:
        with open(args.dir + ".fault") as f:
            return f.read().strip()
    except OSError:
        return args.fault


def s3_signature(verb, ctype, date, resource):
    to_sign = "%s\n\n%s\n%s\n%s" % (verb, ctype, date, resource)
    mac = hmac.new(SECRET.encode(), to_sign.encode(), hashlib.sha1).digest()
    return base64.b64encode(mac).decode()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, fmt, *a):
        pass

    def log_request_line(self):
        with open(args.log, "a") as f:
            f.write("%s %s\n" % (self.command, self.path))

    def raw(self, text):
        self.wfile.write(text.encode("latin-1"))
        self.wfile.flush()

    def answer(self, code, body=b"", headers=()):
        self.send_response(code)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if body and self.command != "HEAD":
            self.wfile.write(body)

    def read_body(self):
        if self.headers.get("Transfer-Encoding", "").lower() == "chunked":
            out = b""
            while True:
                size = int(self.rfile.readline().strip().split(b";")[0], 16)
                if size == 0:
                    self.rfile.readline()
                    return out
                out += self.rfile.read(size)
                self.rfile.readline()
        n = int(self.headers.get("Content-Length", "0"))
        return self.rfile.read(n) if n else b""

    def store_path(self, store, name):
        path = os.path.normpath(os.path.join(args.dir, store, name.lstrip("/")))
        if not path.startswith(os.path.join(args.dir, store) + os.sep):
            return None
        return path

    def handle_one(self):
        self.log_request_line()
        host = self.headers.get("Host", "")
        if ".s3.localhost" in host:
            return self.s3(host.split(".")[0])
        return self.swift()

    do_GET = do_PUT = do_DELETE = lambda self: self.handle_one()

    # S3: header-signed requests, checked for real.
    def s3(self, bucket):
        if fault() == "put-500" and self.command == "PUT":
            self.read_body()
            return self.answer(500, b"<Error><Message>Internal trouble</Message></Error>")
        resource = "/" + bucket + self.path
        want = "AWS %s:%s" % (ACCESS, s3_signature(
            self.command, self.headers.get("Content-Type", ""),
            self.headers.get("Date", ""), resource))
        if self.headers.get("Authorization") != want:
            if self.command == "PUT":
                self.read_body()
            return self.answer(403, b"<?xml version=\"1.0\"?><Error><Code>SignatureDoesNotMatch"
                               b"</Code><Message>The request signature we calculated does not "
                               b"match the signature you provided.</Message></Error>")
        return self.objects(bucket, self.path)

    # Swift: tempauth-like authentication, then token-checked objects.
    def swift(self):
        if self.path == "/auth/v1.0":
            if (self.headers.get("X-Auth-User") != SWIFT_USER or
                    self.headers.get("X-Auth-Key") != SWIFT_KEY):
                return self.answer(401, b"Unauthorized")
            if fault() == "bare-lf":
                return self.raw("HTTP/1.1 200 OK\r\nX-Storage-Token: %s\n"
                                "Content-Length: 0\r\n\r\n" % TOKEN)
            if fault() == "no-colon":
                return self.raw("HTTP/1.1 200 OK\r\nX-Storage-Token %s\r\n"
                                "Content-Length: 0\r\n\r\n" % TOKEN)
            headers = []
            if fault() != "no-url":
                headers.append(("X-Storage-Url", "https://127.0.0.1:%d/v1/AUTH_test" %
                                self.server.server_address[1]))
            if fault() != "no-token":
                headers.append(("X-Storage-Token", TOKEN))
            return self.answer(200, b"", headers)
        prefix = "/v1/AUTH_test/"
        if not self.path.startswith(prefix) or self.headers.get("X-Auth-token") != TOKEN:
            return self.answer(401, b"Unauthorized")
        container, _, name = self.path[len(prefix):].partition("/")
        if fault() == "put-500" and self.command == "PUT":
            self.read_body()
            return self.answer(500, b"Internal Server Error")
        return self.objects(container, name, created=201)

    def objects(self, store, name, created=200):
        path = self.store_path(store, name)
        if path is None:
            return self.answer(400)
        if self.command == "PUT":
            data = self.read_body()
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(data)
            return self.answer(created)
        if not os.path.isfile(path):
            return self.answer(404, b"<Error><Message>The specified key does not exist."
                               b"</Message></Error>")
        if self.command == "DELETE":
            os.unlink(path)
            return self.answer(204)
        data = open(path, "rb").read()
        if fault() == "cut-body":
            self.send_response(200)
            self.send_header("Content-Length", str(len(data)))
            self.end_headers()
            self.wfile.write(data[:len(data) // 2])
            self.wfile.flush()
            self.close_connection = True
            self.connection.shutdown(2)
            return None
        return self.answer(200, data)


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def handle_error(self, request, client_address):
        # A client that stops reading is one of the cases under test.
        pass


def main():
    global args
    p = argparse.ArgumentParser()
    for name in ("--cert", "--key", "--dir", "--log", "--port-file"):
        p.add_argument(name, required=True)
    p.add_argument("--fault", default="")
    args = p.parse_args()
    server = Server(("127.0.0.1", 0), Handler)
    ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    ctx.load_cert_chain(args.cert, args.key)
    server.socket = ctx.wrap_socket(server.socket, server_side=True)
    tmp = args.port_file + ".tmp"
    with open(tmp, "w") as f:
        f.write(str(server.server_address[1]))
    os.rename(tmp, args.port_file)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
