#!/usr/bin/env python3
"""A loopback HTTP server for the runtime download tests.

    httpserve.py DIR
Serves DIR/jre.tar.gz on 127.0.0.1 at a free port, written to DIR/port once it listens.
Each request is appended to DIR/requests as "path|user agent". The first path part picks
the answer:
  /good/...      the file with its Content-Length
  /nolength/...  the file without a Content-Length (the body ends with the connection)
  /cutonce/...   the first request gets half of the body and the connection is cut; later
                 requests get the whole file
  /404/..., /500/...  that status with a short page and its Content-Length
  /slow/...      the file in 8 pieces 200 ms apart
  /trickle/...   the file in 50 pieces 200 ms apart (about 10 s: time to cancel mid-way)
  /empty/...     Content-Length 0
The server ends by itself after three minutes.
"""
import http.server
import os
import sys
import threading
import time

root = sys.argv[1]
cut_done = set()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"

    def log_message(self, *args):
        pass

    def do_GET(self):
        with open(os.path.join(root, "requests"), "a") as f:
            f.write("%s|%s\n" % (self.path, self.headers.get("User-Agent", "")))
        mode = self.path.split("/")[1]
        with open(os.path.join(root, "jre.tar.gz"), "rb") as f:
            body = f.read()
        if mode in ("404", "500"):
            page = b"<html>no runtime here</html>"
            self.send_response(int(mode))
            self.send_header("Content-Length", str(len(page)))
            self.end_headers()
            self.wfile.write(page)
            return
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        if mode == "empty":
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        if mode != "nolength":
            self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if mode == "cutonce" and mode not in cut_done:
            cut_done.add(mode)
            self.wfile.write(body[: len(body) // 2])
            self.wfile.flush()
            self.close_connection = True
            return
        if mode in ("slow", "trickle"):
            step = len(body) // (8 if mode == "slow" else 50) + 1
            for i in range(0, len(body), step):
                try:
                    self.wfile.write(body[i : i + step])
                    self.wfile.flush()
                except OSError:  # the client went away (a canceled download)
                    return
                time.sleep(0.2)
            return
        self.wfile.write(body)


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
threading.Timer(180, server.shutdown).start()
with open(os.path.join(root, "port.tmp"), "w") as f:
    f.write(str(server.server_address[1]))
os.rename(os.path.join(root, "port.tmp"), os.path.join(root, "port"))
server.serve_forever()
