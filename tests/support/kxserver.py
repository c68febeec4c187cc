#!/usr/bin/python3
"""Scripted HTTP(S) server for the installer's tests and benchmarks.

Listens on 127.0.0.1 only (on --port, else on a port the system picks), prints
"PORT <n>" once it accepts connections, and exits when its standard input
closes (the test that started it is gone) or after --lifetime seconds,
whichever comes first.

Routes are set at run time with POST /__control (JSON):
  {"reset": true}                       forget routes and recorded requests
  {"routes": {"/path": RULE, ...}}      add or replace routes (path without query)
GET /__requests answers the recorded requests (control requests are not recorded):
  [{"method", "path", "query", "headers": {lower-case name: value}, "sni", "range",
    "sent": body bytes handed to the connection so far}]

RULE (every key optional):
  body / body_b64 / file     what to serve (text, base64 bytes, or a file on disk)
  status                     HTTP status (200); 404 and 500 get an HTML body unless one is given
  headers                    extra response headers
  ranges                     honour "Range: bytes=a-b" with 206 and Content-Range (true)
  content_length             send Content-Length; false ends the body by closing (true)
  require_headers            {name: value} that must be sent, else 403
  delay                      seconds to wait before answering
  rate                       body bytes per second (unlimited)
  drop_after                 close the connection abruptly after this many body bytes
  stall_after, stall_seconds stop sending for stall_seconds after stall_after body bytes
  httpdns                    {"answers": {domain: [addrs]}, "ttl": n}: answer the DNS-over-HTTP
                             query "?domain=" as {"domain", "addrs", "ttl"}
  responses                  list of rules used for successive requests; the last one repeats
  reset_connection           close the connection abruptly before answering
  etag, last_modified        send ETag / Last-Modified; a Range request whose If-Range names neither
                             gets the whole body (200), as for a file changed since
  range_fault                answer a Range request with another range than asked, saying so in
                             Content-Range: "shift" (range_fault_bytes later), "shorter" or "longer"
                             (by range_fault_bytes at its end), or "missing" (the asked range,
                             without Content-Range); range_fault_bytes defaults to 100
"""

import argparse
import base64
import http.server
import json
import os
import socket
import ssl
import subprocess
import sys
import threading
import time
import urllib.parse

STATE_LOCK = threading.Lock()
ROUTES = {}
REQUESTS = []
HITS = {}


def make_certificates(folder, names):
    """A CA and a server certificate for 127.0.0.1, localhost and the given names."""
    ca_key, ca_pem = os.path.join(folder, "ca.key"), os.path.join(folder, "ca.pem")
    key, csr, pem = (os.path.join(folder, n) for n in ("server.key", "server.csr", "server.pem"))
    if os.path.exists(pem):
        return ca_pem, pem, key
    ec = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]
    quiet = {"stdout": subprocess.DEVNULL, "stderr": subprocess.DEVNULL, "check": True}
    subprocess.run(["openssl", "req", "-x509", *ec, "-keyout", ca_key, "-out", ca_pem, "-days", "2",
                    "-subj", "/CN=Kestrix Test CA"], **quiet)
    subprocess.run(["openssl", "req", *ec, "-keyout", key, "-out", csr, "-subj", "/CN=localhost"], **quiet)
    san = ",".join(["IP:127.0.0.1", "DNS:localhost"] + ["DNS:" + n for n in names])
    ext = os.path.join(folder, "ext.cnf")
    with open(ext, "w") as f:
        f.write("subjectAltName=%s\nbasicConstraints=CA:FALSE\n" % san)
    subprocess.run(["openssl", "x509", "-req", "-in", csr, "-CA", ca_pem, "-CAkey", ca_key, "-CAcreateserial",
                    "-out", pem, "-days", "2", "-extfile", ext], **quiet)
    return ca_pem, pem, key


