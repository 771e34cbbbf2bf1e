#!/usr/bin/env python3
"""Update server for the launcher's tests and demos (Python 3 standard library only).

Serves one folder tree over HTTP/1.1 with keep-alive on loopback, on several listeners at once:
HTTPS with the trusted test certificate (stand-ins for the primary and fallback update servers),
plain HTTP, and HTTPS with a certificate from a CA that the Wine prefix does not trust. Every HTTPS
listener accepts TLS 1.2 and newer only, as many servers and CDNs now do. A "proxy" listener is an
HTTP CONNECT proxy in front of all of them (see Proxy below).

Behaviour is steered through files only, so the tests never open a control connection that would
disturb the client's connection reuse:
  CONTROL/rules.json   rules re-read on every request (see Rules below)
  CONTROL/stop         the server exits once this file appears
  CONTROL/exited       written by the server when it has stopped listening

Every TCP connection and every request goes to the log file, one event per line:
  EVENT t=SECONDS key=value ...
with these events and fields (values never contain blanks):
  listen   kind port
  connect  conn port kind peer
  tls-fail conn port error
  request  conn port kind method path status length rule range form
  sent     conn port path bytes complete
  close    conn port requests
  exit     reason
`t` counts seconds since the server started; `conn` numbers TCP connections from 1 in accept
order across all listeners; `path` is the request target as sent (query included); `length` is
the announced Content-Length or "-" when none is sent; `rule` is the index of the matching rule
in rules.json or "-"; `range` is the Range header as sent ("-" for none); `form` is "absolute" for
a target sent as a whole URL (its path is logged) and "origin" otherwise; `complete` is 1 when
the whole planned body went out. A `request` line is
written before the first byte of the response, so a client that has its response can rely on it.

Rules: rules.json holds a JSON array of objects, first match wins. Matching fields:
  path      exact request target, query included   | prefix  start of the request target
  port      listener port (optional)                | kind    "https", "http", "untrusted" (optional)
  times     apply to the first N matching requests only (counted until rules.json changes)
Action fields:
  action    "status"   answer `status` (404, 500, 206, 304, ...) with `body`, the file, or a short
                       text as the body; 304 and 204 carry no body, 206 a Content-Range
            "empty"    200 with an empty body
            "stall"    send `after` bytes, pause `seconds`, then send the rest
            "cut"      announce the full length, send `after` bytes, close the connection
            "drip"     send `chunk` bytes (default 1024) every `interval` seconds (default 0.1)
            "endless"  filler bytes; `framing` "chunked" (default), "close" (no length, end by
                       closing) or "length" (announce `length`); stops after `limit` bytes
                       (default: never, until the client goes away)
            "overlong" announce `length` bytes (default: half the content) but send all of it,
                       then close the connection
            "file"     serve `file` (relative to the root) instead of the requested path
            (none)     serve the requested file as usual (useful with `delay`)
  delay     seconds to wait before the status line (any action)
  body      inline UTF-8 text used as the content instead of a file (any action)
  ranges    how a "Range: bytes=N-" request is answered: "honour" (default), "ignore" (200 with
            the whole content, as an older server does), "shifted" (206 for the range that
            starts one byte early)
Without a matching rule the file below the root named by the path (query dropped, percent-decoded)
is served with 200, or 404 when there is none. A request with "Range: bytes=N-" gets 206 and the
content from byte N with its Content-Range (416 when N is not below the length), also through
"cut", "stall" and "drip", which then cut, stall or drip that part; other range forms get 200.

Proxy (listener kind "proxy"): answers "CONNECT host:port" by connecting to that port on this
server's address when the host is one of the --proxy-host names (names that only the proxy can
resolve), or by the system's name resolution otherwise, then relays bytes both ways; anything it
cannot connect gets 502. Its event:
  tunnel   conn port target status upstream   (upstream: the local address of the proxy's own
                                               connection, the peer that the target logs)

Rating service (only with --rating): GET /v1/top?diff=N is answered on every listener from rating
data instead of the folder tree, as compact JSON (no blanks, every non-ASCII character as a "\\u"
escape). The data is a JSON object keyed by the difficulty as text ("0" to "3"):
  a list     the rows, sent as {"rows":[...]}
  an object  sent as it is (e.g. one without "rows")
  a string   sent verbatim, for bodies that are not JSON at all
  null       (or no key) answered with 404
--rating builtin uses the built-in data: "0" twelve rows with Cyrillic nicks, an emoji, an escaped
quote and braces inside a nick, nested objects and a row without rank; "1" five rows; "2" a body
without "rows"; "3" 404. --rating FILE reads the data from FILE at every request, so a test can
change it while the server runs. Rules apply to rating requests too and work on the rating body,
e.g. a stall of three seconds after ten bytes of one difficulty:
  [{"path": "/v1/top?diff=1", "action": "stall", "after": 10, "seconds": 3}]
"""

