#!/usr/bin/python3
"""HTTPS in front of a test camera's plain HTTP port, both on 127.0.0.1.

At start it makes a certificate for 127.0.0.1 (openssl, valid a day, its
own issuer) and writes it, DER encoded, to the --record file's name with
".cer" added, for a test to trust or not. Each connection that completes the
handshake and sends a request is passed to and from --camera-port; its
request line goes to the --record file first ("request GET ... HTTP/1.1").

When it serves, it prints one line:
  ready https://127.0.0.1:PORT/
and, with --port-file, writes the same line there. It ends on SIGTERM or
SIGINT, and with --seconds after that long.
"""
import argparse
import os
import signal
import socket
import ssl
import subprocess
import sys
import tempfile
import threading


def make_certificate(folder, der_path):
    key, pem = os.path.join(folder, "key.pem"), os.path.join(folder, "cert.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", pem,
                    "-days", "1", "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1",
                    "-addext", "extendedKeyUsage=serverAuth"],
                   check=True, capture_output=True)
    subprocess.run(["openssl", "x509", "-in", pem, "-outform", "der", "-out", der_path], check=True)
    return pem, key


def pipe(source, target):
    try:
        while True:
            data = source.recv(65536)
            if not data:
                break
            target.sendall(data)
    except OSError:
        pass
    for s in (source, target):
        try:
            s.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass


def serve(context, client, camera_port, record, lock):
    try:
        conn = context.wrap_socket(client, server_side=True)
        first = conn.recv(65536)
    except (ssl.SSLError, OSError):
        client.close()
        return
    if not first:
        conn.close()
        return
    with lock:
        record.write("request {}\n".format(first.split(b"\r\n", 1)[0].decode("latin-1")))
    camera = socket.create_connection(("127.0.0.1", camera_port))
    camera.sendall(first)
    threading.Thread(target=pipe, args=(camera, conn), daemon=True).start()
    pipe(conn, camera)
    conn.close()
    camera.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--camera-port", type=int, required=True, help="the camera's plain HTTP port on 127.0.0.1")
    parser.add_argument("--record", required=True, help="file for request lines; the certificate goes beside it")
    parser.add_argument("--port-file", help="file to write the ready line to")
    parser.add_argument("--seconds", type=int, default=0, help="end after this many seconds (default: never)")
    args = parser.parse_args()

    signal.signal(signal.SIGTERM, lambda *_: os._exit(0))
    with tempfile.TemporaryDirectory() as folder:
        pem, key = make_certificate(folder, args.record + ".cer")
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(pem, key)
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)
    record = open(args.record, "a", buffering=1)
    lock = threading.Lock()
    line = "ready https://127.0.0.1:{}/".format(listener.getsockname()[1])
    if args.port_file:
        with open(args.port_file + ".partial", "w") as f:
            f.write(line + "\n")
        os.replace(args.port_file + ".partial", args.port_file)
    print(line, flush=True)
    if args.seconds > 0:
        threading.Timer(args.seconds, lambda: os._exit(0)).start()
    while True:
        client, _ = listener.accept()
        threading.Thread(target=serve, args=(context, client, args.camera_port, record, lock), daemon=True).start()


if __name__ == "__main__":
    try:
        main()
    except KeyboardInterrupt:
        sys.exit(0)
