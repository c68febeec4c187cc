"""A small HTTP server for the icon tests, on 127.0.0.1 only.

usage: icon_server.py ROOT PORT_FILE REQUEST_LOG LIFETIME_SECONDS

Serves the files of ROOT (the query string is ignored), answers /error with
an HTML error page and /stall with a few bytes and then silence. Writes
"PORT PID" to PORT_FILE once listening, appends each request target to
REQUEST_LOG, and stops by itself after LIFETIME_SECONDS.
"""
import http.server
import os
import sys
import threading
import time
import urllib.parse

root, port_file, request_log, lifetime = sys.argv[1], sys.argv[2], sys.argv[3], float(sys.argv[4])


class Handler(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def do_GET(self):
        with open(request_log, "a") as log:
            log.write(self.path + "\n")
        path = urllib.parse.urlsplit(self.path).path
        if path == "/error":
            body = b"<html><body>404 Not Found</body></html>"
            self.send_response(404)
            self.send_header("Content-Type", "text/html")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)
            return
        if path == "/stall":
            self.send_response(200)
            self.send_header("Content-Length", "100000")
            self.end_headers()
            self.wfile.write(b"\x89PNG")
            self.wfile.flush()
            time.sleep(lifetime)
            return
        file = os.path.join(root, path.lstrip("/"))
        if not os.path.isfile(file):
            self.send_error(404)
            return
        body = open(file, "rb").read()
        self.send_response(200)
        self.send_header("Content-Type", "image/png")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
server.daemon_threads = True
threading.Timer(lifetime, lambda: os._exit(0)).start()
with open(port_file + ".tmp", "w") as f:
    f.write("%d %d\n" % (server.server_address[1], os.getpid()))
os.rename(port_file + ".tmp", port_file)
server.serve_forever()
