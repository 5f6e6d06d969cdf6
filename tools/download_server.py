#!/usr/bin/python3
"""Local HTTPS download server for installer tests and the demo (127.0.0.1 only).

Usage:
  download_server.py --cert-dir DIR [--port N] [--untrusted-port N]
                     [--setup-file PATH|-] [--log PATH] [--port-file PATH]
                     [--rate BYTES_PER_SECOND] [--watch-pid PID]
                     [--channel-status N] [--channel-cut M] [--channel-once]
                     [--channel-ranges] [--channel-cut-each M] [--channel-nolength]
                     [--channel-busy N] [--channel-late-busy S]
                     [--listen-after S] [--max-tls 1.1] [--proxy-port N]

  --cert-dir DIR       certificates made by tools/make-test-ca.sh
  --port N             main listener (server.pem); 0 picks a free port (default)
  --untrusted-port N   second listener with untrusted-server.pem; 0 = free port;
                       left out = no second listener
  --setup-file PATH    served on the channel paths; "-" or left out serves a
                       small placeholder text
  --log PATH           appends "<request line>\\t<User-Agent or ->" per request,
                       then "\\tRange: V" and "\\tIf-Range: V" when sent
  --port-file PATH     once listening, holds "<port> <untrusted port or 0>
                       <proxy port or 0>"
  --rate BPS           throttles the channel paths to BPS bytes per second
  --channel-status N   the channel paths answer status N (no body file) instead
  --channel-cut M      the channel paths announce the whole setup file but drop
                       the connection once its first M bytes are out
  --channel-once       --channel-cut applies to the first channel request only
  --channel-ranges     the channel paths honour ranges (see Ranges below)
  --channel-cut-each M every channel answer drops the connection once M bytes
                       of its own body are out (a range answer's M more)
  --channel-busy N     the first N channel requests get 503 with Retry-After: 1
  --channel-late-busy S every channel request after the first waits S seconds,
                       then gets 503 (a server that chokes after a cut)
  --listen-after S     the main listener takes connections only S seconds
                       after the start (until then they are refused); needs
                       a fixed --port, which the port file names at once
  --channel-nolength   the channel paths send no Content-Length: the body ends
                       when the connection closes
  --max-tls 1.1        every listener speaks TLS 1.0-1.1 only, nothing newer
  --proxy-port N       also a CONNECT proxy with a PAC script (connect_proxy.py);
                       0 = free port; its requests go to the same log
  --watch-pid PID      exits when process PID is gone (wrappers killed with
                       SIGKILL would otherwise leave the server behind)

Routes (GET; HEAD answers the same without a body). Every response closes the
connection. Paths are matched without their query string.
  /tolvin/win7 /tolvin/release /tolvin/ebwebview
                       200, the setup file (application/octet-stream)
  /bytes/N             200, N bytes where byte i = (i * 7 + 3) & 0xFF.
                       Query, combinable: nolength=1 (no Content-Length, the
                       body ends when the connection closes), cut=M (announces
                       N, sends M, then drops the connection without a TLS
                       close_notify; a range answer stops there too),
                       rate=BPS (throttle), ranges=1 (see Ranges below),
                       once=1 (cut only the first request of this path and
                       query), changed=1 (every request after the first of
                       this path and query gets another file: bytes shifted by
                       37, another ETag and Last-Modified), ifrange=0 (ranges
                       answered even when If-Range names another version),
                       hangup=K (request K of this path and query, counted
                       from 0, gets no answer: the connection just ends),
                       validators=date|none (with ranges: only a Last-Modified,
                       or neither it nor an ETag), excess=K (a range answer
                       has no Content-Length and sends K bytes past its
                       Content-Range, then holds the connection until the
                       client hangs up, at most 40 s)
  /status/CODE         CODE with a short text body (none for 1xx, 204, 304);
                       never a Location header
  /redirect?status=CODE&to=URLENCODED
                       CODE (default 302), Location = the percent-decoded bytes
                       of "to" ("+" stays "+"); no "to" = no Location header
  /hop/K/REST          K > 0: 302 to https://127.0.0.1:<this port>/hop/K-1/REST
                       (query kept); K = 0: answers /REST
  /long-location       302 to https://127.0.0.1:<port>/aaa... of 3000 characters
                       (?length=L for another total length)
  /stall?seconds=S     reads the request, sends nothing for S seconds
                       (default 40, or until the client hangs up), then closes
  /empty               200 with Content-Length 0
  anything else        404

Ranges (where enabled): every answer carries an ETag and a Last-Modified
(unless validators= says otherwise); a "Range: bytes=N-" with N inside the
body gets 206 with "Content-Range: bytes N-LAST/TOTAL" and the rest of the
body, unless If-Range names neither the ETag nor the Last-Modified, which gets
the whole body with 200. Without ranges, Range is ignored: 200 and the whole
body.
"""

