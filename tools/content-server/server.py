#!/usr/bin/env python3
"""Stand-ins for the hospital's content server and the Windows Spotlight selection
service, for tests and the demo only.

Serves the content endpoints over HTTPS on 127.0.0.1 from a folder:

    /api/veltrane/duty-current?schedule=1   ROOT/duty.txt
    /api/veltrane/current                   ROOT/current.json
    /api/veltrane/image?etag=TAG            ROOT/images/TAG.png
    /api/veltrane/text?etag=TAG&badges=2    ROOT/texts/TAG.txt
    /api/static/PATH                        ROOT/static/PATH, else ROOT/api/static/PATH
                                            (the site that veltrane-publish --site ROOT lays out)

A second port serves the same with a certificate from a CA that nobody trusts. A third port
(the Spotlight stand-in, same test CA) serves the same paths and also

    /v4/api/selection?placement=88000820&bcnt=4&country=US&locale=en-US&fmt=json
                                            a selection document built from
                                            ROOT/spotlight/selection.json
    /spotlight/images/NAME                  ROOT/spotlight/images/NAME

selection.json describes the items in order, each an object with one of
    "image": "NAME"      an item whose ad.landscapeImage.asset is this server's image URL
    "asset": "URL"       an item whose ad.landscapeImage.asset is URL
    "item": VALUE        the element's "item" exactly as given (a string that is not JSON,
                         a number, ...)
and optionally "omit": "KEY" to leave one of "ad", "landscapeImage", "asset" out.

Faults are read from ROOT/faults.json on every request: an object whose keys are path
prefixes (without the query) and whose values may hold
    "status": N          answer N with an empty body
    "delay": S           wait S seconds before answering
    "truncate": N        announce the full length, send N bytes, close
    "trickle": S         announce the full length, then send one byte every S seconds
    "header_trickle": S  send the status line, then one byte of a header every S seconds
    "echo": "Header"     serve the request's value of this header instead of the file
    "append": "text"     add bytes after the file's content
    "redirects": N       answer 302 N times (to the same URL) before serving
    "redirect_to": URL   answer 302 to URL unless the request is for URL's host and port
    "body": "text"       serve this text instead of the file
Tests that run beside others, and so must not touch faults.json, use a fixed route instead:
    /fixed/trickle/S/N   announce N bytes of "x", then send one every S seconds
Every other request line is appended to ROOT/requests.log.
"""
import argparse
import json
import os
import ssl
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer


SELECTION_QUERY = {"placement": ["88000820"], "bcnt": ["4"], "country": ["US"], "locale": ["en-US"], "fmt": ["json"]}


def selection_document(root, host):
    """The two-level document: each item is itself JSON text, as the real service sends it."""
    with open(os.path.join(root, "spotlight", "selection.json"), encoding="utf-8") as f:
        description = json.load(f)
    items = []
    for entry in description.get("items", []):
        if "item" in entry:
            items.append({"item": entry["item"]})
            continue
        url = entry.get("asset") or "https://%s/spotlight/images/%s" % (host, entry.get("image", ""))
        omit = entry.get("omit")
        asset = {} if omit == "asset" else {"asset": url}
        ad = {} if omit == "landscapeImage" else {"landscapeImage": asset, "title": "stand-in"}
        item = {} if omit == "ad" else {"ad": ad}
        items.append({"item": json.dumps(item)})
    return json.dumps({"batchrsp": {"ver": "1.0", "items": items}}).encode("utf-8")


def resolve(root, path, query):
    q = urllib.parse.parse_qs(query)
    if path.startswith("/spotlight/images/") and ".." not in path:
        return os.path.join(root, "spotlight", "images", path[len("/spotlight/images/"):])
    tag = (q.get("etag") or [""])[0]
    if path == "/api/veltrane/duty-current" and q.get("schedule") == ["1"]:
        return os.path.join(root, "duty.txt")
    if path == "/api/veltrane/current":
        return os.path.join(root, "current.json")
    if path == "/api/veltrane/image" and tag and "/" not in tag and ".." not in tag:
        return os.path.join(root, "images", tag + ".png")
    if path == "/api/veltrane/text" and tag and "/" not in tag and ".." not in tag:
        return os.path.join(root, "texts", tag + ".txt")
    if path.startswith("/api/static/") and ".." not in path:
        rest = path[len("/api/static/"):]
        plain = os.path.join(root, "static", rest)
        return plain if os.path.exists(plain) else os.path.join(root, "api", "static", rest)
    return None


