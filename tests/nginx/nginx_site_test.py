#!/usr/bin/env python3
"""The repository's nginx site on loopback, serving what veltrane-publish wrote; the fleet report
on the log it writes.

    nginx_site_test.py PUBLISH_TOOL STATE_FOLDER PORT
"""
import http.client
import json
import os
import shutil
import ssl
import struct
import subprocess
import sys
import zlib

tool, state, port = sys.argv[1], os.path.abspath(sys.argv[2]), int(sys.argv[3])
control = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "nginx", "control.sh")
site = os.path.join(state, "site")
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)


def png(width, height, rgb):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    raw = b"".join(b"\0" + bytes(rgb) * width for _ in range(height))
    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b"")


def write(name, data):
    path = os.path.join(state, name)
    with open(path, "wb") as f:
        f.write(data)
    return path


def publish(*args):
    return subprocess.run([tool, *args], capture_output=True).returncode


def fleet(log):
    return subprocess.run([tool, "fleet", "--log", log], capture_output=True, text=True)


def get(path, method="GET", headers={}, source="127.0.0.1"):
    context = ssl.create_default_context(cafile=os.path.join(state, "nginx", "tls", "test-ca.pem"))
    connection = http.client.HTTPSConnection("localhost", port, context=context, timeout=10, source_address=(source, 0))
    connection.request(method, path, headers=headers)
    response = connection.getresponse()
    body = response.read()
    connection.close()
    return response.status, body, response.getheader("Cache-Control", "")


shutil.rmtree(state, ignore_errors=True)
os.makedirs(state)
first_png, first_txt = png(300, 200, (200, 40, 40)), "\n항목 A\n항목 B\n---\ncolumns=2\n".encode()
duty = "당직 김의사\n".encode()
check(publish("duty", "--site", site, "--duty", write("duty.txt", duty)) == 0, "duty published")
check(publish("content", "--site", site, "--image", write("a.png", first_png), "--text", write("a.txt", first_txt)) == 0,
      "first set published")
release = os.path.join(site, "api", "static", "veltrane")
os.makedirs(os.path.join(release, "releases", "20261019.230507.0"))
for name, data in (("update.json", b"{}"), ("update.json.sig", b"sig"), ("releases/20261019.230507.0/Veltrane_Desktop.exe", b"MZ")):
    with open(os.path.join(release, name), "wb") as f:
        f.write(data)

