"""A CONNECT proxy on 127.0.0.1 for the download tests, which also serves a
proxy auto-config (PAC) script. Started by download_server.py (--proxy-port).

  CONNECT localhost:N or 127.0.0.1:N
                 200, then bytes relayed both ways to 127.0.0.1:N; any other
                 host is refused with 403 (nothing leaves the machine)
  GET /proxy.pac[?direct=HOST]
                 a script that sends every URL through this proxy, except
                 HOST (when given), which goes DIRECT. A script handed more
                 than https://HOST[:PORT]/ (a path, a query) answers DIRECT
                 as well, so a client that leaks its URLs to scripts shows
  GET /proxy.pac?stall=S
                 no answer: the connection stays silent for S seconds (or
                 until the client hangs up), then closes
  anything else  405 or 404

Each request line goes to the server's request log, like the server's own."""

import select
import socket
import threading
import time
import urllib.parse

HEAD_LIMIT = 16 * 1024
IO_TIMEOUT = 120
LOOPBACK_NAMES = ("localhost", "127.0.0.1")


class ConnectProxy:
    def __init__(self, port, request_log):
        self.request_log = request_log
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", port))
        self.listener.listen(64)
        self.port = self.listener.getsockname()[1]

    def serve_forever(self):
        while True:
            client, _ = self.listener.accept()
            threading.Thread(target=self.Handle, args=(client,), daemon=True).start()

    def Handle(self, client):
        try:
            client.settimeout(IO_TIMEOUT)
            head = b""
            while b"\r\n\r\n" not in head:
                data = client.recv(4096)
                if not data or len(head) > HEAD_LIMIT:
                    return
                head += data
            lines = head.split(b"\r\n\r\n", 1)[0].decode("latin-1").split("\r\n")
            agent = None
            for line in lines[1:]:
                name, _, value = line.partition(":")
                if name.strip().lower() == "user-agent":
                    agent = value.strip()
            self.request_log.write(lines[0], agent)
            parts = lines[0].split()
            if len(parts) != 3:
                self.Answer(client, 400, b"")
            elif parts[0] == "CONNECT":
                self.Tunnel(client, parts[1])
            elif parts[0] == "GET":
                self.Script(client, parts[1])
            else:
                self.Answer(client, 405, b"")
        except OSError:
            pass
        finally:
            client.close()

    def Answer(self, client, code, body, content_type="text/plain"):
        reason = {200: "OK", 400: "Bad Request", 403: "Forbidden", 404: "Not Found",
                  405: "Method Not Allowed", 502: "Bad Gateway"}[code]
        client.sendall(b"HTTP/1.1 %d %s\r\nContent-Type: %s\r\nContent-Length: %d\r\nConnection: close\r\n\r\n"
                       % (code, reason.encode(), content_type.encode(), len(body)) + body)

    def Script(self, client, target):
        url = urllib.parse.urlsplit(target)
        if url.path != "/proxy.pac":
            self.Answer(client, 404, b"")
            return
        query = urllib.parse.parse_qs(url.query)
        if "stall" in query:
            Silence(client, float(query["stall"][0]))
            return
        direct = query.get("direct", [""])[0]
        script = 'function FindProxyForURL(url, host) {\n'
        script += '    if (url.indexOf("/", 8) != url.length - 1) return "DIRECT";\n'
        if direct:
            script += '    if (host == "%s") return "DIRECT";\n' % direct.replace('"', "")
        script += '    return "PROXY 127.0.0.1:%d";\n}\n' % self.port
        self.Answer(client, 200, script.encode(), "application/x-ns-proxy-autoconfig")

    def Tunnel(self, client, target):
        host, _, port = target.rpartition(":")
        if host not in LOOPBACK_NAMES or not port.isdigit():
            self.Answer(client, 403, b"")
            return
        try:
            server = socket.create_connection(("127.0.0.1", int(port)), timeout=IO_TIMEOUT)
        except OSError:
            self.Answer(client, 502, b"")
            return
        with server:
            client.sendall(b"HTTP/1.1 200 Connection established\r\n\r\n")
            Relay(client, server)


def Silence(client, seconds):
    deadline = time.monotonic() + seconds
    while True:
        left = deadline - time.monotonic()
        if left <= 0:
            return
        client.settimeout(left)
        try:
            if not client.recv(4096):
                return
        except socket.timeout:
            return


def Relay(a, b):
    """Copies both ways; an end that closes is passed on as a half-close, and
    the tunnel ends once both have closed or either resets."""
    peer = {a: b, b: a}
    open_ends = [a, b]
    while open_ends:
        readable, _, _ = select.select(open_ends, [], [], IO_TIMEOUT)
        if not readable:
            return
        for end in readable:
            data = end.recv(65536)
            if data:
                peer[end].sendall(data)
            else:
                open_ends.remove(end)
                try:
                    peer[end].shutdown(socket.SHUT_WR)
                except OSError:
                    pass