def load_faults(root):
    try:
        with open(os.path.join(root, "faults.json"), encoding="utf-8") as f:
            return json.load(f)
    except (OSError, ValueError):
        return {}


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    root = "."
    lock = threading.Lock()
    hops = {}

    def log_message(self, fmt, *args):
        pass

    def do_GET(self):
        # The absolute form, which an HTTP/1.1 server must accept: Wine's WinHTTP sends it
        # inside a proxy's CONNECT tunnel.
        scheme, sep, rest = self.path.partition("://")
        if sep and "/" not in scheme:
            self.path = "/" + rest.partition("/")[2]
        path, _, query = self.path.partition("?")
        fault = {}
        fixed = path.split("/")
        if len(fixed) == 5 and fixed[1:3] == ["fixed", "trickle"]:
            fault = {"trickle": float(fixed[3]), "body": "x" * int(fixed[4])}
        else:
            with self.lock:
                with open(os.path.join(self.root, "requests.log"), "a", encoding="utf-8") as log:
                    log.write(self.path + "\n")
            for prefix, value in load_faults(self.root).items():
                if path.startswith(prefix):
                    fault = value
        if fault.get("delay"):
            time.sleep(float(fault["delay"]))
        if fault.get("header_trickle"):
            self.trickle_headers(float(fault["header_trickle"]))
            return
        target = fault.get("redirect_to")
        if target and urllib.parse.urlsplit(target).netloc != self.headers.get("Host", ""):
            self.send_response(302)
            self.send_header("Location", target)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        if fault.get("redirects"):
            with self.lock:
                done = self.hops.get(self.path, 0)
                self.hops[self.path] = done + 1
            if done < int(fault["redirects"]):
                self.send_response(302)
                self.send_header("Location", self.path)
                self.send_header("Content-Length", "0")
                self.end_headers()
                return
        if fault.get("status"):
            self.reply(int(fault["status"]), b"")
            return
        if "echo" in fault:
            body = (self.headers.get(fault["echo"]) or "").encode("utf-8")
        elif "body" in fault:
            body = fault["body"].encode("utf-8")
        elif path == "/v4/api/selection" and urllib.parse.parse_qs(query) == SELECTION_QUERY:
            try:
                body = selection_document(self.root, self.headers.get("Host", ""))
            except (OSError, ValueError):
                self.reply(404, b"")
                return
        else:
            file = resolve(self.root, path, query)
            try:
                with open(file, "rb") as f:
                    body = f.read()
            except (OSError, TypeError):
                self.reply(404, b"")
                return
        body += fault.get("append", "").encode("utf-8")
        if "truncate" in fault:
            self.send_response(200)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body[: int(fault["truncate"])])
            self.wfile.flush()
            self.close_connection = True
            return
        if "trickle" in fault:
            self.send_response(200)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            for i in range(len(body)):
                time.sleep(float(fault["trickle"]))
                try:
                    self.wfile.write(body[i : i + 1])
                    self.wfile.flush()
                except OSError:
                    break
            self.close_connection = True
            return
        self.reply(200, body)

    def trickle_headers(self, seconds):
        try:
            self.wfile.write(b"HTTP/1.1 200 OK\r\n")
            self.wfile.flush()
            while True:
                time.sleep(seconds)
                self.wfile.write(b"X")
                self.wfile.flush()
        except OSError:
            pass
        self.close_connection = True

    def reply(self, status, body):
        self.send_response(status)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)


def serve(port, cert, key):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    server = ThreadingHTTPServer(("127.0.0.1", port), Handler)
    server.daemon_threads = True
    server.socket = context.wrap_socket(server.socket, server_side=True)
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    return server


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--root", required=True)
    p.add_argument("--tls", required=True, help="folder with server.pem/key and rogue.pem/key")
    p.add_argument("--port", type=int, required=True)
    p.add_argument("--untrusted-port", type=int, required=True)
    p.add_argument("--spotlight-port", type=int, default=0)
    p.add_argument("--owner", type=int, default=0, help="stop by itself when this process ends")
    a = p.parse_args()
    Handler.root = a.root
    os.makedirs(a.root, exist_ok=True)
    serve(a.port, os.path.join(a.tls, "server.pem"), os.path.join(a.tls, "server.key"))
    serve(a.untrusted_port, os.path.join(a.tls, "rogue.pem"), os.path.join(a.tls, "rogue.key"))
    if a.spotlight_port:
        serve(a.spotlight_port, os.path.join(a.tls, "server.pem"), os.path.join(a.tls, "server.key"))
    # A fixed lifetime would end it in the middle of a long first run; its starter's does not.
    while not a.owner or os.path.exists(f"/proc/{a.owner}"):
        time.sleep(1)


if __name__ == "__main__":
    main()
