#!/usr/bin/env python3
"""pagesnap-serve as its clients see it: a real server on 127.0.0.1, driven with curl and
Python's standard library. Pictures are compared byte for byte with pagesnap-batch's for the
same document and parameters.

Usage: serve_test.py BIN_DIR   (BIN_DIR holds pagesnap-serve and pagesnap-batch)
"""
import concurrent.futures
import io
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.error
import urllib.request
import zipfile

BIN = os.path.abspath(sys.argv.pop(1)) if len(sys.argv) > 1 else None
TOKEN = "s3cret-token-of-the-tests-0123456789"


def private_home():
    """Per-user folders of the tests' own, as the engine tests' EngineHome makes them: nothing
    touches a real user's engines, settings or files."""
    root = tempfile.mkdtemp(prefix="folium-servetest-")
    env = dict(os.environ)
    for var, sub in (("XDG_RUNTIME_DIR", "runtime"), ("TMPDIR", "tmp"), ("HOME", "home"),
                     ("XDG_CONFIG_HOME", "config"), ("XDG_DATA_HOME", "data")):
        os.mkdir(os.path.join(root, sub), 0o700)
        env[var] = os.path.join(root, sub)
    cache = os.path.join(os.path.dirname(BIN), "engine-cache")
    os.makedirs(cache, exist_ok=True)
    env["XDG_CACHE_HOME"] = cache
    env["FOLIUM_TEST_ENGINE_HOME"] = root
    return root, env


def docx(paragraphs_per_page):
    """A small .docx of its own: one page per entry, each with that entry's lines of text."""
    body = ""
    for i, lines in enumerate(paragraphs_per_page):
        for line in lines:
            body += '<w:p><w:r><w:t xml:space="preserve">%s</w:t></w:r></w:p>' % line
        if i + 1 < len(paragraphs_per_page):
            body += '<w:p><w:r><w:br w:type="page"/></w:r></w:p>'
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("[Content_Types].xml",
                   '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
                   '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
                   '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
                   '<Default Extension="xml" ContentType="application/xml"/>'
                   '<Override PartName="/word/document.xml" ContentType="application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml"/>'
                   '</Types>')
        z.writestr("_rels/.rels",
                   '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
                   '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
                   '<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="word/document.xml"/>'
                   '</Relationships>')
        z.writestr("word/document.xml",
                   '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
                   '<w:document xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main">'
                   '<w:body>%s<w:sectPr><w:pgSz w:w="11906" w:h="16838"/></w:sectPr></w:body></w:document>' % body)
    return out.getvalue()


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Server:
    def __init__(self, env, *args, token=None):
        self.env = env
        self.port = free_port()
        cmd = [os.path.join(BIN, "pagesnap-serve"), "--listen", "127.0.0.1:%d" % self.port] + list(args)
        if token:
            path = os.path.join(env["HOME"], "token-%d" % self.port)
            with open(path, "w") as f:
                f.write(token + "\n")
            cmd += ["--token-file", path]
        self.token = token
        self.log = open(os.path.join(env["TMPDIR"], "serve-%d.log" % self.port), "w+")
        self.proc = subprocess.Popen(cmd, env=env, stdout=self.log, stderr=subprocess.STDOUT)
        deadline = time.time() + 120
        while time.time() < deadline:
            if self.proc.poll() is not None:
                raise RuntimeError("pagesnap-serve ended: " + self.output())
            try:
                if self.get("/readyz")[0] == 200:
                    return
            except OSError:
                pass
            time.sleep(0.3)
        raise RuntimeError("pagesnap-serve not ready in 120 s: " + self.output())

    def output(self):
        self.log.flush()
        self.log.seek(0)
        return self.log.read()

    def url(self, path):
        return "http://127.0.0.1:%d%s" % (self.port, path)

    def request(self, method, path, body=None, headers=None, token=True):
        headers = dict(headers or {})
        if token and self.token:
            headers["Authorization"] = "Bearer " + self.token
        req = urllib.request.Request(self.url(path), data=body, headers=headers, method=method)
        try:
            with urllib.request.urlopen(req, timeout=300) as r:
                return r.status, dict(r.headers), r.read()
        except urllib.error.HTTPError as e:
            return e.code, dict(e.headers), e.read()

    def get(self, path, token=True):
        return self.request("GET", path, token=token)

    def convert(self, data, name="doc.docx", query=""):
        return self.request("POST", "/v1/convert" + query, data,
                            {"Content-Type": "application/octet-stream",
                             "Content-Disposition": 'attachment; filename="%s"' % name})

    def request_folders(self):
        """What requests left in the service's private folder."""
        tmp = self.env["TMPDIR"]
        left = []
        for d in os.listdir(tmp):
            if d.startswith(".pagesnap-serve-") or d.startswith("pagesnap-serve-"):
                left += [n for n in os.listdir(os.path.join(tmp, d)) if n.startswith("r-")]
        return left

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            self.proc.wait(timeout=180)
        self.log.close()
        return self.proc.returncode


