#!/usr/bin/env python3
"""The test suite's own web server: serves a folder on 127.0.0.1 at an ephemeral port.

Usage: http_server.py ROOT REQUEST_LOG [CERT_PEM KEY_PEM]

Prints "PORT <n>" on stdout once it listens. With a certificate it also serves HTTPS on a
second port, printed as "TLSPORT <n>"; each TLS handshake is logged as
"TLS handshake<TAB>ok" or "TLS handshake<TAB>reason". Every request is appended to
REQUEST_LOG as "GET /path<TAB>user agent", followed by "<TAB>range=N" when it asked for
"Range: bytes=N-" (the header's own text after "range=" when it asked for anything
else), flushed before the answer is sent, so that tests can count and order them.

Plain files honour "Range: bytes=N-": 206 with "Content-Range: bytes N-(len-1)/len" and
the bytes from N on, or 416 with "Content-Range: bytes */len" when N >= len. They honour
other byte ranges too ("bytes=0-99,200-299,-50", as RFC 9110 has them, each served as
asked): one satisfiable range is a 206 with its Content-Range, several a 206 with a
multipart/byteranges body, none a 416. A Range header that is no byte-range set is
ignored (200, the whole file).

A file X may have a companion "X.behaviour" (the file X itself need not exist) that
changes how requests for X are answered. One directive per line:

  status N          answer with status N and a short body (none for 204 and 304)
  truncate N        announce the whole length but send only N bytes, then close
  drop_after N      like truncate, counted in the part a range request asked for: announce
                    the length of the (remaining) body, send N bytes of it, then close.
                    With chunked: close after N bytes of chunk data (inside a chunk, or
                    between two when N ends one), never sending the last chunk
  chunked           send the body with Transfer-Encoding: chunked
  close             send no Content-Length; the end of the body is the closed connection
  length N          announce Content-Length N whatever the file holds, send the file, close
  raw_length TEXT   announce "Content-Length: TEXT" as it stands (e.g. "12 34"), send the
                    file, close
  drip B            send the body at B bytes per second, a tenth of that every 0.1 s; with
                    stall_body, only the first half, then the stall
  redirect URL [N]  answer N (default 302) with Location URL
  redirect_no_location
                    answer 302 with a short body and no Location
  ignore_range      answer a range request with 200 and the whole file
  single_range      answer a request for several ranges with the first one alone (a
                    server that does not send multipart answers)
  join_ranges       answer a request for several ranges with one range from the first
                    one's start to the last one's end
  serve_file PATH   answer with the bytes of the server's PATH (ranges and the other
                    directives apply to those)
  repeat_parts      answer a request for several ranges with their parts over and over,
                    without a length and never ending them (for at most 60 s)
  bad_content_range answer a range request for N with 206 and the bytes from N, under a
                    Content-Range that names N+1 as their start
  endless           200 with no Content-Length and a body that never ends (the connection
                    closes when the client gives up); with chunked, in chunks that never end,
                    5 ms apart
  stall_headers S   send nothing for S seconds, then close
  stall_body S      send the headers and half of the body, wait S seconds, then close
  hold              send the headers and half of the body, then wait until X.release
                    exists (at most 120 s), then close
  times K           the directives above apply to the first K requests for X since
                    X.behaviour was last written; later requests are served plainly
"""

