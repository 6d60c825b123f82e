"""A web server for the faults nginx cannot make, serving a directory.

The first path component names the fault (with "-N" after it, to count
its requests apart from another test's); the rest is the file's path below
the root. Faults touch the release's files, not its lists (VerComp.dat, Ver,
LATEST), except html, which answers everything:

  /plain/...   no fault: ranges are served with 206
  /trickle/... 2 bytes a second
  /drip/...    the first half of each file at once, then a byte every half
               second (for a minute at most); the Manifest and its signature
               too are served plainly, so that only the files' transfer drips
  /flaky/...   HTTP 503 to the first two requests for each file
  /cut/...     the first request for each file gets half the body, then the
               connection is reset; ranges are served afterwards
  /cutwhole/.. as cut, but ranges are ignored afterwards (200, whole body)
  /long/...    the file followed by a megabyte it does not hold
  /html/...    a 200 HTML page, as a captive portal sends
  /headers/... a status line and then header lines that never end (for a
               minute at most), a kilobyte each, as fast as they are taken
  /delay/...   each answer, lists too, after 20 ms (for the benchmarks)
  /slow/...    each answer after half a second; the most requests for
               release files under way at once is logged as "FAULT-N most K"
  /promoting/. the first request for a channel pointer (channel.NAME) gets
               the file channel.NAME.before: a pointer read just before a
               promotion replaced it and its signature

Every request is logged as "FAULT-N PATH RANGE" to the log file (RANGE is the
Range header, "-" without one).
"""
import http.server
import os
import re
import socket
import struct
import sys
import threading
import time
import urllib.parse

PORT, ROOT, LOG = int(sys.argv[1]), sys.argv[2], sys.argv[3]
LISTS = {"VerComp.dat", "Ver", "LATEST"}
CHANNEL_POINTER = re.compile(r"channel\.[A-Za-z0-9_-]+$")
seen = {}
lock = threading.Lock()
active = {}
most = {}


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        parts = urllib.parse.unquote(self.path).lstrip("/").split("/", 1)
        prefix, rest = parts[0], parts[1] if len(parts) > 1 else ""
        # "cut-2" is the fault cut, counted apart from "cut-1".
        fault = prefix.split("-")[0]
        requested = self.headers.get("Range", "-")
        with lock:
            with open(LOG, "a") as log:
                log.write("%s %s %s\n" % (prefix, rest, requested))
            count = seen[(prefix, rest)] = seen.get((prefix, rest), 0) + 1
        if fault == "delay":
            time.sleep(0.02)
        if fault == "html":
            return self.send(200, b"<html><body>Please log in</body></html>", "text/html")
        if fault == "promoting" and count == 1 and CHANNEL_POINTER.match(os.path.basename(rest)):
            rest += ".before"
        path = os.path.join(ROOT, rest)
        if not os.path.isfile(path):
            return self.send(404, b"not found")
        with open(path, "rb") as f:
            body = f.read()
        if os.path.basename(rest) in LISTS:
            fault = "plain"
        if fault == "drip" and os.path.basename(rest) in ("Manifest", "Manifest.sig"):
            fault = "plain"
        if fault == "slow":
            with lock:
                active[prefix] = active.get(prefix, 0) + 1
                if active[prefix] > most.get(prefix, 0):
                    most[prefix] = active[prefix]
                    with open(LOG, "a") as log:
                        log.write("%s most %d\n" % (prefix, most[prefix]))
            time.sleep(0.5)
            with lock:
                active[prefix] -= 1
        if fault == "flaky" and count <= 2:
            return self.send(503, b"busy")
        if fault == "trickle":
            self.send_response(200)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            deadline = time.time() + 60
            for i in range(0, len(body), 2):
                if time.time() > deadline:
                    break
                self.wfile.write(body[i:i + 2])
                self.wfile.flush()
                time.sleep(1)
            return
        if fault == "drip":
            self.send_response(200)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            half = len(body) // 2
            try:
                self.wfile.write(body[:half])
                self.wfile.flush()
                deadline = time.time() + 60
                for i in range(half, len(body)):
                    if time.time() > deadline:
                        break
                    time.sleep(0.5)
                    self.wfile.write(body[i:i + 1])
                    self.wfile.flush()
            except OSError:
                pass
            self.close_connection = True
            return
        if fault in ("cut", "cutwhole") and count == 1:
            self.send_response(200)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body[: len(body) // 2])
            self.wfile.flush()
            # A reset throws away what the client has not read yet: give it
            # time to take the half first.
            time.sleep(0.3)
            # A reset, not an orderly close.
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            self.close_connection = True
            return
        if fault == "headers":
            self.wfile.write(b"HTTP/1.1 200 OK\r\n")
            line = b"X-Padding: " + b"p" * 1000 + b"\r\n"
            deadline = time.time() + 60
            try:
                while time.time() < deadline:
                    self.wfile.write(line)
            except OSError:
                pass
            self.close_connection = True
            return
        if fault == "long":
            return self.send(200, body + b"\0" * (1 << 20))
        if requested.startswith("bytes=") and fault != "cutwhole":
            first = int(requested[6:].split("-")[0])
            self.send_response(206)
            self.send_header("Content-Range", "bytes %d-%d/%d" % (first, len(body) - 1, len(body)))
            self.send_header("Content-Length", str(len(body) - first))
            self.end_headers()
            self.wfile.write(body[first:])
            return
        self.send(200, body)

    def send(self, status, body, kind="application/octet-stream"):
        self.send_response(status)
        self.send_header("Content-Type", kind)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)


http.server.ThreadingHTTPServer.daemon_threads = True
http.server.ThreadingHTTPServer(("127.0.0.1", PORT), Handler).serve_forever()
