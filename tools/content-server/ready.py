#!/usr/bin/env python3
"""Waits until a test server process serves: each port on 127.0.0.1 completes a TLS handshake
with a certificate for localhost signed by the given CA, while the process still runs.

    ready.py PID SECONDS PORT=CA_FILE [PORT=CA_FILE ...]

Exits 0 once every port answers; otherwise at once when the process ends, or after SECONDS,
with the reason on stderr. One process polls, because starting Python costs seconds on a
loaded machine.
"""
import socket
import ssl
import sys
import time


def running(pid):
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except OSError:
        return False


def handshake(port, ca):
    context = ssl.create_default_context(cafile=ca)
    with socket.create_connection(("127.0.0.1", port), 2) as s:
        with context.wrap_socket(s, server_hostname="localhost"):
            pass


def main():
    pid, seconds = int(sys.argv[1]), float(sys.argv[2])
    waiting = [(int(port), ca) for port, ca in (a.split("=", 1) for a in sys.argv[3:])]
    deadline = time.monotonic() + seconds
    last = "no attempt"
    while waiting:
        if not running(pid):
            sys.exit(f"process {pid} ended before it served port {waiting[0][0]}")
        try:
            handshake(*waiting[0])
            waiting.pop(0)
            continue
        except (OSError, ssl.SSLError) as e:
            last = str(e)
        if time.monotonic() > deadline:
            sys.exit(f"port {waiting[0][0]} gave no TLS answer within {seconds:.0f} s: {last}")
        time.sleep(0.1)
    # A process that lost a port to another one ends right after binding fails.
    if not running(pid):
        sys.exit(f"process {pid} ended")


main()
