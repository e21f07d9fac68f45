"""Serves this folder on 127.0.0.1 and prints every line a page posts to /report.

Prints "PORT <n>" once listening, then each reported line as it comes, in order.
"""
import http.server
import os
import sys
import threading

lock = threading.Lock()


def say(line):
    with lock:
        sys.stdout.write(line + "\n")
        sys.stdout.flush()


class Handler(http.server.SimpleHTTPRequestHandler):
    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        body = self.rfile.read(length).decode("utf-8", "replace")
        say(body.replace("\r", " ").replace("\n", " "))
        self.send_response(204)
        self.end_headers()

    def end_headers(self):
        self.send_header("Cache-Control", "no-store")
        super().end_headers()

    def log_message(self, *args):
        pass


os.chdir(os.path.dirname(os.path.abspath(__file__)))
server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
say("PORT %d" % server.server_address[1])
server.serve_forever()
