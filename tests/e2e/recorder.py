#!/usr/bin/env python3
"""A stand-in for the report server, reached as the HTTP proxy: answers every request
with 200 and appends one line per request to the log: the request line and the headers,
joined with "|". Listens on 127.0.0.1 only; writes the port it got to --port-file."""
import argparse
import http.server
import threading


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--log', required=True)
    parser.add_argument('--port-file', required=True)
    args = parser.parse_args()
    lock = threading.Lock()

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            line = '|'.join([self.requestline] + [f'{k}: {v}' for k, v in self.headers.items()])
            with lock, open(args.log, 'a', encoding='utf-8') as log:
                log.write(line + '\n')
            body = b'OK'
            self.send_response(200)
            self.send_header('Content-Length', str(len(body)))
            self.send_header('Connection', 'close')
            self.end_headers()
            self.wfile.write(body)

        def log_message(self, *unused):
            pass

    server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), Handler)
    with open(args.port_file, 'w') as f:
        f.write(str(server.server_address[1]))
    server.serve_forever()


if __name__ == '__main__':
    main()
