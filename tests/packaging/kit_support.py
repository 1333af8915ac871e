"""What the vendor-kit tests share: a build folder of the kit configured and built as a vendor
does, the suite's web server, the test application, and readers for the Windows files that
the kit makes (the version resource of a program, shortcut files)."""
import os
import shutil
import struct
import subprocess
import sys
import threading
import time


sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from display_lock import claim_display  # noqa: E402

def run(cmd, env=None, cwd=None, timeout=900, check=True, stdout_only=False):
    """Runs a command; returns its exit status and its output (standard output and error
    together, or standard output alone). Raises with the output when check fails."""
    p = subprocess.run(cmd, env=env, cwd=cwd, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                       stderr=subprocess.PIPE if stdout_only else subprocess.STDOUT,
                       timeout=timeout)
    out = p.stdout.decode("utf-8", "replace")
    if check and p.returncode != 0:
        err = p.stderr.decode("utf-8", "replace") if stdout_only else ""
        raise AssertionError("%s failed (%d):\n%s%s" % (" ".join(map(str, cmd)), p.returncode,
                                                         out, err))
    return p.returncode, out


class KitBuild:
    """A build folder of its own, configured from the tree under test with the kit's settings."""

    def __init__(self, cmake, source, folder, preset, settings):
        self.cmake, self.source, self.folder = cmake, source, folder
        shutil.rmtree(folder, ignore_errors=True)
        cmd = [cmake, "--preset", preset, "-S", source, "-B", folder, "-DBUILD_TESTING=OFF"]
        cmd += ["-D%s=%s" % item for item in settings.items()]
        self.configure_output = run(cmd, cwd=source)[1]

    def build(self, target=None, env=None, check=True):
        cmd = [self.cmake, "--build", self.folder, "-j2"] + (["--target", target] if target else [])
        return run(cmd, env=env, check=check)


def start_server(support_dir, root, log):
    """The suite's web server (http_server.py) on an ephemeral port of 127.0.0.1, in this
    process; returns the server and its port."""
    sys.path.insert(0, support_dir)
    import http_server
    os.makedirs(root, exist_ok=True)
    open(log, "w").close()
    http_server.Handler.root = root
    http_server.Handler.log_path = log
    server = http_server.Server(("127.0.0.1", 0), http_server.Handler)
    threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.1}, daemon=True).start()
    return server, server.server_address[1]


def requests(log):
    with open(log, encoding="utf-8") as f:
        return [line.split()[1] for line in f if line.strip()]


def build_app(jdk, out):
    """The test application (app/zobj/Run.java) as a jar; returns its path."""
    here = os.path.dirname(os.path.abspath(__file__))
    classes = os.path.join(out, "classes")
    shutil.rmtree(classes, ignore_errors=True)
    run([os.path.join(jdk, "bin", "javac"), "-d", classes,
         os.path.join(here, "app", "zobj", "Run.java")])
    jar = os.path.join(out, "app.jar")
    run([os.path.join(jdk, "bin", "jar"), "--create", "--file", jar, "-C", classes, "."])
    return jar


# --- Windows files -------------------------------------------------------------------------

def _pe_sections(data):
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("not a PE file")
    sections, optional_size = struct.unpack_from("<2xH12xH", data, pe + 4)
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    directories = optional + (112 if magic == 0x20B else 96)
    resource_rva = struct.unpack_from("<I", data, directories + 2 * 8)[0]
    table = optional + optional_size
    spans = []
    for i in range(sections):
        size, rva, raw_size, raw = struct.unpack_from("<IIII", data, table + 40 * i + 8)
        spans.append((rva, max(size, raw_size), raw))
    return resource_rva, spans


def _file_offset(spans, rva):
    for start, size, raw in spans:
        if start <= rva < start + size:
            return rva - start + raw
    raise ValueError("address %#x is in no section" % rva)