import argparse
import http.server
import json
import os
import select
import signal
import socket
import socketserver
import ssl
import sys
import threading
import time
import urllib.parse

KINDS = ("https", "http", "untrusted", "proxy")
FILLER = bytes(range(256)) * 256  # 64 KiB
# Bodies up to this size leave in one write together with their headers.
COMBINE_LIMIT = 1 << 20


class Journal:
    """The event log: one line per event, flushed at once, shared by all threads."""

    def __init__(self, path):
        self.lock = threading.Lock()
        self.start = time.monotonic()
        self.file = open(path, "a", encoding="utf-8") if path else None

    def write(self, event, **fields):
        parts = [event, "t=%.3f" % (time.monotonic() - self.start)]
        for key, value in fields.items():
            text = "-" if value is None else str(value)
            parts.append("%s=%s" % (key, "_".join(text.split()) or "-"))
        line = " ".join(parts) + "\n"
        with self.lock:
            if self.file:
                self.file.write(line)
                self.file.flush()


class ServerState:
    def __init__(self, args, journal):
        self.root = os.path.realpath(args.root)
        self.control = args.control
        self.journal = journal
        self.lock = threading.Lock()
        self.next_conn = 1
        self.open_connections = 0
        self.last_activity = time.monotonic()
        self.rules_text = None
        self.rule_counts = {}
        self.rating = RatingService(args.rating) if args.rating else None

    def new_connection(self):
        with self.lock:
            conn = self.next_conn
            self.next_conn += 1
            self.open_connections += 1
            self.last_activity = time.monotonic()
            return conn

    def end_connection(self):
        with self.lock:
            self.open_connections -= 1
            self.last_activity = time.monotonic()

    def touch(self):
        with self.lock:
            self.last_activity = time.monotonic()

    def idle_for(self):
        with self.lock:
            if self.open_connections > 0:
                return 0.0
            return time.monotonic() - self.last_activity

    def match_rule(self, target, port, kind):
        """Returns (index, rule) of the first rule that applies, counting its use, or (None, None)."""
        if not self.control:
            return None, None
        try:
            with open(os.path.join(self.control, "rules.json"), encoding="utf-8") as f:
                text = f.read()
        except OSError:
            text = "[]"
        with self.lock:
            if text != self.rules_text:
                self.rules_text = text
                self.rule_counts = {}
            try:
                rules = json.loads(text) if text.strip() else []
            except ValueError as error:
                self.journal.write("bad-rules", error=error)
                return None, None
            for index, rule in enumerate(rules):
                if "path" in rule and rule["path"] != target:
                    continue
                if "prefix" in rule and not target.startswith(rule["prefix"]):
                    continue
                if "port" in rule and int(rule["port"]) != port:
                    continue
                if "kind" in rule and rule["kind"] != kind:
                    continue
                used = self.rule_counts.get(index, 0)
                if "times" in rule and used >= int(rule["times"]):
                    continue
                self.rule_counts[index] = used + 1
                return index, rule
        return None, None

    def read_file(self, relative):
        """Content of a file below the root, or None. Never leaves the root."""
        relative = urllib.parse.unquote(relative.split("?", 1)[0]).lstrip("/")
        full = os.path.realpath(os.path.join(self.root, relative))
        if full != self.root and not full.startswith(self.root + os.sep):
            return None
        if not os.path.isfile(full):
            return None
        with open(full, "rb") as f:
            return f.read()