import argparse
import email.utils
import http
import http.server
import os
import re
import select
import signal
import socket
import ssl
import sys
import threading
import time
import urllib.parse
import warnings

from connect_proxy import ConnectProxy

BLOCK = 64 * 1024
# The pattern repeats every 256 bytes, so one block (plus a period, to start at
# any offset) covers bodies of any length without holding them in memory.
PATTERN = bytes((i * 7 + 3) & 0xFF for i in range(BLOCK + 256))
CHANNEL_PATHS = ("/tolvin/win7", "/tolvin/release", "/tolvin/ebwebview")
PLACEHOLDER_SETUP = b"Tolvin test setup placeholder\r\n"
HANDSHAKE_TIMEOUT = 30
# Generous, so a test that pauses reading is not cut off by the server.
IO_TIMEOUT = 120
# How long a finished connection waits for the client to hang up.
CLOSE_TIMEOUT = 2
# Errors of clients that hang up or fail the handshake; they are expected in
# tests and must not print tracebacks.
CLIENT_ERRORS = (OSError,)
# The modification time of every body served with ranges, and of a changed one.
LAST_MODIFIED = "Tue, 01 Dec 2026 10:00:00 GMT"
CHANGED_LAST_MODIFIED = "Wed, 02 Dec 2026 10:00:00 GMT"
# How far a changed file's bytes are shifted against the first version's.
CHANGED_SHIFT = 37


class RequestLog:
    """Appends one line per request; shared by all handler threads."""

    def __init__(self, path):
        self.lock = threading.Lock()
        # latin-1 gives back the bytes the client sent, whatever they were.
        self.file = open(path, "a", encoding="latin-1", errors="replace") if path else None

    def write(self, request_line, user_agent, extra=()):
        if self.file is None:
            return
        line = "%s\t%s%s\n" % (request_line, user_agent if user_agent is not None else "-",
                               "".join("\t%s: %s" % field for field in extra))
        with self.lock:
            self.file.write(line)
            self.file.flush()


class BadRequest(Exception):
    pass


def ParseQuery(query):
    """Name -> still percent-encoded value; the last one wins."""
    fields = {}
    for part in query.split("&"):
        if part:
            name, _, value = part.partition("=")
            fields[urllib.parse.unquote(name)] = value
    return fields


