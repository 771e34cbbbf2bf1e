#!/usr/bin/env python3
"""A slow link on loopback for the network benchmark (bench/network_bench.sh): a TCP relay that
forwards every connection to one target and delivers the bytes of each direction as a link with
a fixed round trip and a bandwidth limit would (this kernel has no netem). It also cuts
connections on demand, by the test update server's own account of what each connection carries.

    latency_relay.py --target PORT --rtt-ms 40 --mbit 50 --ports-file FILE --log FILE
                     [--server-log FILE --cut-prefix PREFIX --cut-at 0.5]

The link: each direction is one queue of the bytes of all connections, sent at --mbit and
delivered half a round trip after they are sent, in order; a new connection carries its first
byte a round trip after it was accepted (the TCP handshake). A connection holds at most a
bandwidth-delay product (at least 64 KiB) that has not yet arrived, as a TCP window would: the
sender waits for the rest, and a cut loses only that much.

Cuts: with --server-log (the update server's event log) the relay learns, from the server's
"connect" event whose peer is the relay's own outgoing socket and the "request" events on that
connection, which request each response answers and its announced length. The first response
for each request target that begins with --cut-prefix is cut once --cut-at of its length has
reached the client: both sockets close and whatever was still on the link is lost, as when Wi-Fi
drops. Requests for a part of an object (a Range request) are never cut.

The log (--log): "cut conn target delivered length" for each cut and, when the relay ends,
"total up BYTES down BYTES" (bytes delivered towards the target and towards the client). The
relay ends on SIGTERM or when --watch-pid has ended.
"""

import argparse
import collections
import json
import os
import signal
import socket
import threading
import time


class Link:
    """One direction of the link: a transmitter shared by all connections."""

    def __init__(self, rtt_ms, mbit):
        self.delay = rtt_ms / 2000.0
        self.seconds_per_byte = 8.0 / (mbit * 1e6)
        self.lock = threading.Lock()
        self.free_at = 0.0
        self.delivered = 0

    def schedule(self, size):
        """When `size` bytes that enter now reach the far end."""
        with self.lock:
            start = max(time.monotonic(), self.free_at)
            self.free_at = start + size * self.seconds_per_byte
            return self.free_at + self.delay

    def count(self, size):
        with self.lock:
            self.delivered += size


class Responses:
    """What the update server says it sends on each of its connections, read from its event log."""

    def __init__(self, path):
        self.path = path
        self.lock = threading.Lock()
        self.offset = 0
        self.peer_conn = {}  # "127.0.0.1:port" of the relay's socket -> server connection number
        self.requests = {}   # server connection number -> [(target, length, ranged)] in order

    def refresh(self):
        try:
            with open(self.path, "rb") as log:
                log.seek(self.offset)
                text = log.read()
        except OSError:
            return
        complete = text[:text.rfind(b"\n") + 1]
        self.offset += len(complete)
        for line in complete.decode("utf-8", "replace").splitlines():
            words = line.split()
            fields = dict(word.split("=", 1) for word in words[1:] if "=" in word)
            if words[:1] == ["connect"]:
                self.peer_conn[fields.get("peer")] = fields.get("conn")
            elif words[:1] == ["request"]:
                length = fields.get("length", "-")
                self.requests.setdefault(fields.get("conn"), []).append(
                    (fields.get("path", ""), int(length) if length.isdigit() else 0, fields.get("range", "-") != "-"))

    def get(self, peer, index):
        """The index-th request on the server's connection from `peer`; None while the log lacks it."""
        with self.lock:
            for attempt in range(2):
                listed = self.requests.get(self.peer_conn.get(peer), [])
                if index < len(listed):
                    return listed[index]
                if attempt == 0:
                    self.refresh()
        return None