RATING_PATH = "/v1/top"


def builtin_rating():
    """Rating data that exercises what a rating reader must cope with."""
    easy_nicks = ["Иван", "Ольга", "\U0001F409dragon", 'Ann "the" }{', "Пётр", "Мария", "Zed", "Лёша",
                  "night_owl", "Кира", "tenth", "eleventh"]
    easy = []
    for position, nick in enumerate(easy_nicks, 1):
        row = {"rank": position, "nick": nick, "wave": 60 - position, "endless": max(5 - position, -1)}
        if position == 2:
            del row["rank"]  # the reader takes the row's position
        if position % 3 == 0:
            row["stats"] = {"kills": 1000 + position, "rank": 99, "best": {"wave": 999}}  # after the keys
        easy.append(row)
    normal = [
        {"rank": 1, "nick": "Варвар", "wave": 48, "endless": 2},
        {"rank": 2, "nick": "Ironside", "wave": 45, "endless": 0},
        {"rank": 3, "nick": "Снежана", "wave": 41},
        {"rank": 4, "nick": "Halvard", "wave": 39, "endless": 1},
        {"rank": 5, "nick": "Ёж", "wave": 30},
    ]
    return {"0": easy, "1": normal, "2": {"season": 3, "top": []}, "3": None}


class RatingService:
    """Answers /v1/top?diff=N from built-in data or a JSON file (see Rating service above)."""

    def __init__(self, source):
        self.source = source
        self.data()  # a missing or broken file fails at start, not at the first request

    def data(self):
        if self.source == "builtin":
            return builtin_rating()
        with open(self.source, encoding="utf-8") as f:
            data = json.load(f)
        if not isinstance(data, dict):
            raise ValueError("%s: rating data must be a JSON object keyed by difficulty" % self.source)
        return data

    def body(self, target):
        """The response body for a rating request, or None for 404."""
        difficulty = urllib.parse.parse_qs(urllib.parse.urlsplit(target).query).get("diff", [None])[0]
        try:
            value = self.data().get(difficulty)
        except (OSError, ValueError):
            return None
        if value is None:
            return None
        if isinstance(value, str):
            return value.encode("utf-8")
        return json.dumps({"rows": value} if isinstance(value, list) else value, separators=(",", ":"),
                          ensure_ascii=True).encode("ascii")


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "VarnholdTestServer/1.0"
    sys_version = ""
    # An idle keep-alive connection is dropped after this many seconds.
    timeout = 120

    def setup(self):
        self.state = self.server.state
        self.kind = self.server.kind
        self.port = self.server.server_address[1]
        self.conn = self.state.new_connection()
        self.requests_done = 0
        self.tls_failed = False
        # Headers and body go out in separate writes; without this every request on a reused
        # connection waits for the client's delayed acknowledgement (about 40 ms).
        self.request.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        peer = "%s:%s" % self.client_address[:2]
        self.state.journal.write("connect", conn=self.conn, port=self.port, kind=self.kind, peer=peer)
        if self.server.tls_context is not None:
            self.request.settimeout(15)
            try:
                self.request = self.server.tls_context.wrap_socket(self.request, server_side=True)
            except (ssl.SSLError, OSError) as error:
                self.tls_failed = True
                self.state.journal.write("tls-fail", conn=self.conn, port=self.port, error=error)
                return
        super().setup()

    def handle(self):
        if not self.tls_failed:
            try:
                super().handle()
            except (ConnectionError, ssl.SSLError, socket.timeout, OSError):
                pass

    def finish(self):
        try:
            if not self.tls_failed:
                super().finish()
        except (ConnectionError, ssl.SSLError, OSError):
            pass
        self.state.journal.write("close", conn=self.conn, port=self.port, requests=self.requests_done)
        self.state.end_connection()

    def log_message(self, format, *args):  # the journal replaces the default stderr log
        pass

    def do_GET(self):
        self.respond(send_body=True)

    def do_HEAD(self):
        self.respond(send_body=False)

    # --- responses ---------------------------------------------------------------------------

    def respond(self, send_body):
        self.requests_done += 1
        self.state.touch()
        # A target in absolute form ("https://host:port/path", what a client may send through a
        # proxy, also inside a tunnel) names the same resource as its path.
        self.form = "absolute" if self.path.startswith(("http://", "https://")) else "origin"
        if self.form == "absolute":
            parts = urllib.parse.urlsplit(self.path)
            self.path = (parts.path or "/") + ("?" + parts.query if parts.query else "")
        index, rule = self.state.match_rule(self.path, self.port, self.kind)
        rule = rule or {}
        if rule.get("delay"):
            time.sleep(float(rule["delay"]))
        if "body" in rule:
            content = rule["body"].encode("utf-8")
        elif rule.get("action") == "file":
            content = self.state.read_file(rule.get("file", ""))
        elif self.state.rating is not None and urllib.parse.urlsplit(self.path).path == RATING_PATH:
            content = self.state.rating.body(self.path)
        else:
            content = self.state.read_file(self.path)
        action = rule.get("action")
        rule_name = "-" if index is None else index
        self.ok_status, self.ok_headers = 200, []
        if content is not None and action in (None, "cut", "stall", "drip"):
            content = self.apply_range(content, rule.get("ranges", "honour"), rule_name)
            if content is None:
                return
        if action == "status":
            self.respond_status(int(rule.get("status", 500)), content, rule_name, send_body)
        elif action == "empty":
            self.start(200, 0, rule_name)
            self.sent(0, True)
        elif action == "endless":
            self.respond_endless(rule, rule_name, send_body)
        elif content is None:
            self.respond_status(404, None, rule_name, send_body)
        elif action == "stall":
            self.respond_stall(content, rule, rule_name, send_body)
        elif action == "cut":
            self.start(self.ok_status, len(content), rule_name, self.ok_headers)
            after = min(int(rule.get("after", len(content) // 2)), len(content))
            self.send_and_close(content[:after], complete=False)
        elif action == "drip":
            self.respond_drip(content, rule, rule_name, send_body)
        elif action == "overlong":
            announced = int(rule.get("length", len(content) // 2))
            self.start(200, announced, rule_name)
            self.send_and_close(content, complete=True)
        else:
            self.start(self.ok_status, len(content), rule_name, self.ok_headers, send_now=False)
            self.send_all(content if send_body else b"")

    def apply_range(self, content, mode, rule_name):
        """The part of `content` that a "Range: bytes=N-" request asks for, with 206 and its
        Content-Range in ok_status and ok_headers; the whole content for no range or another
        form. None when a 416 went out instead."""
        requested = self.headers.get("Range", "")
        if mode == "ignore" or not requested.startswith("bytes=") or not requested.endswith("-"):
            return content
        first = requested[len("bytes="):-1]
        if not first.isdigit():
            return content
        first = int(first)
        if first >= len(content):
            self.start(416, 0, rule_name, [("Content-Range", "bytes */%d" % len(content))])
            self.sent(0, True)
            return None
        if mode == "shifted" and first > 0:
            first -= 1
        self.ok_status = 206
        self.ok_headers = [("Content-Range", "bytes %d-%d/%d" % (first, len(content) - 1, len(content)))]
        return content[first:]

    def start(self, status, length, rule_name, extra_headers=(), send_now=True):
        """Logs the request, then sends the status line and headers; with send_now False they wait
        for the body and leave with its first bytes (see send_all)."""
        self.state.journal.write("request", conn=self.conn, port=self.port, kind=self.kind,
                                 method=self.command, path=self.path, status=status,
                                 length="-" if length is None else length, rule=rule_name,
                                 range=self.headers.get("Range"), form=self.form)
        self.send_response(status)
        if length is not None:
            self.send_header("Content-Length", str(length))
        for name, value in extra_headers:
            self.send_header(name, value)
        if send_now:
            self.end_headers()
        else:
            self._headers_buffer.append(b"\r\n")

    def sent(self, count, complete):
        self.state.journal.write("sent", conn=self.conn, port=self.port, path=self.path, bytes=count,
                                 complete=1 if complete else 0)

    def send_all(self, data):
        try:
            # Headers still held back go out together with the body: one write (one TLS record and
            # TCP segment for a small file) instead of two, for each response on a kept connection.
            head = b"".join(getattr(self, "_headers_buffer", []))
            self._headers_buffer = []
            if head and len(data) <= COMBINE_LIMIT:
                self.wfile.write(head + data)
            else:
                if head:
                    self.wfile.write(head)
                self.wfile.write(data)
            self.wfile.flush()
        except (ConnectionError, ssl.SSLError, OSError):
            self.sent(0, False)
            self.close_connection = True
            return
        self.sent(len(data), True)

    def send_and_close(self, data, complete):
        try:
            self.wfile.write(data)
            self.wfile.flush()
        except (ConnectionError, ssl.SSLError, OSError):
            data, complete = b"", False
        self.sent(len(data), complete)
        self.close_connection = True
        self.abort_connection()

    def abort_connection(self):
        try:
            self.connection.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass

    def respond_status(self, status, content, rule_name, send_body):
        if status in (204, 304):
            self.start(status, None, rule_name)
            self.sent(0, True)
            return
        body = content if content is not None else ("status %d\n" % status).encode("ascii")
        headers = []
        if status == 206:
            headers.append(("Content-Range", "bytes 0-%d/%d" % (max(len(body) - 1, 0), len(body) * 2)))
        self.start(status, len(body), rule_name, headers)
        self.send_all(body if send_body else b"")

    def respond_stall(self, content, rule, rule_name, send_body):
        after = min(int(rule.get("after", len(content) // 2)), len(content))
        self.start(self.ok_status, len(content), rule_name, self.ok_headers)
        if not send_body:
            return self.sent(0, True)
        written = 0
        try:
            self.wfile.write(content[:after])
            self.wfile.flush()
            written = after
            time.sleep(float(rule.get("seconds", 1.0)))
            self.wfile.write(content[after:])
            self.wfile.flush()
            written = len(content)
        except (ConnectionError, ssl.SSLError, OSError):
            self.close_connection = True
        self.sent(written, written == len(content))

    def respond_drip(self, content, rule, rule_name, send_body):
        chunk = max(int(rule.get("chunk", 1024)), 1)
        interval = float(rule.get("interval", 0.1))
        self.start(self.ok_status, len(content), rule_name, self.ok_headers)
        written = 0
        try:
            while send_body and written < len(content):
                if written:
                    time.sleep(interval)
                self.wfile.write(content[written:written + chunk])
                self.wfile.flush()
                written = min(written + chunk, len(content))
        except (ConnectionError, ssl.SSLError, OSError):
            self.close_connection = True
        self.sent(written, written == len(content) or not send_body)

    def respond_endless(self, rule, rule_name, send_body):
        framing = rule.get("framing", "chunked")
        limit = int(rule["limit"]) if "limit" in rule else None
        if framing == "length":
            announced = int(rule.get("length", limit if limit is not None else 1 << 40))
            limit = announced if limit is None else limit
            self.start(200, announced, rule_name)
        elif framing == "close":
            self.start(200, None, rule_name, [("Connection", "close")])
        else:
            self.start(200, None, rule_name, [("Transfer-Encoding", "chunked")])
        written = 0
        try:
            while send_body and (limit is None or written < limit):
                piece = FILLER if limit is None else FILLER[:min(len(FILLER), limit - written)]
                if framing == "chunked":
                    self.wfile.write(b"%x\r\n" % len(piece) + piece + b"\r\n")
                else:
                    self.wfile.write(piece)
                written += len(piece)
            if send_body and framing == "chunked":
                self.wfile.write(b"0\r\n\r\n")
            self.wfile.flush()
        except (ConnectionError, ssl.SSLError, OSError):
            self.close_connection = True
            self.sent(written, False)
            return
        self.sent(written, True)
        if framing in ("close", "length"):
            self.close_connection = True
            self.abort_connection()


class ProxyHandler(socketserver.StreamRequestHandler):
    """An HTTP CONNECT proxy: one tunnel per connection, bytes relayed both ways until either side
    closes."""

    def handle(self):
        state, port = self.server.state, self.server.server_address[1]
        conn = state.new_connection()
        state.journal.write("connect", conn=conn, port=port, kind="proxy", peer="%s:%s" % self.client_address[:2])
        try:
            self.request.settimeout(15)
            head = self.rfile.readline(8192).decode("latin-1").split()
            while self.rfile.readline(8192) not in (b"\r\n", b"\n", b""):
                pass
            target = head[1] if len(head) == 3 and head[0] == "CONNECT" else "-"
            host, _, target_port = target.rpartition(":")
            address = self.server.server_address[0] if host in self.server.proxy_hosts else host
            try:
                upstream = socket.create_connection((address, int(target_port)), timeout=15)
            except (OSError, ValueError):
                state.journal.write("tunnel", conn=conn, port=port, target=target, status=502, upstream=None)
                self.wfile.write(b"HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")
                return
            state.journal.write("tunnel", conn=conn, port=port, target=target, status=200,
                                upstream="%s:%s" % upstream.getsockname()[:2])
            self.wfile.write(b"HTTP/1.1 200 Connection established\r\n\r\n")
            with upstream:
                # A tunnel may sit idle between the requests that a kept connection carries.
                self.request.settimeout(None)
                upstream.settimeout(None)
                sockets = {self.request: upstream, upstream: self.request}
                while True:
                    readable, _, _ = select.select(list(sockets), [], [], 120)
                    for source in readable:
                        data = source.recv(65536)
                        if not data:
                            return
                        sockets[source].sendall(data)
                    if not readable:
                        return
                    state.touch()
        except (OSError, UnicodeError):
            pass
        finally:
            state.end_connection()


class Listener(socketserver.ThreadingMixIn, socketserver.TCPServer):
    daemon_threads = True
    block_on_close = False
    allow_reuse_address = True
    request_queue_size = 64


def make_listener(kind, port, host, tls_dir, state, proxy_hosts):
    family = socket.AF_INET6 if ":" in host else socket.AF_INET
    Listener.address_family = family
    listener = Listener((host, port), ProxyHandler if kind == "proxy" else Handler)
    listener.kind = kind
    listener.state = state
    listener.tls_context = None
    listener.proxy_hosts = set(proxy_hosts)
    if kind in ("https", "untrusted"):
        folder = os.path.join(tls_dir, "trusted" if kind == "https" else "untrusted")
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        # Stated here, not left to the defaults: a client that offers only older versions (the
        # defaults of an older system) must fail against these listeners.
        context.minimum_version = ssl.TLSVersion.TLSv1_2
        context.load_cert_chain(os.path.join(folder, "server.pem"), os.path.join(folder, "server.key"))
        listener.tls_context = context
    return listener


def parse_listen(text):
    kind, _, port = text.partition(":")
    if kind not in KINDS:
        raise argparse.ArgumentTypeError("listener kind must be one of %s" % ", ".join(KINDS))
    try:
        return kind, int(port or 0)
    except ValueError:
        raise argparse.ArgumentTypeError("bad port in %r" % text)


def write_atomically(path, text):
    temporary = path + ".tmp"
    with open(temporary, "w", encoding="utf-8") as f:
        f.write(text)
    os.replace(temporary, path)


def process_alive(pid):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except PermissionError:
        return True
    return True


def heartbeat_age(path):
    try:
        return time.time() - os.stat(path).st_mtime
    except OSError:
        return float("inf")


def main():
    # Started from Wine, the server inherits descriptors of the Wine process that it must not keep
    # open (only the standard three are its own).
    os.closerange(3, 1024)
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--root", required=True, help="folder tree to serve")
    parser.add_argument("--tls-dir", help="folder with trusted/ and untrusted/ (server.pem, server.key)")
    parser.add_argument("--listen", action="append", type=parse_listen, metavar="KIND[:PORT]",
                        help="a listener: https, http, untrusted or proxy, on PORT or a free port; repeatable "
                             "(default: https https http untrusted, all on free ports)")
    parser.add_argument("--host", default="127.0.0.1", help="address to listen on (default 127.0.0.1)")
    parser.add_argument("--control", help="folder with rules.json; the server stops when 'stop' appears there")
    parser.add_argument("--log", help="event log file (appended)")
    parser.add_argument("--rating", metavar="builtin|FILE",
                        help="answer /v1/top?diff=N from the built-in rating data or a JSON file (see "
                             "Rating service above)")
    parser.add_argument("--proxy-host", action="append", default=[], metavar="NAME",
                        help="a host name that the proxy listeners resolve to this server's address "
                             "(and nothing else does); repeatable")
    parser.add_argument("--ports-file", help="JSON file written once every listener is listening")
    parser.add_argument("--idle-exit", type=float, default=900.0,
                        help="exit after this many seconds without a connection (0: never; default 900)")
    parser.add_argument("--watch-pid", type=int, default=0, help="exit when this process has ended")
    parser.add_argument("--heartbeat", metavar="FILE",
                        help="exit when FILE has not been modified for --heartbeat-timeout seconds (the "
                             "starter touches it while it lives, so the server ends with it)")
    parser.add_argument("--heartbeat-timeout", type=float, default=10.0)
    args = parser.parse_args()

    listen = args.listen or [("https", 0), ("https", 0), ("http", 0), ("untrusted", 0)]
    if any(kind not in ("http", "proxy") for kind, _ in listen) and not args.tls_dir:
        parser.error("HTTPS listeners need --tls-dir")
    journal = Journal(args.log)
    try:
        state = ServerState(args, journal)
    except (OSError, ValueError) as error:
        if args.ports_file:
            write_atomically(args.ports_file, json.dumps({"error": "rating data: %s" % error}) + "\n")
        print("update_server: rating data: %s" % error, file=sys.stderr)
        sys.exit(2)
    try:
        listeners = [make_listener(kind, port, args.host, args.tls_dir, state, args.proxy_host)
                     for kind, port in listen]
    except (OSError, ssl.SSLError) as error:
        # A busy fixed port or a missing certificate: say so where the starter waits for the ports.
        if args.ports_file:
            write_atomically(args.ports_file, json.dumps({"error": str(error)}) + "\n")
        print("update_server: cannot listen: %s" % error, file=sys.stderr)
        sys.exit(2)

    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    signal.signal(signal.SIGINT, lambda *_: stop.set())
    for listener in listeners:
        journal.write("listen", kind=listener.kind, port=listener.server_address[1])
        threading.Thread(target=listener.serve_forever, kwargs={"poll_interval": 0.1}, daemon=True).start()

    if args.ports_file:
        ports = {kind: [l.server_address[1] for l in listeners if l.kind == kind] for kind in KINDS}
        ports["listeners"] = [{"kind": l.kind, "port": l.server_address[1]} for l in listeners]
        ports["pid"] = os.getpid()
        write_atomically(args.ports_file, json.dumps(ports) + "\n")

    reason = "signal"
    stop_file = os.path.join(args.control, "stop") if args.control else None
    while not stop.wait(0.1):
        if stop_file and os.path.exists(stop_file):
            reason = "stop-file"
            break
        if args.idle_exit > 0 and state.idle_for() > args.idle_exit:
            reason = "idle"
            break
        if args.watch_pid and not process_alive(args.watch_pid):
            reason = "watched-process-ended"
            break
        if args.heartbeat and heartbeat_age(args.heartbeat) > args.heartbeat_timeout:
            reason = "heartbeat-stopped"
            break
    for listener in listeners:
        listener.shutdown()
        listener.server_close()
    journal.write("exit", reason=reason)
    if args.control:
        write_atomically(os.path.join(args.control, "exited"), reason + "\n")
    sys.stdout.flush()
    # Handler threads may sit in a stall; they are daemons and end with the process.
    os._exit(0)


if __name__ == "__main__":
    main()