def batch_pictures(env, data, name, args):
    """pagesnap-batch's pictures of the document, by file name."""
    work = tempfile.mkdtemp(dir=env["TMPDIR"])
    try:
        path = os.path.join(work, name)
        with open(path, "wb") as f:
            f.write(data)
        out = os.path.join(work, "out")
        r = subprocess.run([os.path.join(BIN, "pagesnap-batch"), "-o", out] + args + [path], env=env,
                           capture_output=True, text=True, timeout=600)
        assert r.returncode == 0, r.stderr
        return {n: read(os.path.join(out, n)) for n in os.listdir(out) if not n.startswith(".")}
    finally:
        shutil.rmtree(work, ignore_errors=True)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def unzip(data):
    z = zipfile.ZipFile(io.BytesIO(data))
    assert z.testzip() is None
    return {n: z.read(n) for n in z.namelist()}


DOCS = [docx([["Document %d page %d" % (k, p)] for p in range(1, k + 2)]) for k in range(4)]


class ServeTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.root, cls.env = private_home()
        cls.server = Server(cls.env, "-j", "2", "--read-timeout", "6", "--max-size", "1", token=TOKEN)
        cls.small = Server(cls.env, "-j", "1", "--queue", "1")

    @classmethod
    def tearDownClass(cls):
        for s in (cls.server, cls.small):
            s.stop()
        shutil.rmtree(cls.root, ignore_errors=True)

    def test_pictures_are_those_of_pagesnap_batch(self):
        doc = docx([["First page"], ["Second page, longer text " * 20], ["Third"]])
        for query, args in (("", []), ("?format=jpg&resolution=150&quality=70&pages=2-3",
                                       ["-f", "jpg", "-r", "150", "-q", "70", "-p", "2-3"]),
                            ("?format=bmp&resolution=72", ["-f", "bmp", "-r", "72"])):
            with self.subTest(query=query):
                want = batch_pictures(self.env, doc, "Quarterly report.docx", args)
                status, headers, body = self.server.convert(doc, "Quarterly report.docx", query)
                self.assertEqual(status, 200, body[:300])
                self.assertEqual(headers["Content-Type"], "application/zip")
                got = unzip(body)
                report = json.loads(got.pop("report.json"))
                self.assertEqual(sorted(got), sorted(want))
                for n in want:
                    self.assertEqual(got[n], want[n], n)
                self.assertEqual(report["status"], "converted")
                self.assertEqual(report["pages"], 3)
                self.assertEqual([w["file"] for w in report["written"]], sorted(want))
        # One page asked for: the picture itself, multipart this time, through curl.
        want = batch_pictures(self.env, doc, "Quarterly report.docx", ["-p", "2"])
        out = os.path.join(self.env["TMPDIR"], "one.png")
        r = subprocess.run(["curl", "-s", "-o", out, "-w", "%{http_code} %{content_type}",
                            "-H", "Authorization: Bearer " + TOKEN,
                            "-F", "file=@-;filename=Quarterly report.docx", "-F", "pages=2",
                            self.server.url("/v1/convert")], input=doc, capture_output=True, timeout=300)
        self.assertEqual(r.stdout.decode(), "200 image/png")
        self.assertEqual(read(out), want["Quarterly report_2.png"])
        self.assertEqual(self.server.request_folders(), [])

    def test_sixteen_clients_ten_documents_each(self):
        want = {k: batch_pictures(self.env, DOCS[k], "d%d.docx" % k, []) for k in range(len(DOCS))}

        def client(c):
            bad = []
            for i in range(10):
                k = (c + i) % len(DOCS)
                name = "c%d-%d.docx" % (c, i)
                status, _, body = self.server.convert(DOCS[k], name)
                if status != 200:
                    bad.append((name, status, body[:200]))
                    continue
                got = unzip(body)
                report = json.loads(got.pop("report.json"))
                expect = {n.replace("d%d_" % k, "c%d-%d_" % (c, i)): v for n, v in want[k].items()}
                if got != expect or report["path"] != name:
                    bad.append((name, "wrong pictures", sorted(got)))
            return bad

        with concurrent.futures.ThreadPoolExecutor(16) as pool:
            bad = sum(pool.map(client, range(16)), [])
        self.assertEqual(bad, [])
        metrics = self.server.get("/metrics")[2].decode()
        self.assertIn('pagesnap_documents_total{result="converted"}', metrics)
        self.assertEqual(self.server.request_folders(), [])

    def test_overload_is_refused_never_answered_wrong(self):
        want = batch_pictures(self.env, DOCS[3], "d.docx", [])
        with concurrent.futures.ThreadPoolExecutor(8) as pool:
            answers = list(pool.map(lambda i: self.small.convert(DOCS[3], "d.docx"), range(8)))
        statuses = sorted(a[0] for a in answers)
        self.assertIn(429, statuses)
        self.assertIn(200, statuses)
        self.assertEqual(set(statuses), {200, 429})
        for status, headers, body in answers:
            if status == 429:
                self.assertEqual(headers.get("Retry-After"), "5")
                self.assertEqual(json.loads(body)["error"], "busy")
            else:
                got = unzip(body)
                got.pop("report.json")
                self.assertEqual(got, want)

    def test_slow_client_is_cut_off_without_holding_up_others(self):
        slow = socket.create_connection(("127.0.0.1", self.server.port))
        slow.sendall(b"POST /v1/convert HTTP/1.1\r\nHost: x\r\nAuthorization: Bearer " + TOKEN.encode() +
                     b"\r\nContent-Length: 1000\r\n\r\n")
        started = time.time()
        status, _, _ = self.server.convert(DOCS[0], "quick.docx")
        quick = time.time() - started
        self.assertEqual(status, 200)
        answer = b""
        slow.settimeout(1)
        while time.time() - started < 30 and not answer:
            try:
                slow.sendall(b"x")
                answer = slow.recv(4096)
                if not answer:
                    break  # closed
            except socket.timeout:
                pass
            except OSError:
                break
        cut = time.time() - started
        slow.close()
        self.assertLess(quick, 6, "the quick request waited for the slow one")
        self.assertLess(cut, 15, "the slow client was not cut off by the read timeout")
        if answer:
            self.assertIn(b" 408 ", answer.split(b"\r\n")[0])
        self.assertEqual(self.server.request_folders(), [])

    def test_too_large_is_refused_before_it_is_read(self):
        s = socket.create_connection(("127.0.0.1", self.server.port))
        s.sendall(b"POST /v1/convert HTTP/1.1\r\nHost: x\r\nAuthorization: Bearer " + TOKEN.encode() +
                  b"\r\nContent-Length: 2000000\r\n\r\n")
        s.settimeout(10)
        answer = b""
        while True:  # the headers and the body may come in separate segments; it closes after
            part = s.recv(4096)
            if not part:
                break
            answer += part
        s.close()
        self.assertIn(b" 413 ", answer.split(b"\r\n")[0])
        self.assertIn(b'"too large"', answer)
        # Sent in chunks, without a length: counted as it comes.
        big = docx([["x" * 100]]) + os.urandom(1100000)
        def chunks():
            for i in range(0, len(big), 65536):
                yield big[i:i + 65536]
        req = urllib.request.Request(self.server.url("/v1/convert"), data=chunks(), method="POST",
                                     headers={"Authorization": "Bearer " + TOKEN, "Transfer-Encoding": "chunked"})
        try:
            urllib.request.urlopen(req, timeout=60)
            self.fail("a chunked body over the limit was taken")
        except urllib.error.HTTPError as e:
            self.assertEqual(e.code, 413)
        except (ConnectionError, urllib.error.URLError):
            pass  # refused while it was still being sent
        self.assertEqual(self.server.request_folders(), [])

    def test_bad_requests_get_their_status(self):
        boundary = "xyzzy"
        broken = ("--%s\r\nContent-Disposition: form-data; name=\"file\"; filename=\"a.docx\"\r\n\r\n" % boundary
                  ).encode() + DOCS[0][:100]
        rows = [
            # what, body, headers, query, status, kind
            ("broken multipart", broken, {"Content-Type": "multipart/form-data; boundary=" + boundary}, "", 400,
             "bad request"),
            ("control characters in the name", DOCS[0], {"Content-Disposition": 'attachment; filename="a\x01b.docx"'},
             "", 400, "bad request"),
            ("a name that is no name", DOCS[0], {}, "?filename=..", 400, "bad request"),
            ("unknown parameter", DOCS[0], {}, "?colour=red", 400, "bad request"),
            ("resolution out of range", DOCS[0], {}, "?resolution=9000", 400, "bad request"),
            ("bad page list", DOCS[0], {}, "?pages=3-1", 400, "bad request"),
            ("page past the end", DOCS[0], {}, "?pages=7", 400, "bad request"),
            ("no Word document", b"just some text, not a document\n" * 10, {}, "", 415, "not a Word document"),
            ("damaged", b"PK\x03\x04" + os.urandom(3000), {}, "", 422, "damaged"),
            ("empty", b"", {}, "", 400, "bad request"),
        ]
        for what, body, headers, query, status, kind in rows:
            with self.subTest(what):
                got, _, answer = self.server.request("POST", "/v1/convert" + query, body, headers)
                self.assertEqual(got, status, answer[:300])
                self.assertEqual(json.loads(answer)["error"], kind)
                self.assertEqual(self.server.request_folders(), [])
        # A path in the name names the pictures by its last part only.
        status, _, body = self.server.convert(DOCS[0], "../../etc/passwd.docx")
        self.assertEqual(status, 200)
        self.assertEqual(sorted(unzip(body)), ["passwd_1.png", "report.json"])

    def test_token(self):
        for headers, status in (({}, 401), ({"Authorization": "Bearer wrong"}, 401),
                                ({"Authorization": "Bearer " + TOKEN}, 200)):
            with self.subTest(headers=headers):
                self.assertEqual(self.server.request("GET", "/metrics", headers=headers, token=False)[0], status)
        self.assertEqual(self.server.get("/healthz", token=False)[0], 200)
        self.assertEqual(self.server.get("/readyz", token=False)[0], 200)

    def test_zz_stop_finishes_requests_in_flight(self):
        # Runs last (by name): it ends the small server.
        with concurrent.futures.ThreadPoolExecutor(1) as pool:
            future = pool.submit(self.small.convert, DOCS[2], "late.docx")
            time.sleep(0.5)
            engines = subprocess.run(["pgrep", "-P", str(self.small.proc.pid)], capture_output=True, text=True).stdout.split()
            self.small.proc.send_signal(signal.SIGTERM)
            status, _, _ = future.result(timeout=300)
        self.assertEqual(status, 200)
        self.assertEqual(self.small.proc.wait(timeout=180), 0)
        for pid in engines:
            self.assertFalse(os.path.exists("/proc/%s" % pid) and
                             open("/proc/%s/stat" % pid).read().split(")")[-1].split()[0] != "Z", pid)


if __name__ == "__main__":
    unittest.main(verbosity=2)
