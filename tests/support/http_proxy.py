#!/usr/bin/env python3
"""The test suite's own http proxy on 127.0.0.1, as a company network has one.

Usage: http_proxy.py REQUEST_LOG

Prints "PROXYPORT <n>" on stdout once it listens. Answers what clients send a proxy:

  CONNECT host:port   a tunnel: "HTTP/1.1 200 Connection established" with a header of its
                      own, then the bytes both ways until either side closes (https)
  GET http://host:port/path
                      the request passed on to that server (without the proxy's own
                      headers, with "Connection: close") and its whole answer passed back

Each request line is appended to REQUEST_LOG ("CONNECT localhost:4433", "GET
http://127.0.0.1:8080/a"), flushed before it is served, so that tests can tell that a
request went through the proxy. Anything else gets 400.
"""

import socket
import socketserver
import sys
import threading
import urllib.parse


class Proxy(socketserver.ThreadingMixIn, socketserver.TCPServer):
    daemon_threads = True
    allow_reuse_address = True
    log_path = ""
    lock = threading.Lock()


def record(line):
    with Proxy.lock:
        with open(Proxy.log_path, "a", encoding="utf-8") as log:
            log.write(line + "\n")


def pipe(source, target):
    try:
        while True:
            data = source.recv(65536)
            if not data:
                break
            target.sendall(data)
    except OSError:
        pass
    finally:
        try:
            target.shutdown(socket.SHUT_WR)
        except OSError:
            pass


class Handler(socketserver.StreamRequestHandler):
    def read_head(self):
        lines = []
        while True:
            line = self.rfile.readline(65537)
            if not line or line in (b"\r\n", b"\n"):
                return lines
            lines.append(line.decode("latin-1").rstrip("\r\n"))

    def handle(self):
        head = self.read_head()
        if not head:
            return
        parts = head[0].split()
        if len(parts) != 3:
            self.wfile.write(b"HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n")
            return
        method, target, _ = parts
        record("%s %s" % (method, target))
        if method == "CONNECT":
            host, _, port = target.rpartition(":")
            try:
                upstream = socket.create_connection((host, int(port)), timeout=30)
            except (OSError, ValueError):
                self.wfile.write(b"HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\n\r\n")
                return
            upstream.settimeout(None)
            # Headers of the proxy's own, as real proxies send: never the tunnelled answer.
            self.wfile.write(b"HTTP/1.1 200 Connection established\r\n"
                             b"Proxy-Agent: launcher-test-proxy\r\n\r\n")
            self.wfile.flush()
            back = threading.Thread(target=pipe, args=(upstream, self.connection), daemon=True)
            back.start()
            pipe(self.connection, upstream)
            back.join()
            upstream.close()
            return
        url = urllib.parse.urlsplit(target)
        if url.scheme != "http" or not url.hostname:
            self.wfile.write(b"HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n")
            return
        try:
            upstream = socket.create_connection((url.hostname, url.port or 80), timeout=30)
        except OSError:
            self.wfile.write(b"HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\n\r\n")
            return
        path = url.path or "/"
        if url.query:
            path += "?" + url.query
        request = ["%s %s HTTP/1.1" % (method, path)]
        for line in head[1:]:
            name = line.split(":", 1)[0].strip().lower()
            if name not in ("proxy-connection", "connection", "keep-alive", "proxy-authorization"):
                request.append(line)
        request.append("Connection: close")
        upstream.sendall(("\r\n".join(request) + "\r\n\r\n").encode("latin-1"))
        pipe(upstream, self.connection)
        upstream.close()


def main():
    if len(sys.argv) != 2:
        sys.stderr.write(__doc__)
        return 2
    Proxy.log_path = sys.argv[1]
    open(Proxy.log_path, "a").close()
    server = Proxy(("127.0.0.1", 0), Handler)
    print("PROXYPORT %d" % server.server_address[1], flush=True)
    try:
        server.serve_forever(poll_interval=0.1)
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
