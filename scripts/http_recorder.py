#!/usr/bin/env python3
"""A stand-in for every web server the tool talks to: an HTTP proxy on 127.0.0.1 that
answers each request with 200 and records it. Nothing goes further.

    http_recorder.py --port-file FILE --log FILE [--headers]

Listens on a free port, writes the port to --port-file once it listens, and appends one
line per request to --log: "GET http://host/path", with --headers followed by each
header as "|Name: value". Runs until it is ended.
"""
import argparse
import http.server
import os
import sys
import threading


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--log", required=True)
    parser.add_argument("--headers", action="store_true")
    args = parser.parse_args()
    lock = threading.Lock()

    class Recorder(http.server.BaseHTTPRequestHandler):
        def record(self):
            line = f"{self.command} {self.path}"
            if args.headers:
                line += "".join(f"|{name}: {value}" for name, value in self.headers.items())
            with lock, open(args.log, "a", encoding="utf-8") as log:
                log.write(line + "\n")
            body = b"ok"
            self.send_response(200)
            self.send_header("Content-Type", "text/plain")
            self.send_header("Content-Length", str(len(body)))
            self.send_header("Connection", "close")
            self.end_headers()
            if self.command != "HEAD":
                self.wfile.write(body)

        do_GET = do_POST = do_HEAD = record

        def log_message(self, *_):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Recorder)
    server.daemon_threads = True
    # Written whole and then renamed: whoever waits for the file never reads half a port.
    with open(args.port_file + ".tmp", "w") as f:
        f.write(str(server.server_address[1]))
    os.replace(args.port_file + ".tmp", args.port_file)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