subprocess.run([control, "start", os.path.join(state, "nginx"), str(port), site], check=True)
try:
    status, body, cache = get("/api/veltrane/current")
    current = json.loads(body)
    check(status == 200 and cache == "no-store" and current["updatedAt"], "current document")
    status, body, cache = get("/api/veltrane/image?etag=" + current["imageEtag"])
    check((status, body) == (200, first_png) and "immutable" in cache, "image by tag")
    status, body, cache = get("/api/veltrane/text?etag=" + current["textEtag"] + "&badges=2")
    check((status, body) == (200, first_txt) and "immutable" in cache, "text by tag")
    check(get("/api/veltrane/duty-current?schedule=1")[:3] == (200, duty, "no-store"), "duty roster")
    check(get("/api/veltrane/duty-current")[0] == 404, "duty without schedule=1")
    check(get("/api/static/veltrane/update.json")[::2] == (200, "no-store"), "manifest")
    check(get("/api/static/veltrane/update.json.sig")[:2] == (200, b"sig"), "signature")
    check(get("/api/static/veltrane/releases/20261019.230507.0/Veltrane_Desktop.exe")[:2] == (200, b"MZ"), "release")

    tag = current["imageEtag"]
    # Files a bad tag would reach if it became a file name unchecked.
    for name in ("images/a.b.png", "images/" + "x" * 129 + ".png", "secret.png", "images/a/b.png",
                 "texts/a.b.txt", "texts/" + "x" * 129 + ".txt", "secret.txt"):
        os.makedirs(os.path.dirname(os.path.join(site, name)), exist_ok=True)
        write(os.path.join(site, name), b"reached")
    for bad in ("a.b", "../secret", "..%2Fsecret", "a/b", "x" * 129, "y" * 128, ""):
        check(get("/api/veltrane/image?etag=" + bad)[0] == 404, "image tag " + bad)
        check(get("/api/veltrane/text?etag=" + bad)[0] == 404, "text tag " + bad)
    for path in ("/current.json", "/duty.txt", "/images/" + tag + ".png", "/api/static/veltrane/releases/",
                 "/api/static/veltrane/../../current.json"):
        check(get(path)[0] == 404, "unmapped path " + path)
    check(get("/api/veltrane/current", "POST")[0] == 405, "POST refused")

    # A second set: current names it, and the first set's files are still served.
    second_png = png(300, 200, (40, 40, 200))
    check(publish("content", "--site", site, "--image", write("b.png", second_png), "--text", write("a.txt", first_txt)) == 0,
          "second set published")
    now = json.loads(get("/api/veltrane/current")[1])
    check(now["imageEtag"] != tag and get("/api/veltrane/image?etag=" + now["imageEtag"])[1] == second_png, "second set")
    check(get("/api/veltrane/image?etag=" + tag)[:2] == (200, first_png), "earlier set kept")

    # The fleet report reads the site's own log, also a sync in absolute form (as WinHTTP sends
    # it through a proxy tunnel), whatever format nginx.conf sets for the host's other sites.
    agent = {"User-Agent": "Veltrane_Desktop/20261208.71500.0"}
    check(get("https://localhost:%d/api/veltrane/current" % port, headers=agent)[0] == 200, "sync in absolute form")
    report = fleet(os.path.join(state, "nginx", "access.log"))
    check(report.returncode == 0 and "\naddress 127.0.0.1, no identity  last sync 20" in report.stdout and
          "build 20261208.71500.0" in report.stdout and "skipped" not in report.stdout,
          "fleet report: " + report.stdout)

    # A ring by address and by share, in the ring file that the site file includes: one
    # command, one reload. An address range wins over a share; a missing or malformed identity
    # is no share; the ring's folder has no path of its own.
    rings = os.path.join(state, "rings.conf")
    shutil.copy(os.path.join(os.path.dirname(control), "veltrane-rings.conf"), rings)
    subprocess.run([control, "stop", os.path.join(state, "nginx")], check=True)
    subprocess.run([control, "start", os.path.join(state, "nginx"), str(port), site, "", rings], check=True)
    check(publish("ring", "define", "pilot", "--site", site, "--rings", rings, "--addresses", "127.0.0.2/32",
                  "--share", "50") == 0, "ring defined")
    subprocess.run([control, "reload", os.path.join(state, "nginx"), str(port), site], check=True)
    write(os.path.join(release, "rings", "pilot", "update.json"), b"pilot")
    inside, outside = "7f" + "0" * 30, "80" + "f" * 30
    for source, install, expected in (("127.0.0.1", None, b"{}"), ("127.0.0.1", inside, b"pilot"),
                                      ("127.0.0.1", outside, b"{}"), ("127.0.0.1", inside.upper(), b"{}"),
                                      ("127.0.0.2", None, b"pilot"), ("127.0.0.2", outside, b"pilot")):
        headers = {"User-Agent": "Veltrane_Desktop/20261208.71500.0"}
        if install:
            headers["X-Veltrane-Install"] = install
        check(get("/api/static/veltrane/update.json", headers=headers, source=source)[1] == expected,
              "ring of %s %s" % (source, install))
    check(get("/api/static/veltrane/update.json.sig", headers={"X-Veltrane-Install": inside})[1] == b"sig",
          "a ring without its own signature yet")
    check(get("/api/static/veltrane/rings/pilot/update.json")[0] == 404, "ring folder unreachable")
    report = fleet(os.path.join(state, "nginx", "access.log"))
    # One row per identity, wherever it came from last; one per address for requests without.
    check(report.returncode == 0 and "installation %s at 127.0.0.1  " % inside in report.stdout and
          "installation %s at 127.0.0.2  " % outside in report.stdout and
          "\naddress 127.0.0.2, no identity  " in report.stdout and
          "\n  pilot  20261208.71500.0  3\n" in report.stdout, "fleet report by identity: " + report.stdout)
finally:
    subprocess.run([control, "stop", os.path.join(state, "nginx")])

# A log with no line in the site's format (here nginx.org's main format) is an error.
other = write("main.log", b'10.0.0.1 - - [08/Dec/2026:09:30:00 +0900] "GET /api/veltrane/current HTTP/1.1" 200 42 '
                          b'"-" "Veltrane_Desktop/20261208.71500.0" "-"\n')
report = fleet(other)
check(report.returncode == 1 and "skipped: 1\n  main.log:1: 10.0.0.1 - - [" in report.stdout, "no readable line")

for failure in failures:
    print("FAILED:", failure)
sys.exit(1 if failures else 0)
