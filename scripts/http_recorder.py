#!/usr/bin/env python3
"""A stand-in for every web server the tool talks to: an HTTP proxy on 127.0.0.1 that
answers each request with 200 and records its request line. Nothing goes further.

    http_recorder.py --port-file FILE --log FILE

Listens on a free port, writes the port to --port-file once it listens, and appends one
line per request ("GET http://host/path") to --log. Runs until it is ended.
"""
import argparse
import http.server
import socketserver
import sys


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--log", required=True)
    args = parser.parse_args()

    class Recorder(http.server.BaseHTTPRequestHandler):
        def record(self):
            with open(args.log, "a", encoding="utf-8") as log:
                log.write(f"{self.command} {self.path}\n")
            body = b"ok"
            self.send_response(200)
            self.send_header("Content-Type", "text/plain")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            if self.command != "HEAD":
                self.wfile.write(body)

        do_GET = do_POST = do_HEAD = record

        def log_message(self, *_):
            pass

    class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
        daemon_threads = True

    server = Server(("127.0.0.1", 0), Recorder)
    with open(args.port_file, "w") as f:
        f.write(str(server.server_address[1]))
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