import http.server
import os
import re
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

    def range_start(self):
        """The N of "Range: bytes=N-", or None (no Range header, or another form)."""
        value = self.headers.get("Range")
        if value is None:
            return None
        match = re.fullmatch(r"\s*bytes\s*=\s*(\d+)\s*-\s*", value)
        return int(match.group(1)) if match else None

    def byte_ranges(self, size):
        """The ranges of a "bytes=" Range header as (first, last) byte pairs, those that a
        file of `size` bytes can satisfy; None when the header is no byte-range set."""
        value = self.headers.get("Range", "")
        match = re.fullmatch(r"\s*bytes\s*=(.*)", value)
        if not match:
            return None
        ranges = []
        for item in match.group(1).split(","):
            item = item.strip()
            if not item:
                continue
            first_last = re.fullmatch(r"(\d*)\s*-\s*(\d*)", item)
            if not first_last or first_last.group(0) == "-":
                return None
            first, last = first_last.groups()
            if first == "":
                length = int(last)
                if length > 0 and size > 0:
                    ranges.append((max(0, size - length), size - 1))
                continue
            if last != "" and int(last) < int(first):
                return None
            if int(first) < size:
                ranges.append((int(first), size - 1 if last == "" else min(int(last), size - 1)))
        return ranges

    def record(self):
        line = "%s %s\t%s" % (self.command, self.path, self.headers.get("User-Agent", ""))
        value = self.headers.get("Range")
        if value is not None:
            start = self.range_start()
            line += "\trange=%s" % (start if start is not None else value.strip())
        with Handler.lock:
            with open(Handler.log_path, "a", encoding="utf-8") as log:
                log.write(line + "\n")
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
                # Requests are counted for each version of the file.
                local = (local, os.fstat(f.fileno()).st_mtime_ns)
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

    def unsatisfiable(self, size):
        self.plain(416, b"range not satisfiable", [("Content-Range", "bytes */%d" % size)])

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
            code = int(rules["status"])
            if code in (204, 304):
                self.send_response(code)
                self.end_headers()
            else:
                self.plain(code, b"status %d" % code)
            return
        if "redirect" in rules:
            words = rules["redirect"].split()
            code = int(words[1]) if len(words) > 1 else 302
            self.plain(code, b"", [("Location", words[0])])
            return
        if "redirect_no_location" in rules:
            self.plain(302, b"moved, but not saying where")
            return
        if "endless" in rules:
            self.close_connection = True
            self.send_response(200)
            piece = b"endless " * 8192
            if "chunked" in rules:
                self.send_header("Transfer-Encoding", "chunked")
                self.end_headers()
                # A moment between pieces, as a network delivers them: Wine's WinINet reads
                # a chunked body on to its end when the request is closed early, for as
                # long as more has already arrived, and over loopback more always has.
                while True:
                    self.wfile.write(b"%x\r\n%s\r\n" % (len(piece), piece))
                    self.wfile.flush()
                    time.sleep(0.005)
            self.send_header("Connection", "close")
            self.end_headers()
            while True:
                self.wfile.write(piece)
        requested = local
        if "serve_file" in rules:
            local = os.path.join(Handler.root, *[p for p in rules["serve_file"].split("/") if p])
        if not os.path.isfile(local):
            self.plain(404, b"not found")
            return
        asked = None if "ignore_range" in rules else self.headers.get("Range")
        start = None if asked is None else self.range_start()
        if asked is not None and start is None:
            self.serve_ranges(local, requested, rules)
            return
        if not rules:
            # Straight from the file to the socket: the server must not be what a
            # timing of a large download measures.
            with open(local, "rb") as f:
                size = os.fstat(f.fileno()).st_size
                if start is not None and start >= size:
                    self.unsatisfiable(size)
                    return
                self.close_connection = True
                if start is None:
                    self.send_response(200)
                    self.send_header("Content-Length", str(size))
                else:
                    self.send_response(206)
                    self.send_header("Content-Range", "bytes %d-%d/%d" % (start, size - 1, size))
                    self.send_header("Content-Length", str(size - start))
                self.send_header("Connection", "close")
                self.end_headers()
                self.wfile.flush()
                if size > (start or 0):
                    self.connection.sendfile(f, offset=start or 0)
            return
        with open(local, "rb") as f:
            body = f.read()

        status = 200
        headers = []
        if start is not None:
            if start >= len(body):
                self.unsatisfiable(len(body))
                return
            status = 206
            named = start + 1 if "bad_content_range" in rules else start
            headers.append(("Content-Range", "bytes %d-%d/%d" % (
                named, named + len(body) - start - 1, len(body) + named - start)))
            body = body[start:]

        self.send_body(status, headers, body, rules, requested)

    def serve_ranges(self, local, requested, rules):
        """An answer to a Range header other than "bytes=N-". Only the bytes asked for are
        read, so that a large file costs the server no more than the answer."""
        size = os.path.getsize(local)
        ranges = self.byte_ranges(size)
        if ranges is None:
            with open(local, "rb") as f:
                self.send_body(200, [], f.read(), rules, requested)
            return
        if not ranges:
            self.unsatisfiable(size)
            return
        if "single_range" in rules:
            ranges = ranges[:1]
        if "join_ranges" in rules:
            ranges = [(ranges[0][0], ranges[-1][1])]

        def read(first, last):
            with open(local, "rb") as f:
                f.seek(first)
                return f.read(last + 1 - first)

        if len(ranges) == 1:
            first, last = ranges[0]
            self.send_body(206, [("Content-Range", "bytes %d-%d/%d" % (first, last, size))],
                           read(first, last), rules, requested)
            return
        boundary = "LAUNCHER_TEST_PARTS_0123456789"
        parts = []
        for first, last in ranges:
            parts.append(b"\r\n--%s\r\nContent-Type: application/octet-stream\r\n"
                         b"Content-Range: bytes %d-%d/%d\r\n\r\n" % (boundary.encode(), first, last, size))
            parts.append(read(first, last))
        if "repeat_parts" in rules:
            self.close_connection = True
            self.send_response(206)
            self.send_header("Content-Type", "multipart/byteranges; boundary=" + boundary)
            self.send_header("Connection", "close")
            self.end_headers()
            deadline = time.monotonic() + 60
            while time.monotonic() < deadline:
                self.wfile.write(b"".join(parts))
            return
        parts.append(b"\r\n--%s--\r\n" % boundary.encode())
        self.send_body(206, [("Content-Type", "multipart/byteranges; boundary=" + boundary)], b"".join(parts),
                       rules, requested)

    def send_body(self, status, headers, body, rules, requested):
        """The answer with the directives that shape how a body is sent."""
        if "chunked" in rules:
            self.send_response(status)
            for name, value in headers:
                self.send_header(name, value)
            self.send_header("Transfer-Encoding", "chunked")
            self.end_headers()
            # Chunks framed for the whole body; drop_after cuts inside a chunk, or between
            # two when N falls on a chunk's end.
            cut = int(rules.get("drop_after", len(body)))
            step = max(1, len(body) // 3)
            for i in range(0, min(cut, len(body)), step):
                piece = body[i:i + step]
                self.wfile.write(b"%x\r\n" % len(piece))
                if i + len(piece) > cut:
                    self.wfile.write(piece[:cut - i])
                    break
                self.wfile.write(piece + b"\r\n")
            if "drop_after" in rules:
                self.wfile.flush()
                self.close_connection = True
                return
            self.wfile.write(b"0\r\n\r\n")
            return

        self.close_connection = True
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        if "close" in rules:
            self.send_header("Connection", "close")
            self.end_headers()
            self.wfile.write(body)
            return
        announced = rules.get("raw_length", str(int(rules.get("length", len(body)))))
        self.send_header("Content-Length", announced)
        self.send_header("Connection", "close")
        self.end_headers()
        if "truncate" in rules:
            self.wfile.write(body[:int(rules["truncate"])])
        elif "drop_after" in rules:
            self.wfile.write(body[:int(rules["drop_after"])])
        elif "drip" in rules:
            self.wfile.flush()
            step = max(1, int(rules["drip"]) // 10)
            end = len(body) // 2 if "stall_body" in rules else len(body)
            for i in range(0, end, step):
                self.wfile.write(body[i:min(i + step, end)])
                self.wfile.flush()
                time.sleep(0.1)
            if "stall_body" in rules:
                time.sleep(float(rules["stall_body"]))
        elif "stall_body" in rules or "hold" in rules:
            self.wfile.write(body[:len(body) // 2])
            self.wfile.flush()
            if "stall_body" in rules:
                time.sleep(float(rules["stall_body"]))
            else:
                deadline = time.monotonic() + 120
                while not os.path.exists(requested + ".release") and time.monotonic() < deadline:
                    time.sleep(0.02)
        else:
            self.wfile.write(body)

    def handle(self):
        try:
            super().handle()
        except (ConnectionError, BrokenPipeError, ssl.SSLError):
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
