"""What the parts of bench/run share: the large files, made once per run in the folder
$LAUNCHER_BENCH_DATA that bench/run makes and removes, the build's settings, the suite's
web server, and the median of alternating runs."""
import hashlib
import os
import statistics
import subprocess
import sys
import time
import zipfile

MIB = 1024 * 1024
CHUNK = 16 * MIB

ROOT = os.environ.get("LAUNCHER_ROOT") or os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.environ.get("LAUNCHER_BENCH_BUILD", "")


def data_dir():
    folder = os.environ.get("LAUNCHER_BENCH_DATA")
    if not folder:
        sys.exit("LAUNCHER_BENCH_DATA must name the folder that bench/run made")
    return folder


def _write_atomically(path, fill):
    temp = path + ".tmp"
    with open(temp, "wb") as f:
        fill(f)
    os.replace(temp, path)


def random_file(name, size):
    """`size` random bytes in a file of the data folder, made at its first use."""
    path = os.path.join(data_dir(), name)
    if not os.path.exists(path):
        def fill(f):
            left = size
            while left > 0:
                f.write(os.urandom(min(CHUNK, left)))
                left -= min(CHUNK, left)
        _write_atomically(path, fill)
    return path


def branding_value(name):
    """A constant of the build's generated branding header, as written there."""
    with open(os.path.join(BUILD, "generated", "branding.h"), encoding="utf-8") as f:
        for line in f:
            if " %s" % name in line and "=" in line:
                return line.split("=", 1)[1].strip().rstrip(";").strip()
    raise RuntimeError("no %s in the build's branding header" % name)


def jar_key():
    return int(branding_value("kJarKey"), 0)


def package(name, size, classes_jar=None):
    """A package as publish writes one: a jar of about `size` bytes (the entries of
    `classes_jar`, if given, and a stored entry of random bytes) scrambled with the build's
    jar key. Made at its first use. Returns (path, md5 in lowercase hex)."""
    path = os.path.join(data_dir(), name + ".pak")
    md5_path = path + ".md5"
    if os.path.exists(path) and os.path.exists(md5_path):
        with open(md5_path, encoding="ascii") as f:
            return path, f.read().strip()
    plain = path + ".jar"
    with zipfile.ZipFile(plain, "w", zipfile.ZIP_STORED) as z:
        if classes_jar:
            with zipfile.ZipFile(classes_jar) as source:
                for info in source.infolist():
                    z.writestr(info, source.read(info))
        info = zipfile.ZipInfo("data/filler.bin")
        info.file_size = max(0, size - 4096)
        with z.open(info, "w") as w:
            left = info.file_size
            while left > 0:
                w.write(os.urandom(min(CHUNK, left)))
                left -= min(CHUNK, left)
    key = jar_key()
    table = bytes(b ^ key for b in range(256))
    digest = hashlib.md5()

    def fill(f):
        with open(plain, "rb") as source:
            for chunk in iter(lambda: source.read(CHUNK), b""):
                chunk = chunk.translate(table)
                digest.update(chunk)
                f.write(chunk)
    _write_atomically(path, fill)
    os.remove(plain)
    with open(md5_path, "w", encoding="ascii") as f:
        f.write(digest.hexdigest())
    return path, digest.hexdigest()


class Server:
    """The suite's web server (tests/support/http_server.py) on 127.0.0.1, serving `root`."""

    def __init__(self, root, log):
        self.root, self.log = root, log
        os.makedirs(root, exist_ok=True)
        port_file = log + ".port"
        self.process = subprocess.Popen(
            [sys.executable, "-u", os.path.join(ROOT, "tests", "support", "http_server.py"), root, log],
            stdout=open(port_file, "w"))
        for _ in range(400):
            with open(port_file) as f:
                text = f.read()
            if "PORT " in text:
                self.port = int(text.split("PORT ")[1].split()[0])
                break
            time.sleep(0.025)
        else:
            self.stop()
            raise RuntimeError("the web server did not start")
        self.base = "http://127.0.0.1:%d" % self.port

    def requests(self, prefix):
        """(path, range start or None) of each request so far whose path starts with prefix."""
        found = []
        with open(self.log, encoding="utf-8") as f:
            for line in f:
                fields = line.rstrip("\n").split("\t")
                if not fields[0].startswith("GET "):
                    continue
                path = fields[0][4:]
                if not path.startswith(prefix):
                    continue
                start = None
                for field in fields[2:]:
                    if field.startswith("range=") and field[6:].isdigit():
                        start = int(field[6:])
                found.append((path, start))
        return found

    def stop(self):
        self.process.terminate()
        self.process.wait()


def seconds(command, **kwargs):
    """Wall time of one run of the command, which must succeed; its output is dropped."""
    start = time.perf_counter()
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL, **kwargs)
    return time.perf_counter() - start


def alternating_medians(rounds, *runs):
    """Calls each of `runs` once per round, in turn, and returns the median of each."""
    times = [[] for _ in runs]
    for _ in range(rounds):
        for i, run in enumerate(runs):
            times[i].append(run())
    return [statistics.median(t) for t in times]
