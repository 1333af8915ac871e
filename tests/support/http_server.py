#!/usr/bin/env python3
"""The test suite's own web server: serves a folder on 127.0.0.1 at an ephemeral port.

Usage: http_server.py ROOT REQUEST_LOG [CERT_PEM KEY_PEM]

Prints "PORT <n>" on stdout once it listens. With a certificate (self-signed: no client
trusts it) it also serves HTTPS on a second port, printed as "TLSPORT <n>"; each TLS
handshake is logged as "TLS handshake<TAB>ok" or "TLS handshake<TAB>reason". Every request is appended to REQUEST_LOG as
"GET /path<TAB>user agent" (flushed before the answer is sent) so that tests can count and order them.

A file X may have a companion "X.behaviour" (the file X itself need not exist) that
changes how requests for X are answered. One directive per line:

  status N          answer with status N and a short body
  truncate N        announce the whole length but send only N bytes, then close
  chunked           send the body with Transfer-Encoding: chunked
  close             send no Content-Length; the end of the body is the closed connection
  length N          announce Content-Length N whatever the file holds, send the file, close
  redirect URL      answer 302 with Location URL
  stall_headers S   send nothing for S seconds, then close
  stall_body S      send the headers and half of the body, wait S seconds, then close
  hold              send the headers and half of the body, then wait until X.release
                    exists (at most 120 s), then close
  times K           the directives above apply to the first K requests for X only;
                    later requests are served plainly
"""

import http.server
import os
import socketserver
import ssl
import sys
import threading
import time
import urllib.parse


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    root = "."
    log_path = ""
    counts = {}
    lock = threading.Lock()

    def log_message(self, *args):
        pass

    def record(self):
        with Handler.lock:
            with open(Handler.log_path, "a", encoding="utf-8") as log:
                log.write("%s %s\t%s\n" % (self.command, self.path,
                                             self.headers.get("User-Agent", "")))
                log.flush()

    def local_path(self):
        path = urllib.parse.unquote(urllib.parse.urlsplit(self.path).path)
        parts = [p for p in path.split("/") if p not in ("", ".")]
        if ".." in parts:
            return None
        return os.path.join(Handler.root, *parts)

    def behaviour(self, local):
        directives = {}
        try:
            with open(local + ".behaviour", encoding="utf-8") as f:
                for line in f:
                    words = line.split(None, 1)
                    if words:
                        directives[words[0]] = words[1].strip() if len(words) > 1 else ""
        except OSError:
            return {}
        with Handler.lock:
            seen = Handler.counts.get(local, 0)
            Handler.counts[local] = seen + 1
        if "times" in directives and seen >= int(directives["times"]):
            return {}
        return directives

    def plain(self, status, body=b"", headers=()):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        self.record()
        local = self.local_path()
        if local is None:
            self.plain(400, b"bad path")
            return
        rules = self.behaviour(local)
        if "stall_headers" in rules:
            time.sleep(float(rules["stall_headers"]))
            self.close_connection = True
            return
        if "status" in rules:
            self.plain(int(rules["status"]), b"status %s" % rules["status"].encode())
            return
        if "redirect" in rules:
            self.plain(302, b"", [("Location", rules["redirect"])])
            return
        if not os.path.isfile(local):
            self.plain(404, b"not found")
            return
        if not rules:
            # Straight from the file to the socket: the server must not be what a
            # timing of a large download measures.
            with open(local, "rb") as f:
                size = os.fstat(f.fileno()).st_size
                self.close_connection = True
                self.send_response(200)
                self.send_header("Content-Length", str(size))
                self.send_header("Connection", "close")
                self.end_headers()
                self.wfile.flush()
                self.connection.sendfile(f)
            return
        with open(local, "rb") as f:
            body = f.read()

        if "chunked" in rules:
            self.send_response(200)
            self.send_header("Transfer-Encoding", "chunked")
            self.end_headers()
            step = max(1, len(body) // 3)
            for i in range(0, len(body), step):
                piece = body[i:i + step]
                self.wfile.write(b"%x\r\n%s\r\n" % (len(piece), piece))
            self.wfile.write(b"0\r\n\r\n")
            return

        self.close_connection = True
        self.send_response(200)
        if "close" in rules:
            self.send_header("Connection", "close")
            self.end_headers()
            self.wfile.write(body)
            return
        announced = int(rules.get("length", len(body)))
        self.send_header("Content-Length", str(announced))
        self.send_header("Connection", "close")
        self.end_headers()
        if "truncate" in rules:
            self.wfile.write(body[:int(rules["truncate"])])
        elif "stall_body" in rules or "hold" in rules:
            self.wfile.write(body[:len(body) // 2])
            self.wfile.flush()
            if "stall_body" in rules:
                time.sleep(float(rules["stall_body"]))
            else:
                deadline = time.monotonic() + 120
                while not os.path.exists(local + ".release") and time.monotonic() < deadline:
                    time.sleep(0.02)
        else:
            self.wfile.write(body)

    def handle(self):
        try:
            super().handle()
        except (ConnectionError, BrokenPipeError):
            pass


class TlsHandler(Handler):
    rejected = False

    def setup(self):
        # The handshake runs here, on the connection's own thread, and every one is
        # logged: a client that refuses the certificate either breaks the handshake off
        # or completes it and then sends no request.
        outcome = "ok"
        try:
            self.request.do_handshake()
        except (ssl.SSLError, OSError) as error:
            self.rejected = True
            outcome = str(getattr(error, "reason", None) or error)
        with Handler.lock:
            with open(Handler.log_path, "a", encoding="utf-8") as log:
                log.write("TLS handshake\t%s\n" % outcome)
        super().setup()

    def handle(self):
        if not self.rejected:
            super().handle()


class TlsServer(Server):
    context = None

    def get_request(self):
        sock, address = super().get_request()
        return self.context.wrap_socket(sock, server_side=True,
                                        do_handshake_on_connect=False), address


def main():
    if len(sys.argv) not in (3, 5):
        sys.stderr.write(__doc__)
        return 2
    Handler.root = os.path.abspath(sys.argv[1])
    Handler.log_path = os.path.abspath(sys.argv[2])
    open(Handler.log_path, "a").close()
    server = Server(("127.0.0.1", 0), Handler)
    if len(sys.argv) == 5:
        TlsServer.context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        TlsServer.context.load_cert_chain(sys.argv[3], sys.argv[4])
        tls = TlsServer(("127.0.0.1", 0), TlsHandler)
        threading.Thread(target=tls.serve_forever, kwargs={"poll_interval": 0.1},
                         daemon=True).start()
        print("TLSPORT %d" % tls.server_address[1], flush=True)
    print("PORT %d" % server.server_address[1], flush=True)
    try:
        server.serve_forever(poll_interval=0.1)
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