class Connection:
    """One relayed connection: a pump and a sender for each direction."""

    def __init__(self, relay, number, client, server):
        self.relay = relay
        self.number = number
        self.client = client
        self.server = server
        self.peer = "%s:%s" % server.getsockname()[:2]
        self.lock = threading.Lock()
        self.closed = False
        # The response now on its way to the client: (target, length, ranged) or None, its bytes
        # so far, and how many of the server's requests on this connection have been met.
        self.response = None
        self.response_bytes = 0
        self.answered = 0
        self.client_spoke = False

    def close(self):
        with self.lock:
            if self.closed:
                return
            self.closed = True
        for s in (self.client, self.server):
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            s.close()

    def deliver_down(self, data):
        """Towards the client; false once the connection has been cut."""
        relay = self.relay
        if relay.responses and (self.client_spoke or self.response is None):
            # The server logs a request before the first byte of its response: a burst that finds
            # no new request is part of a handshake or a session ticket.
            following = relay.responses.get(self.peer, self.answered)
            if following:
                self.response, self.response_bytes = following, 0
                self.answered += 1
                self.client_spoke = False
        if self.response and relay.should_cut(self.response, self.response_bytes + len(data)):
            target, length, _ = self.response
            keep = max(0, int(length * relay.args.cut_at) - self.response_bytes)
            self.client.sendall(data[:keep])
            relay.down.count(keep)
            relay.note("cut conn=%d target=%s delivered=%d length=%d" %
                       (self.number, target, self.response_bytes + keep, length))
            self.close()
            return False
        self.client.sendall(data)
        self.response_bytes += len(data)
        relay.down.count(len(data))
        return True

    def deliver_up(self, data):
        self.client_spoke = True
        self.server.sendall(data)
        self.relay.up.count(len(data))
        return True

    def pump(self, source, link, deliver):
        """Reads `source` while less than a window is on its way and hands each block to a sender
        that delivers it when the link would; the end of the stream closes the connection once its
        turn comes."""
        queue, ready = collections.deque(), threading.Condition()
        window = max(65536, int(link.delay * 2 / link.seconds_per_byte))
        in_flight = [0]

        def send():
            while True:
                with ready:
                    while not queue:
                        ready.wait()
                    due, data = queue.popleft()
                pause = due - time.monotonic()
                if pause > 0:
                    time.sleep(pause)
                if data is None or self.closed:
                    return self.close()
                try:
                    if not deliver(data):
                        return
                except OSError:
                    return self.close()
                with ready:
                    in_flight[0] -= len(data)
                    ready.notify_all()

        threading.Thread(target=send, daemon=True).start()
        while True:
            with ready:
                while in_flight[0] >= window and not self.closed:
                    ready.wait(0.5)
            try:
                data = b"" if self.closed else source.recv(16384)
            except OSError:
                data = b""
            with ready:
                in_flight[0] += len(data)
                queue.append((link.schedule(len(data)), data or None))
                ready.notify_all()
            if not data:
                return

    def run(self):
        threading.Thread(target=self.pump, args=(self.server, self.relay.down, self.deliver_down),
                         daemon=True).start()
        self.pump(self.client, self.relay.up, self.deliver_up)


class Relay:
    def __init__(self, args, log):
        self.args = args
        self.log = log
        self.log_lock = threading.Lock()
        self.up = Link(args.rtt_ms, args.mbit)
        self.down = Link(args.rtt_ms, args.mbit)
        self.responses = Responses(args.server_log) if args.server_log and args.cut_prefix else None
        self.cut_targets = set()
        self.lock = threading.Lock()

    def note(self, line):
        with self.log_lock:
            self.log.write(line + "\n")
            self.log.flush()

    def serve(self, listener):
        number = 0
        while True:
            client, _ = listener.accept()
            number += 1
            threading.Thread(target=self.connect, args=(number, client), daemon=True).start()

    def connect(self, number, client):
        # The TCP handshake takes a round trip before the first byte can go.
        time.sleep(self.args.rtt_ms / 1000.0)
        try:
            server = socket.create_connection(("127.0.0.1", self.args.target))
        except OSError:
            client.close()
            return
        for s in (client, server):
            s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        Connection(self, number, client, server).run()

    def should_cut(self, response, delivered_after):
        """Whether this delivery takes the response past its cut point, the first time for its target."""
        target, length, ranged = response
        if ranged or length <= 0 or not target.startswith(self.args.cut_prefix):
            return False
        if delivered_after < length * self.args.cut_at:
            return False
        with self.lock:
            if target in self.cut_targets:
                return False
            self.cut_targets.add(target)
            return True


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--target", type=int, required=True, help="port on 127.0.0.1 to forward to")
    parser.add_argument("--rtt-ms", type=float, required=True)
    parser.add_argument("--mbit", type=float, required=True)
    parser.add_argument("--ports-file", required=True, help="JSON file with the relay's port, written once it listens")
    parser.add_argument("--log", required=True)
    parser.add_argument("--server-log", help="the update server's event log, for cuts")
    parser.add_argument("--cut-prefix", help="cut the first response for each target with this prefix")
    parser.add_argument("--cut-at", type=float, default=0.5, help="share of the response's length (default 0.5)")
    parser.add_argument("--watch-pid", type=int, default=0)
    args = parser.parse_args()

    log = open(args.log, "a", encoding="utf-8")
    relay = Relay(args, log)
    listener = socket.create_server(("127.0.0.1", 0))
    threading.Thread(target=relay.serve, args=(listener,), daemon=True).start()
    with open(args.ports_file + ".tmp", "w", encoding="utf-8") as f:
        json.dump({"port": listener.getsockname()[1], "pid": os.getpid()}, f)
    os.replace(args.ports_file + ".tmp", args.ports_file)

    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    signal.signal(signal.SIGINT, lambda *_: stop.set())
    while not stop.wait(0.2):
        if args.watch_pid:
            try:
                os.kill(args.watch_pid, 0)
            except ProcessLookupError:
                break
    relay.note("total up %d down %d" % (relay.up.delivered, relay.down.delivered))
    log.close()
    os._exit(0)


if __name__ == "__main__":
    main()
