"""Serves this folder on 127.0.0.1 and prints every line a page posts to /report.

Prints "PORT <n>" once listening, then each reported line as it comes, in order. A page asked for
with "?autofocus=<id>" comes with the `autofocus` attribute on the element of that id, as a site
would write it.
"""
import http.server
import os
import sys
import threading
import urllib.parse

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

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        wanted = urllib.parse.parse_qs(url.query).get("autofocus")
        if not wanted:
            return super().do_GET()
        try:
            with open(os.path.basename(url.path), encoding="utf-8") as page:
                html = page.read()
        except OSError:
            return self.send_error(404)
        marked = '<input id="%s"' % wanted[0]
        body = html.replace(marked, marked + " autofocus", 1).encode("utf-8")
        self.send_response(200)
        self.send_header("Content-Type", "text/html; charset=utf-8")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def end_headers(self):
        self.send_header("Cache-Control", "no-store")
        super().end_headers()

    def log_message(self, *args):
        pass


os.chdir(os.path.dirname(os.path.abspath(__file__)))
server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
say("PORT %d" % server.server_address[1])
server.serve_forever()