def QueryInt(fields, name, default, minimum=0):
    if name not in fields:
        return default
    try:
        value = int(urllib.parse.unquote(fields[name]))
    except ValueError:
        raise BadRequest("%s must be a whole number" % name)
    if value < minimum:
        raise BadRequest("%s must be at least %d" % (name, minimum))
    return value


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "TolvinTestServer/1.0"
    sys_version = ""
    timeout = IO_TIMEOUT
    disable_nagle_algorithm = True

    def setup(self):
        super().setup()
        self.head_only = False
        self.ignore_if_range = False
        # Set when the connection must end without a TLS close_notify.
        self.abrupt = False

    def handle(self):
        # One request per connection keeps framing trivial for the tests.
        self.close_connection = True
        try:
            self.handle_one_request()
        except CLIENT_ERRORS:
            self.abrupt = True

    def log_message(self, format, *args):
        pass

    def parse_request(self):
        ok = super().parse_request()
        headers = getattr(self, "headers", None) if ok else None
        extra = [(name, headers[name]) for name in ("Range", "If-Range")
                 if headers is not None and name in headers]
        self.server.request_log.write(
            self.requestline, headers.get("User-Agent") if headers is not None else None, extra)
        return ok

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        try:
            self.Route(url.path, url.query)
        except BadRequest as e:
            self.SendSimple(400, ("%s\n" % e).encode())

    def do_HEAD(self):
        self.head_only = True
        self.do_GET()

    # --- responses ---------------------------------------------------------

    def SendHead(self, code, headers):
        """Status line and headers as raw bytes, so any Location can be sent."""
        try:
            reason = http.HTTPStatus(code).phrase
        except ValueError:
            reason = "Unknown"
        lines = [b"HTTP/1.1 %d %s\r\n" % (code, reason.encode("latin-1")),
                 b"Server: " + self.server_version.encode() + b"\r\n",
                 b"Date: " + email.utils.formatdate(usegmt=True).encode() + b"\r\n"]
        for name, value in headers:
            if isinstance(value, str):
                value = value.encode("latin-1")
            lines.append(name.encode("latin-1") + b": " + value + b"\r\n")
        lines.append(b"Connection: close\r\n\r\n")
        self.wfile.write(b"".join(lines))

    def SendSimple(self, code, body, extra_headers=()):
        headers = list(extra_headers)
        no_body = code < 200 or code in (204, 304)
        if not no_body:
            headers += [("Content-Type", "text/plain; charset=utf-8"),
                        ("Content-Length", str(len(body)))]
        self.SendHead(code, headers)
        if not no_body and not self.head_only:
            self.wfile.write(body)

    def RangeStart(self, total, validators):
        """Where a range answer starts, or None for the whole body."""
        m = re.fullmatch(r"bytes=(\d+)-", self.headers.get("Range", ""))
        if not m or int(m.group(1)) >= total:
            return None
        if_range = self.headers.get("If-Range")
        if if_range is not None and if_range not in validators and not self.ignore_if_range:
            return None
        return int(m.group(1))

    def SendStream(self, total, read_at, rate, length=True, cut=None, ranges=False, tag=None,
                   last_modified=LAST_MODIFIED, excess=0, cut_each=None):
        """Sends the `total` bytes that read_at(offset, n) gives, paced to
        `rate` bytes/s; with `ranges` as described in the module's text, and
        the validators `tag` and `last_modified` that are not None. The
        connection drops once the body's first `cut` bytes are out. A range
        answer runs `excess` bytes past the end, without a Content-Length,
        then stalls. With `cut_each` the connection drops once this answer's
        first `cut_each` bytes are out."""
        headers = [("Content-Type", "application/octet-stream")]
        start = None
        if ranges:
            validators = [field for field in (("ETag", tag), ("Last-Modified", last_modified))
                          if field[1] is not None]
            headers += validators
            start = self.RangeStart(total, [value for _, value in validators])
        if start is None:
            excess = 0
        else:
            headers.append(("Content-Range", "bytes %d-%d/%d" % (start, total - 1, total)))
        if length and not excess:
            headers.append(("Content-Length", str(total - (start or 0))))
        self.SendHead(200 if start is None else 206, headers)
        if self.head_only:
            return
        offset = start or 0
        end = total + excess if cut is None else max(offset, min(cut, total))
        if cut_each is not None and offset + cut_each < total:
            end = offset + cut_each
            cut = end
        # About 20 writes a second keeps throttled progress smooth.
        step = min(BLOCK, max(1, rate // 20)) if rate else BLOCK
        began = time.monotonic()
        sent = 0
        while offset < end:
            data = read_at(offset, min(step, end - offset))
            if not data:
                break
            if rate:
                # Waiting before each write makes N bytes take N / rate seconds.
                delay = began + (sent + len(data)) / rate - time.monotonic()
                if delay > 0:
                    time.sleep(delay)
            self.wfile.write(data)
            sent += len(data)
            offset += len(data)
        if cut is not None or offset < end:
            self.abrupt = True
        elif excess:
            self.Stall(40)

    # --- routes ------------------------------------------------------------

    def Route(self, path, query):
        fields = ParseQuery(query)
        port = self.server.server_address[1]
        if path in CHANNEL_PATHS:
            self.SendSetup()
            return
        m = re.fullmatch(r"/bytes/(\d+)", path)
        if m:
            self.SendBytes(int(m.group(1)), fields)
            return
        m = re.fullmatch(r"/status/(\d{3})", path)
        if m:
            code = int(m.group(1))
            if code < 100:
                raise BadRequest("status codes start at 100")
            self.SendSimple(code, b"status %d\n" % code)
            return
        if path == "/redirect":
            code = QueryInt(fields, "status", 302, 100)
            if code > 999:
                raise BadRequest("status must have three digits")
            headers = []
            if "to" in fields:
                headers.append(("Location", urllib.parse.unquote_to_bytes(fields["to"])))
            self.SendSimple(code, b"redirect\n", headers)
            return
        m = re.fullmatch(r"/hop/(\d+)(/.*)?", path)
        if m:
            hops = int(m.group(1))
            rest = m.group(2) or "/"
            if hops == 0:
                self.Route(rest, query)
                return
            location = "https://127.0.0.1:%d/hop/%d%s" % (port, hops - 1, m.group(2) or "")
            if query:
                location += "?" + query
            self.SendSimple(302, b"hop\n", [("Location", location)])
            return
        if path == "/long-location":
            base = "https://127.0.0.1:%d/" % port
            total = QueryInt(fields, "length", 3000, len(base))
            self.SendSimple(302, b"long location\n",
                            [("Location", base + "a" * (total - len(base)))])
            return
        if path == "/stall":
            seconds = 40.0
            if "seconds" in fields:
                try:
                    seconds = float(urllib.parse.unquote(fields["seconds"]))
                except ValueError:
                    raise BadRequest("seconds must be a number")
            self.Stall(seconds)
            return
        if path == "/empty":
            self.SendStream(0, None, 0)
            return
        self.SendSimple(404, b"not found\n")

    def SendSetup(self):
        setup = self.server.setup_file
        rate = self.server.rate
        if self.server.channel_status:
            self.SendSimple(self.server.channel_status, b"channel unavailable\n")
            return
        earlier = self.server.Count("channel")
        if earlier < self.server.channel_busy:
            self.SendSimple(503, b"busy\n", [("Retry-After", "1")])
            return
        if earlier > 0 and self.server.channel_late_busy:
            time.sleep(self.server.channel_late_busy)
            self.SendSimple(503, b"busy\n")
            return
        cut = self.server.channel_cut if earlier == 0 or not self.server.channel_once else None
        cut_each = self.server.channel_cut_each
        ranges = self.server.channel_ranges
        if setup is None:
            self.SendStream(len(PLACEHOLDER_SETUP), lambda at, n: PLACEHOLDER_SETUP[at:at + n], rate,
                            cut=cut, ranges=ranges, tag='"placeholder"', cut_each=cut_each)
            return
        # Opened per request, so a test may replace the file between downloads.
        try:
            f = open(setup, "rb")
        except OSError as e:
            sys.stderr.write("download_server: %s\n" % e)
            self.SendSimple(500, b"setup file unreadable\n")
            return
        with f:
            stat = os.fstat(f.fileno())

            def read_at(at, n):
                f.seek(at)
                return f.read(n)

            self.SendStream(stat.st_size, read_at, rate, length=self.server.channel_length, cut=cut,
                            ranges=ranges, tag='"%x-%x"' % (stat.st_size, stat.st_mtime_ns), cut_each=cut_each)

    def SendBytes(self, total, fields):
        nolength = fields.get("nolength", "0") not in ("", "0")
        cut = QueryInt(fields, "cut", None)
        rate = QueryInt(fields, "rate", 0)
        ranges = QueryInt(fields, "ranges", 0) != 0
        self.ignore_if_range = QueryInt(fields, "ifrange", 1) == 0
        # Through a proxy, Wine's WinHTTP names the whole URL: the same path all the same.
        url = urllib.parse.urlsplit(self.path)
        earlier = self.server.Count(url.path + ("?" + url.query if url.query else ""))
        if QueryInt(fields, "hangup", -1, -1) == earlier:
            self.abrupt = True
            return
        if QueryInt(fields, "once", 0) and earlier > 0:
            cut = None
        version = 2 if QueryInt(fields, "changed", 0) and earlier > 0 else 1
        shift = CHANGED_SHIFT if version == 2 else 0
        validators = urllib.parse.unquote(fields.get("validators", "both"))
        if validators not in ("both", "date", "none"):
            raise BadRequest("validators must be both, date or none")
        tag = '"%d-v%d"' % (total, version) if validators == "both" else None
        last_modified = None
        if validators != "none":
            last_modified = CHANGED_LAST_MODIFIED if version == 2 else LAST_MODIFIED
        view = memoryview(PATTERN)

        def read_at(at, n):
            start = (at + shift) % 256
            return view[start:start + n]

        self.SendStream(total, read_at, rate, length=not nolength, cut=cut, ranges=ranges, tag=tag,
                        last_modified=last_modified, excess=QueryInt(fields, "excess", 0))

    def Stall(self, seconds):
        # No response at all, and no close_notify either: the client only sees
        # the connection end.
        self.abrupt = True
        sock = self.connection
        sock.settimeout(0)
        deadline = time.monotonic() + seconds
        while True:
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                return
            readable, _, _ = select.select([sock], [], [], min(remaining, 1.0))
            if not readable:
                continue
            # Ends early once the client has gone, so stalls do not pile up.
            try:
                if not sock.recv(4096):
                    return
            except (ssl.SSLWantReadError, ssl.SSLWantWriteError):
                continue
            except CLIENT_ERRORS:
                return


class TlsServer(http.server.ThreadingHTTPServer):
    daemon_threads = True
    request_queue_size = 64

    def __init__(self, port, context, request_log, setup_file, rate, bind_and_activate=True):
        self.context = context
        self.request_log = request_log
        self.setup_file = setup_file
        self.rate = rate
        self.channel_status = 0
        self.channel_cut = None
        self.channel_once = False
        self.channel_ranges = False
        self.channel_cut_each = None
        self.channel_busy = 0
        self.channel_late_busy = 0
        self.channel_length = True
        self.counts = {}
        self.counts_lock = threading.Lock()
        super().__init__(("127.0.0.1", port), Handler, bind_and_activate)

    def finish_request(self, request, client_address):
        # The handshake happens here, in the connection's own thread, so one
        # slow or failing client cannot hold up the others.
        try:
            request.settimeout(HANDSHAKE_TIMEOUT)
            tls = self.context.wrap_socket(request, server_side=True)
        except CLIENT_ERRORS:
            request.close()
            return
        handler = None
        try:
            handler = Handler(tls, client_address, self)
        except CLIENT_ERRORS:
            pass
        finally:
            if handler is not None and not handler.abrupt:
                CloseGracefully(tls)
            tls.close()

    def Count(self, key):
        """How many requests came for `key` before this one."""
        with self.counts_lock:
            earlier = self.counts.get(key, 0)
            self.counts[key] = earlier + 1
        return earlier

    def handle_error(self, request, client_address):
        if not isinstance(sys.exc_info()[1], CLIENT_ERRORS):
            super().handle_error(request, client_address)


def CloseGracefully(tls):
    """close_notify and FIN at once, then waits for the client to hang up.

    Waiting for the client's close_notify before the FIN (as unwrap() does)
    holds up clients that read to the end of the connection: Wine's schannel
    does not take close_notify as the end, and then only sees it when the
    wait times out. Closing with unread client data would send a reset
    instead, so what the client still sends is drained first."""
    try:
        tls.settimeout(0)
        try:
            tls.unwrap()
        except ssl.SSLWantReadError:
            pass  # close_notify went out; the client's has not come yet
        tls.shutdown(socket.SHUT_WR)
        tls.settimeout(CLOSE_TIMEOUT)
        while tls.recv(4096):
            pass
    except CLIENT_ERRORS:
        pass


def MakeContext(cert, key, max_tls=None):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    if max_tls == "1.1":
        # OpenSSL 3 refuses TLS 1.0 and 1.1 below security level 0.
        context.set_ciphers("DEFAULT:@SECLEVEL=0")
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", DeprecationWarning)  # which is the point
            context.minimum_version = ssl.TLSVersion.TLSv1
            context.maximum_version = ssl.TLSVersion.TLSv1_1
    else:
        context.minimum_version = ssl.TLSVersion.TLSv1_2
    context.load_cert_chain(cert, key)
    return context


def WatchPid(pid):
    while True:
        try:
            os.kill(pid, 0)
        except ProcessLookupError:
            os._exit(0)
        except PermissionError:
            pass
        time.sleep(0.5)


def Main():
    parser = argparse.ArgumentParser(description="Local HTTPS download server for tests.")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--untrusted-port", type=int)
    parser.add_argument("--cert-dir", required=True)
    parser.add_argument("--setup-file")
    parser.add_argument("--log")
    parser.add_argument("--port-file")
    parser.add_argument("--rate", type=int, default=0)
    parser.add_argument("--watch-pid", type=int)
    parser.add_argument("--channel-status", type=int, default=0)
    parser.add_argument("--channel-cut", type=int)
    parser.add_argument("--channel-once", action="store_true")
    parser.add_argument("--channel-ranges", action="store_true")
    parser.add_argument("--channel-cut-each", type=int)
    parser.add_argument("--channel-busy", type=int, default=0)
    parser.add_argument("--channel-late-busy", type=float, default=0)
    parser.add_argument("--listen-after", type=float, default=0)
    parser.add_argument("--channel-nolength", action="store_true")
    parser.add_argument("--max-tls", choices=["1.1"])
    parser.add_argument("--proxy-port", type=int)
    args = parser.parse_args()

    setup_file = None if args.setup_file in (None, "-") else args.setup_file
    if setup_file is not None and not os.path.isfile(setup_file):
        parser.error("setup file not found: %s" % setup_file)
    if args.rate < 0:
        parser.error("--rate must not be negative")
    if args.listen_after and not args.port:
        parser.error("--listen-after needs a fixed --port")
    request_log = RequestLog(args.log)

    def Listen(port, name, bind=True):
        context = MakeContext(os.path.join(args.cert_dir, name + ".pem"),
                              os.path.join(args.cert_dir, name + ".key"), args.max_tls)
        server = TlsServer(port, context, request_log, setup_file, args.rate, bind)
        server.channel_status = args.channel_status
        server.channel_cut = args.channel_cut
        server.channel_once = args.channel_once
        server.channel_ranges = args.channel_ranges
        server.channel_cut_each = args.channel_cut_each
        server.channel_busy = args.channel_busy
        server.channel_late_busy = args.channel_late_busy
        server.channel_length = not args.channel_nolength
        return server

    try:
        # Unbound until it listens: a connection meanwhile is refused.
        main = Listen(args.port, "server", bind=not args.listen_after)
        untrusted = None
        if args.untrusted_port is not None:
            untrusted = Listen(args.untrusted_port, "untrusted-server")
        proxy = None
        if args.proxy_port is not None:
            proxy = ConnectProxy(args.proxy_port, request_log)
    except (OSError, ssl.SSLError) as e:
        sys.exit("download_server: %s" % e)

    def Stop(signum, frame):
        sys.exit(0)

    signal.signal(signal.SIGTERM, Stop)
    if signal.getsignal(signal.SIGINT) is not signal.SIG_IGN:
        signal.signal(signal.SIGINT, Stop)
    if args.watch_pid:
        threading.Thread(target=WatchPid, args=(args.watch_pid,), daemon=True).start()
    if untrusted is not None:
        threading.Thread(target=untrusted.serve_forever, daemon=True).start()
    if proxy is not None:
        threading.Thread(target=proxy.serve_forever, daemon=True).start()

    if args.port_file:
        tmp = args.port_file + ".tmp"
        with open(tmp, "w") as f:
            f.write("%d %d %d\n" % (args.port or main.server_address[1],
                                    untrusted.server_address[1] if untrusted else 0,
                                    proxy.port if proxy else 0))
        os.replace(tmp, args.port_file)

    if args.listen_after:
        time.sleep(args.listen_after)
        try:
            main.server_bind()
            main.server_activate()
        except OSError as e:
            sys.exit("download_server: %s" % e)
    main.serve_forever()


if __name__ == "__main__":
    Main()