def version_resource(path):
    """The version resource of a Windows program: (a, b, c, d) of the fixed file version,
    {name: value} of its strings, and the names of its string tables (language and code
    page, like "080404b0")."""
    with open(path, "rb") as f:
        data = f.read()
    resource_rva, spans = _pe_sections(data)
    root = _file_offset(spans, resource_rva)

    def entries(directory):
        named, ids = struct.unpack_from("<HH", data, directory + 12)
        for i in range(named + ids):
            name, target = struct.unpack_from("<II", data, directory + 16 + 8 * i)
            yield name, target

    def first_leaf(target):
        while target & 0x80000000:
            target = next(entries(root + (target & 0x7FFFFFFF)))[1]
        rva, size = struct.unpack_from("<II", data, root + target)
        offset = _file_offset(spans, rva)
        return data[offset:offset + size]

    blob = next((first_leaf(t) for n, t in entries(root) if n == 16), None)  # RT_VERSION
    if blob is None:
        raise ValueError("no version resource")

    strings = {}
    tables = []
    fixed = None

    def walk(at, depth):
        nonlocal fixed
        length, value_length, kind = struct.unpack_from("<HHH", blob, at)
        end = at + length
        key_end = at + 6
        while blob[key_end:key_end + 2] != b"\0\0":
            key_end += 2
        key = blob[at + 6:key_end].decode("utf-16-le")
        value = (key_end + 2 + 3) & ~3
        if depth == 0:
            signature, _, ms, ls = struct.unpack_from("<IIII", blob, value)
            assert signature == 0xFEEF04BD, "VS_FIXEDFILEINFO signature"
            fixed = (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
            child = (value + value_length + 3) & ~3
        elif depth == 2 and key != "Translation":
            tables.append(key)
            child = value
        elif depth == 3:
            text = blob[value:min(value + 2 * value_length, end)].decode("utf-16-le").rstrip("\0")
            strings[key] = text
            return
        else:
            child = (value + (2 * value_length if kind == 1 else value_length) + 3) & ~3
        while child < end:
            child_length = struct.unpack_from("<H", blob, child)[0]
            if child_length == 0:
                break
            walk(child, depth + 1)
            child = (child + child_length + 3) & ~3

    walk(0, 0)
    return fixed, strings, tables


def read_shortcut(path, ansi="gbk"):
    """What a .lnk file points at: {"target", "name", "working_dir", "arguments", "icon",
    "icon_index"} (those it holds)."""
    with open(path, "rb") as f:
        data = f.read()
    if struct.unpack_from("<I", data, 0)[0] != 0x4C:
        raise ValueError("not a shortcut file")
    flags = struct.unpack_from("<I", data, 0x14)[0]
    at = 0x4C
    result = {"icon_index": struct.unpack_from("<i", data, 0x38)[0]}
    if flags & 0x1:  # HasLinkTargetIDList
        at += 2 + struct.unpack_from("<H", data, at)[0]
    if flags & 0x2:  # HasLinkInfo
        size, header, info_flags, _, local_base = struct.unpack_from("<IIIII", data, at)
        if info_flags & 0x1:
            if header >= 0x24:
                unicode_base = struct.unpack_from("<I", data, at + 0x1C)[0]
                start = end = at + unicode_base
                while data[end:end + 2] != b"\0\0":
                    end += 2
                result["target"] = data[start:end].decode("utf-16-le")
            else:
                text = data[at + local_base:]
                result["target"] = text[:text.index(b"\0")].decode(ansi)
        at += size
    unicode = bool(flags & 0x80)
    for name, bit in (("name", 0x4), ("relative_path", 0x8), ("working_dir", 0x10),
                      ("arguments", 0x20), ("icon", 0x40)):
        if flags & bit:
            count = struct.unpack_from("<H", data, at)[0]
            at += 2
            width = 2 if unicode else 1
            raw = data[at:at + count * width]
            at += count * width
            result[name] = raw.decode("utf-16-le" if unicode else ansi).rstrip("\0")
    return result


# --- X display (for the Windows launcher's window under Wine) ---------------------------------

class Xvfb:
    def __init__(self, number):
        self.number = number
        self.display = ":%d" % number
        self.proc = None

    def start(self):
        claim_display(self.number)
        self.proc = subprocess.Popen(["Xvfb", self.display, "-screen", "0", "1024x768x24",
                                      "-nolisten", "tcp"], stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
        env = dict(os.environ, DISPLAY=self.display)
        env.pop("XAUTHORITY", None)
        probe = ["xdpyinfo"] if shutil.which("xdpyinfo") else ["xdotool", "getmouselocation"]
        deadline = time.monotonic() + 20
        while subprocess.run(probe, env=env, capture_output=True).returncode != 0:
            if self.proc.poll() is not None or time.monotonic() > deadline:
                raise RuntimeError("Xvfb %s did not start" % self.display)
            time.sleep(0.1)
        return self

    def stop(self):
        if self.proc:
            self.proc.terminate()
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()


def wait_until(condition, timeout, what):
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > deadline:
            raise AssertionError("%s did not happen within %d s" % (what, timeout))
        time.sleep(0.2)