def rule_for(path):
    with STATE_LOCK:
        rule = ROUTES.get(path)
        if rule is None:
            return None
        steps = rule.get("responses")
        if not steps:
            return rule
        n = HITS.get(path, 0)
        HITS[path] = n + 1
        return steps[min(n, len(steps) - 1)]


def body_of(rule, query):
    if "httpdns" in rule:
        domain = urllib.parse.parse_qs(query).get("domain", [""])[0]
        dns = rule["httpdns"]
        answer = {"domain": domain, "addrs": dns.get("answers", {}).get(domain, []), "ttl": dns.get("ttl", 60)}
        return json.dumps(answer).encode()
    if "body_b64" in rule:
        return base64.b64decode(rule["body_b64"])
    if "body" in rule:
        return rule["body"].encode()
    status = rule.get("status", 200)
    if status >= 400:
        return ("<html><body><h1>%d</h1></body></html>" % status).encode()
    return b""


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        self.answer(send_body=True)

    def do_HEAD(self):
        self.answer(send_body=False)

    def do_POST(self):
        if self.path != "/__control":
            return self.answer(send_body=True)
        length = int(self.headers.get("Content-Length", "0"))
        command = json.loads(self.rfile.read(length) or b"{}")
        with STATE_LOCK:
            if command.get("reset"):
                ROUTES.clear()
                REQUESTS.clear()
                HITS.clear()
            for path, rule in command.get("routes", {}).items():
                ROUTES[path] = rule
                HITS.pop(path, None)
        self.send_plain(200, b"ok")

    def send_plain(self, status, data):
        self.send_response(status)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def answer(self, send_body):
        url = urllib.parse.urlsplit(self.path)
        if url.path == "/__requests":
            with STATE_LOCK:
                data = json.dumps(REQUESTS).encode()
            return self.send_plain(200, data)
        self.record = {
            "method": self.command, "path": url.path, "query": url.query,
            "headers": {k.lower(): v for k, v in self.headers.items()},
            "sni": getattr(self.connection, "kx_sni", None), "range": self.headers.get("Range"), "sent": 0}
        with STATE_LOCK:
            REQUESTS.append(self.record)
        rule = rule_for(url.path)
        if rule is None:
            return self.send_plain(404, b"<html><body>not found</body></html>")
        for name, value in rule.get("require_headers", {}).items():
            if self.headers.get(name) != value:
                return self.send_plain(403, b"<html><body>forbidden</body></html>")
        if rule.get("delay"):
            time.sleep(rule["delay"])
        if rule.get("reset_connection"):
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")
            self.close_connection = True
            return
        self.serve(rule, url.query, send_body)

    def serve(self, rule, query, send_body):
        if "file" in rule:
            total = os.path.getsize(rule["file"])
            source = open(rule["file"], "rb")
        else:
            data = body_of(rule, query)
            total = len(data)
            source = None
        start, end, status = 0, total - 1, rule.get("status", 200)
        requested = self.headers.get("Range")
        partial = status == 200 and rule.get("ranges", True) and requested and requested.startswith("bytes=")
        if_range = self.headers.get("If-Range")
        if partial and if_range is not None and if_range not in (rule.get("etag"), rule.get("last_modified")):
            partial = False  # the validator names an older file: the whole new one follows
        if partial:
            first, _, last = requested[6:].partition("-")
            start = int(first) if first else max(0, total - int(last))
            end = min(int(last), total - 1) if first and last else total - 1
            if start >= total:
                self.send_response(416)
                self.send_header("Content-Range", "bytes */%d" % total)
                self.send_header("Content-Length", "0")
                self.end_headers()
                return
            status = 206
            fault, shift = rule.get("range_fault"), rule.get("range_fault_bytes", 100)
            if fault == "shift":
                start, end = min(start + shift, total - 1), min(end + shift, total - 1)
            elif fault == "shorter":
                end = max(start, end - shift)
            elif fault == "longer":
                end = min(end + shift, total - 1)
        self.send_response(status)
        if rule.get("ranges", True):
            self.send_header("Accept-Ranges", "bytes")
        if partial and rule.get("range_fault") != "missing":
            self.send_header("Content-Range", "bytes %d-%d/%d" % (start, end, total))
        if rule.get("etag"):
            self.send_header("ETag", rule["etag"])
        if rule.get("last_modified"):
            self.send_header("Last-Modified", rule["last_modified"])
        with_length = rule.get("content_length", True)
        if with_length:
            self.send_header("Content-Length", str(end - start + 1))
        else:
            self.send_header("Connection", "close")
            self.close_connection = True
        for name, value in rule.get("headers", {}).items():
            self.send_header(name, value)
        self.end_headers()
        if not send_body:
            return
        self.send_range(rule, source, data if source is None else None, start, end)

    def send_range(self, rule, source, data, start, end):
        rate = rule.get("rate")
        drop_after, stall_after = rule.get("drop_after"), rule.get("stall_after")
        chunk = 16384 if not rate else max(1024, min(16384, int(rate) // 20))
        sent, position = 0, start
        began = time.monotonic()
        if source:
            source.seek(start)
        try:
            while position <= end:
                n = min(chunk, end - position + 1)
                if drop_after is not None:
                    n = min(n, drop_after - sent)
                if stall_after is not None and sent < stall_after:
                    n = min(n, stall_after - sent)
                if n <= 0:
                    if drop_after is not None and sent >= drop_after:
                        self.wfile.flush()
                        self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")
                        self.close_connection = True
                        return
                block = source.read(n) if source else data[position:position + n]
                self.wfile.write(block)
                sent += len(block)
                with STATE_LOCK:
                    self.record["sent"] = sent
                position += len(block)
                if stall_after is not None and sent == stall_after:
                    self.wfile.flush()
                    time.sleep(rule.get("stall_seconds", 3600))
                    stall_after = None
                if rate:
                    ahead = sent / float(rate) - (time.monotonic() - began)
                    if ahead > 0:
                        time.sleep(ahead)
            if drop_after is not None and sent >= drop_after:
                self.close_connection = True
        except (BrokenPipeError, ConnectionResetError, ssl.SSLError):
            self.close_connection = True
        finally:
            if source:
                source.close()


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 64

    def __init__(self, context, port):
        super().__init__(("127.0.0.1", port), Handler)
        self.context = context

    def get_request(self):
        sock, address = super().get_request()
        if self.context:
            sock.settimeout(10)
            sock = self.context.wrap_socket(sock, server_side=True, do_handshake_on_connect=False)
        return sock, address

    def finish_request(self, request, client_address):
        if self.context:
            try:
                request.do_handshake()
            except (ssl.SSLError, OSError):
                return
            request.settimeout(None)
        super().finish_request(request, client_address)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tls", action="store_true")
    parser.add_argument("--cert-dir", help="where the CA (ca.pem) and server certificate are made or reused")
    parser.add_argument("--name", action="append", default=[], help="extra DNS name for the certificate")
    parser.add_argument("--lifetime", type=float, default=600)
    parser.add_argument("--port", type=int, default=0, help="port to listen on (0: one the system picks)")
    parser.add_argument("--routes", help="JSON file of initial routes")
    args = parser.parse_args()

    if args.routes:
        with open(args.routes) as f:
            ROUTES.update(json.load(f))

    context = None
    if args.tls:
        folder = args.cert_dir or os.getcwd()
        os.makedirs(folder, exist_ok=True)
        ca, pem, key = make_certificates(folder, args.name)
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(pem, key)

        def remember_sni(sock, server_name, _context):
            sock.kx_sni = server_name
        context.sni_callback = remember_sni

    server = Server(context, args.port)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    print("PORT %d" % server.server_address[1], flush=True)

    def leave_when_orphaned():
        sys.stdin.read()
        os._exit(0)
    threading.Thread(target=leave_when_orphaned, daemon=True).start()
    time.sleep(args.lifetime)
    os._exit(0)


if __name__ == "__main__":
    main()
