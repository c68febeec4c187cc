#!/usr/bin/python3
"""Stand-in for the telemetry collection service, for the installer's tests.

Plain HTTP on 127.0.0.1 only. Prints "PORT <n>" once it accepts connections and
exits when its standard input closes (the test that started it is gone) or
after --lifetime seconds, whichever comes first.

POST /receiver is taken as the service takes it: the body is decrypted with
AES-128-ECB under the key mixed from --key-constant (the same rule the client
applies to the build's constant), its PKCS#7 padding is checked and removed,
the gzip member is opened with Python's gzip module, and every line is parsed
as one JSON object (member order kept). Each request is recorded as
  {"headers": [[name, value], ...] in the order sent, "length": body bytes,
   "body_b64": the body, "text": the records' text, "records": [objects] or null,
   "error": text or null}
and answered as the current answer says.

POST /__control (JSON):
  {"reset": true}                forget the recorded requests and answers
  {"answers": [ANSWER, ...]}     answers for successive requests; the last repeats
  {"release": true}              lets every held request (and every later "hold") answer "ok"
GET /__requests answers the recorded requests.

ANSWER: "ok" (200, application/json, {"code":200}), "status" (500), "type"
(text/plain), "charset" (application/json; charset=utf-8), "spaced"
({"code": 200}), "long" (a JSON body of 1100 bytes that starts like "ok"),
"stall" (reads the request and never answers), "hold" (answers "ok" once released).
"""

import argparse
import base64
import gzip
import http.server
import json
import os
import subprocess
import sys
import threading
import time

STATE_LOCK = threading.Lock()
ANSWERS = ["ok"]
REQUESTS = []
KEY = b""
RELEASED = threading.Event()


def mix_key(constant):
    """The client's in-place mixing of the 16-byte constant into the key."""
    key = bytearray(constant)
    for i in range(16):
        key[i] ^= key[15 - i] ^ ((0x3C + 11 * i) & 0xFF)
    return bytes(key)


def open_payload(body):
    """The text of one payload and its JSON objects, or raises ValueError."""
    if not body or len(body) % 16:
        raise ValueError("the body is not whole AES blocks: %d bytes" % len(body))
    plain = subprocess.run(["openssl", "enc", "-d", "-aes-128-ecb", "-nopad", "-K", KEY.hex()],
                           input=body, capture_output=True, check=True).stdout
    pad = plain[-1]
    if not 1 <= pad <= 16 or plain[-pad:] != bytes([pad]) * pad:
        raise ValueError("bad PKCS#7 padding")
    text = gzip.decompress(plain[:-pad]).decode("utf-8")
    if not text.endswith("\n"):
        raise ValueError("the last record does not end its line")
    return text, [json.loads(line) for line in text[:-1].split("\n")]


ANSWER_FORMS = {
    "ok": (200, "application/json", b'{"code":200}'),
    "status": (500, "application/json", b'{"code":200}'),
    "type": (200, "text/plain", b'{"code":200}'),
    "charset": (200, "application/json; charset=utf-8", b'{"code":200}'),
    "spaced": (200, "application/json", b'{"code": 200}'),
    "long": (200, "application/json", b'{"code":200}' + b" " * 1088),
}


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def reply(self, status, content_type, data):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def do_GET(self):
        if self.path != "/__requests":
            return self.reply(404, "text/plain", b"not found")
        with STATE_LOCK:
            data = json.dumps(REQUESTS).encode()
        self.reply(200, "application/json", data)

    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        body = self.rfile.read(length)
        if self.path == "/__control":
            command = json.loads(body or b"{}")
            with STATE_LOCK:
                if command.get("reset"):
                    REQUESTS.clear()
                    ANSWERS[:] = ["ok"]
                if command.get("answers"):
                    ANSWERS[:] = command["answers"]
                if command.get("release"):
                    RELEASED.set()
            return self.reply(200, "text/plain", b"ok")
        record = {"path": self.path, "headers": [[k, v] for k, v in self.headers.items()], "length": len(body),
                  "body_b64": base64.b64encode(body).decode(), "text": None, "records": None, "error": None}
        try:
            record["text"], record["records"] = open_payload(body)
        except (ValueError, OSError, EOFError, subprocess.CalledProcessError) as error:
            record["error"] = str(error) or type(error).__name__
        with STATE_LOCK:
            REQUESTS.append(record)
            answer = ANSWERS[0] if len(ANSWERS) == 1 else ANSWERS.pop(0)
        if self.path != "/receiver":
            return self.reply(404, "text/plain", b"not found")
        if answer == "stall":
            time.sleep(3600)
            return
        if answer == "hold":
            RELEASED.wait()
            answer = "ok"
        self.reply(*ANSWER_FORMS[answer])


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    global KEY
    parser = argparse.ArgumentParser()
    parser.add_argument("--key-constant", required=True, help="the build's 16-byte constant, 32 hex digits")
    parser.add_argument("--lifetime", type=float, default=300)
    args = parser.parse_args()
    KEY = mix_key(bytes.fromhex(args.key_constant))

    server = Server(("127.0.0.1", 0), Handler)
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
