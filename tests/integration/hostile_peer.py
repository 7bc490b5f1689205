#!/usr/bin/env python3
"""A peer that answers NuvaNet's transaction POST the way a hostile or broken
server might, chosen by the request's type code (columns 23-26 of the 64-byte
transport header at the start of the body):

  BIGL  200 and a reply file far larger than asked for, with Content-Length
  BIGC  the same without a length (chunked)
  EVIL  200 and a reply header whose sender hides "/.." behind a lone lead byte
  REDI  302 to a path of this peer that answers a valid empty reply

Usage: hostile_peer.py PORT_FILE   (writes the port, serves until killed)
"""
import http.server
import socketserver
import sys

BIG = 300000  # bytes of reply file


def header(sender: bytes, flags: bytes, reserve: bytes = b"") -> bytes:
    return (sender.ljust(22) + b"ABC ".ljust(4) + flags + reserve.ljust(27) + b"20260101")


class Peer(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def reply(self, status, body, extra=(), chunked=False):
        self.send_response(status)
        self.send_header("Content-Type", "application/octet-stream")
        for name, value in extra:
            self.send_header(name, value)
        if chunked:
            self.send_header("Transfer-Encoding", "chunked")
            self.end_headers()
            for i in range(0, len(body), 16384):
                piece = body[i:i + 16384]
                self.wfile.write(b"%x\r\n" % len(piece) + piece + b"\r\n")
            self.wfile.write(b"0\r\n\r\n")
        else:
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

    def body(self) -> bytes:
        return self.rfile.read(int(self.headers.get("Content-Length", "0")))

    def do_GET(self):
        self.reply(200, header(b"ABC", b"000"))

    def do_POST(self):
        data = self.body()
        if self.path.endswith("/elsewhere"):
            return self.reply(200, header(b"ABC", b"000"))
        code = data[22:26]
        big = header(b"ABC", b"100", b"big.bin") + b"x" * BIG
        if code == b"BIGL":
            self.reply(200, big)
        elif code == b"BIGC":
            self.reply(200, big, chunked=True)
        elif code == b"EVIL":
            self.reply(200, header(b"A\x81/..", b"000"))
        elif code == b"REDI":
            port = self.server.server_address[1]
            self.reply(302, b"", [("Location", "http://127.0.0.1:%d/elsewhere" % port)])
        else:
            self.reply(404, b"unknown")


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True


def main():
    server = Server(("127.0.0.1", 0), Peer)
    with open(sys.argv[1] + ".tmp", "w") as f:
        f.write(str(server.server_address[1]))
    import os
    os.replace(sys.argv[1] + ".tmp", sys.argv[1])
    server.serve_forever()


if __name__ == "__main__":
    main()
