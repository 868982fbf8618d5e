#!/usr/bin/env python3
"""An update server on 127.0.0.1 for scripts/test-windows.sh: serves a catalogue
folder that palo520g.exe fw publish wrote, after adding versions that go wrong:

  1.0.4  the archive of 1.0.3, cut short: the header promises the whole file,
         the connection closes after half of it
  1.0.5  the archive of 1.0.3 with a header that promises more than the catalogue
  1.0.6  an archive with an entry named ../evil.bin
  1.0.7  an archive whose image fails its CRC-32
  1.0.8  an archive the server does not have (404)
  1.0.9  the archive of 1.0.3, stalled: half of it, then 3 s of silence, then
         the connection closes

and two redirections: /moved/PATH answers "302, see /PATH", /loop/PATH answers
"302, see /loop/PATH" for ever.

Prints "http://127.0.0.1:PORT/" as its first line, then serves until killed.
Usage: http_peer.py SITE_FOLDER VERSION_WITH_AN_ARCHIVE
"""
import hashlib
import http.server
import json
import os
import sys
import time
import zipfile

site, good = sys.argv[1], sys.argv[2]
archive = os.path.join(site, good, "firmware.zip")
catalogue_path = os.path.join(site, "catalogue.json")


def entry(version, path, data):
    return {"version": version, "archive": path, "size": len(data), "sha256": hashlib.sha256(data).hexdigest()}


def write_zip(path, name, data, damage=False):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with zipfile.ZipFile(path, "w", zipfile.ZIP_STORED) as z:
        z.writestr(name, data)
    raw = bytearray(open(path, "rb").read())
    if damage:
        raw[30 + len(name) + 10] ^= 1  # a byte of the stored image
    open(path, "wb").write(raw)
    return bytes(raw)


good_bytes = open(archive, "rb").read()
catalogue = json.load(open(catalogue_path))
# Run again on the same folder, it replaces what it added before.
catalogue["versions"] = [v for v in catalogue["versions"] if v["version"] < "1.0.4" or v["version"] > "1.0.9"]
catalogue["versions"] += [
    entry("1.0.4", "cut/" + good + "/firmware.zip", good_bytes),
    entry("1.0.5", "long/" + good + "/firmware.zip", good_bytes),
    entry("1.0.6", "bad/1.0.6/firmware.zip",
          write_zip(os.path.join(site, "bad/1.0.6/firmware.zip"), "../evil.bin", b"evil" * 100)),
    entry("1.0.7", "bad/1.0.7/firmware.zip",
          write_zip(os.path.join(site, "bad/1.0.7/firmware.zip"), "APP0.bin", b"image" * 100, damage=True)),
    entry("1.0.8", "missing/firmware.zip", b"never served"),
    entry("1.0.9", "stall/" + good + "/firmware.zip", good_bytes),
]
json.dump(catalogue, open(catalogue_path, "w"), indent=2)


class Handler(http.server.SimpleHTTPRequestHandler):
    def __init__(self, *args, **kwargs):
        super().__init__(*args, directory=site, **kwargs)

    def log_message(self, *args):
        pass

    def do_GET(self):
        for prefix, target in (("/moved/", "/"), ("/loop/", "/loop/")):
            if self.path.startswith(prefix):
                self.send_response(302)
                self.send_header("Location", target + self.path[len(prefix):])
                self.send_header("Content-Length", "0")
                self.end_headers()
                return
        for fault in ("cut", "long", "stall"):
            prefix = "/" + fault + "/"
            if self.path.startswith(prefix):
                data = open(os.path.join(site, self.path[len(prefix):]), "rb").read()
                self.send_response(200)
                self.send_header("Content-Type", "application/zip")
                self.send_header("Content-Length", str(len(data) + (1000 if fault == "long" else 0)))
                self.end_headers()
                self.wfile.write(data + bytes(1000) if fault == "long" else data[: len(data) // 2])
                self.wfile.flush()
                if fault == "stall":
                    time.sleep(3)
                self.close_connection = True
                return
        super().do_GET()


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
server.daemon_threads = True
print("http://127.0.0.1:%d/" % server.server_address[1], flush=True)
server.serve_forever()
