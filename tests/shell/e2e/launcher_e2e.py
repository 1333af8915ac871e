#!/usr/bin/env python3
"""The complete launcher, end to end, on a real X display (Xvfb, fixed display number).

Linux build: the real JVM of the machine's JDK, linked in as the installation's private
runtime. Windows build: Launcher.exe under Wine with the TEST DOUBLE jvm.dll (no Windows
Java runtime can exist here), so there the Java side is what the double records.

Each case lays out an installation (launcher, Config.ini, runtime), publishes test
applications with the build's own publish tool into the folder that the suite's web server
(tests/support/http_server.py) serves on 127.0.0.1, runs the launcher and watches its
windows with xdotool and xprop. Screenshots of the progress window and of each message box
are saved under --out and checked: the caption text, and the bar's width in pure blue
pixels while the update is held at a known progress.

The launcher fetches runtime libraries from the base URL fixed at build time
(LAUNCHER_RUNTIME_BASE_URL, a fixed port). So that serving that port can never collide with
anything else on the machine, the whole run re-executes itself in a private network
namespace of its own (unshare --net), where 127.0.0.1 belongs to this test alone; the
application folder is served on an ephemeral port as usual. Wine opens a program's sockets
in its wineserver, so the Windows run works on a copy of the suite's Wine prefix whose
wineserver is started inside that namespace.
"""
import argparse
import getpass
import os
import re
import shutil
import socket
import subprocess
import sys
import threading
import time
import unittest
import urllib.parse

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "support"))
from display_lock import claim_display  # noqa: E402

A = None          # the command line
SERVER = None     # the running web servers
DISPLAY = None    # ":N"

PROGRESS_CAPTION = "正在检查更新：%d%%   (--|\\\\|\\||/)"


# --- X display --------------------------------------------------------------------------

def x_env():
    env = dict(os.environ, DISPLAY=DISPLAY, LC_ALL="C.UTF-8")
    env.pop("XAUTHORITY", None)
    return env


def x(*cmd, check=True):
    p = subprocess.run(cmd, env=x_env(), capture_output=True, timeout=60)
    if check and p.returncode != 0:
        raise RuntimeError("%s failed: %s" % (" ".join(cmd), p.stderr.decode(errors="replace")))
    return p.stdout.decode("utf-8", "replace")


class Display:
    def __init__(self, number, window_manager):
        self.number = number
        self.window_manager = window_manager
        self.procs = []

    def start(self):
        claim_display(self.number)
        xvfb = subprocess.Popen(["Xvfb", ":%d" % self.number, "-screen", "0", "1024x768x24",
                                 "-nolisten", "tcp"], stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)
        self.procs.append(xvfb)
        deadline = time.monotonic() + 20
        while subprocess.run(["xdpyinfo"] if shutil.which("xdpyinfo") else ["xdotool", "getmouselocation"],
                             env=x_env(), capture_output=True).returncode != 0:
            if xvfb.poll() is not None or time.monotonic() > deadline:
                raise RuntimeError("Xvfb :%d did not start" % self.number)
            time.sleep(0.1)
        # A window manager draws the captions into the screenshots (Wine draws its own).
        if self.window_manager and shutil.which("openbox"):
            self.procs.append(subprocess.Popen(["openbox", "--sm-disable"], env=x_env(),
                                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
            time.sleep(0.5)

    def stop(self):
        for p in reversed(self.procs):
            p.terminate()
            try:
                p.wait(timeout=10)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()


def find_window(pattern, timeout=30):
    """The id of a visible window whose caption matches the regular expression, or None."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        ids = x("xdotool", "search", "--onlyvisible", "--name", pattern, check=False).split()
        if ids:
            return ids[-1]
        time.sleep(0.05)
    return None


def caption(window):
    out = x("xprop", "-id", window, "-notype", "_NET_WM_NAME", check=False)
    m = re.search(r'= "(.*)"\s*$', out, re.S)
    return m.group(1).replace('\\"', '"').replace("\\\\", "\\") if m else None


def geometry(window):
    """The window's client area on the screen (xdotool's position is off under a manager)."""
    info = x("xwininfo", "-id", window)
    value = lambda label: int(re.search(label + r":\s*(-?\d+)", info).group(1))
    return (value("Absolute upper-left X"), value("Absolute upper-left Y"), value("Width"),
            value("Height"))


def screenshot(name):
    os.makedirs(os.path.join(A.out, "screenshots"), exist_ok=True)
    path = os.path.join(A.out, "screenshots", name + ".png")
    x("import", "-window", "root", path)
    return path


def blue_box(png, rect):
    """Bounding box (left, top, right, bottom) and count of the pure blue pixels of the
    screenshot inside rect (x, y, width, height), in screen pixels."""
    left, top, width, height = rect
    raw = subprocess.run(["convert", png, "-crop", "%dx%d+%d+%d" % (width, height, left, top),
                          "+repage", "-depth", "8", "rgb:-"], capture_output=True, check=True).stdout
    box, count = None, 0
    for i in range(0, len(raw) - 2, 3):
        if raw[i] == 0 and raw[i + 1] == 0 and raw[i + 2] == 255:
            px, py = (i // 3) % width + left, (i // 3) // width + top
            count += 1
            box = (px, py, px + 1, py + 1) if box is None else (
                min(box[0], px), min(box[1], py), max(box[2], px + 1), max(box[3], py + 1))
    return box, count


def press(window, key):
    # Through the window manager where there is one: a focus set behind its back may not stick.
    if A.platform == "linux" and subprocess.run(
            ["xdotool", "windowactivate", "--sync", window], env=x_env(), capture_output=True,
            timeout=10).returncode == 0:
        x("xdotool", "key", key)
    else:
        x("xdotool", "windowfocus", "--sync", window, "key", key)


# --- Web server ---------------------------------------------------------------------------

class Servers:
    """http_server.py's handler on an ephemeral port for the application folders and on the
    build's runtime-library port; one root, one request log."""

    def __init__(self, root, log):
        sys.path.insert(0, A.support_dir)
        import http_server
        self.root, self.log = root, log
        os.makedirs(root, exist_ok=True)
        open(log, "w").close()
        http_server.Handler.root = root
        http_server.Handler.log_path = log
        self.servers = [http_server.Server(("127.0.0.1", 0), http_server.Handler)]
        base = urllib.parse.urlsplit(A.runtime_base_url)
        self.runtime_port = base.port or 80
        if base.hostname in ("127.0.0.1", "localhost"):
            self.servers.append(http_server.Server(("127.0.0.1", self.runtime_port), http_server.Handler))
        self.port = self.servers[0].server_address[1]
        for s in self.servers:
            threading.Thread(target=s.serve_forever, kwargs={"poll_interval": 0.1}, daemon=True).start()

    def url(self):
        return "http://127.0.0.1:%d/" % self.port

    def stop(self):
        for s in self.servers:
            s.shutdown()
            s.server_close()

    def mark(self):
        return os.path.getsize(self.log)

    def requests_since(self, mark):
        with open(self.log, encoding="utf-8") as f:
            f.seek(mark)
            return [line.split()[1] for line in f if line.strip()]

    def behave(self, path, text):
        local = os.path.join(self.root, path.lstrip("/"))
        os.makedirs(os.path.dirname(local), exist_ok=True)
        for name in (local + ".behaviour", local + ".release"):
            if os.path.exists(name):
                os.remove(name)
        if text:
            with open(local + ".behaviour", "w") as f:
                f.write(text)

    def release(self, path):
        local = os.path.join(self.root, path.lstrip("/"))
        open(local + ".release", "w").close()


# --- Test applications ----------------------------------------------------------------------

def build_java(out):
    """Compiles the test applications; returns {name: jar path} and the libraries folder."""
    src = os.path.join(os.path.dirname(os.path.abspath(__file__)), "java")
    javac, jar = os.path.join(A.jdk, "bin", "javac"), os.path.join(A.jdk, "bin", "jar")
    work = os.path.join(out, "java")
    shutil.rmtree(work, ignore_errors=True)

    def compile_jar(name, classpath=None, extra=None):
        classes = os.path.join(work, "classes", name)
        sources = [os.path.join(d, f) for d, _, fs in os.walk(os.path.join(src, name.split("-")[0]))
                   for f in fs if f.endswith(".java")]
        cmd = [javac, "-nowarn", "-d", classes] + (["-cp", classpath] if classpath else []) + sources
        subprocess.run(cmd, check=True, capture_output=True)
        if extra:
            with open(os.path.join(classes, "version.txt"), "w") as f:
                f.write(extra)
        target = os.path.join(work, name + ".jar")
        subprocess.run([jar, "--create", "--file", target, "-C", classes, "."], check=True,
                       capture_output=True)
        return target, classes

    libs = os.path.join(work, "libs")
    os.makedirs(libs)
    lib_jar, lib_classes = compile_jar("lib")
    shutil.move(lib_jar, os.path.join(libs, "greeting.jar"))
    jars = {"app": compile_jar("app", lib_classes)[0],
            "app-v2": compile_jar("app-v2", lib_classes, extra="2")[0],
            "noentry": compile_jar("noentry")[0]}
    return jars, libs


def native(path):
    """A path as the program under test takes it."""
    return "Z:" + os.path.abspath(path).replace("/", "\\") if A.platform == "windows" else path


def run_tool(program, *args):
    cmd = ([A.wine_run, A.wine_prefix] if A.platform == "windows" else []) + [program] + list(args)
    p = subprocess.run(cmd, capture_output=True, timeout=120)
    if p.returncode != 0:
        raise RuntimeError("%s: %s" % (" ".join(cmd), p.stderr.decode(errors="replace")))
    return p.stdout.decode()


def publish(jar, case, libs):
    """Publishes the jar as <case>/app/main.jar; returns the Config.ini line and the .pak's bytes."""
    line = run_tool(A.publish, "--libs", native(libs), "--folder", case + "/app", "--name", "main.jar",
                    "--server", SERVER.url(), native(jar), native(SERVER.root)).strip()
    with open(os.path.join(SERVER.root, case, "app", "update.txt")) as f:
        md5 = f.read()
    with open(os.path.join(SERVER.root, case, "app", md5 + ".pak"), "rb") as f:
        return line, f.read(), md5


# --- Installations -----------------------------------------------------------------------------

class Install:
    """One installation of the launcher and the run of it."""

    def __init__(self, case, config_line=None, runtime=True):
        self.case = case
        self.base = os.path.join(A.out, case)
        shutil.rmtree(self.base, ignore_errors=True)
        self.dir = os.path.join(self.base, "inst-" + case)
        os.makedirs(self.dir)
        exe = os.path.basename(A.launcher)
        self.exe = os.path.join(self.dir, exe)
        shutil.copy2(A.launcher, self.exe)
        folder = "inst-" + case
        if A.product_word not in folder:
            folder = A.product_word + "-" + folder
        if A.platform == "windows":
            users = os.path.join(A.wine_prefix, "drive_c", "users", getpass.getuser())
            self.working = os.path.join(users, "Documents", folder)
        else:
            self.home = os.path.join(self.base, "home")
            os.makedirs(os.path.join(self.home, "Documents"))
            self.working = os.path.join(self.home, "Documents", folder)
        shutil.rmtree(self.working, ignore_errors=True)
        if runtime:
            if A.platform == "windows":
                client = os.path.join(self.dir, "java", "bin", "client")
                os.makedirs(client)
                shutil.copy2(A.jvm_double, os.path.join(client, "jvm.dll"))
            else:
                os.symlink(A.jdk, os.path.join(self.dir, "java"))
        if config_line is not None:
            with open(os.path.join(self.dir, "Config.ini"), "w") as f:
                f.write(config_line + "\r\n")
        self.proc = None

    def start(self, display=True):
        for name in RUN_FILES:
            path = os.path.join(self.working, name)
            if os.path.exists(path):
                os.remove(path)
        env = dict(os.environ)
        for k in ("XDG_CONFIG_HOME", "XDG_DATA_HOME", "XAUTHORITY"):
            env.pop(k, None)
        if display:
            env["DISPLAY"] = DISPLAY
        else:
            env.pop("DISPLAY", None)
            env.pop("WAYLAND_DISPLAY", None)
        if A.platform == "windows":
            cmd = [A.wine_run, A.wine_prefix, self.exe]
        else:
            env["HOME"] = self.home
            env["NO_AT_BRIDGE"] = "1"  # no accessibility bus here: no warnings about it
            cmd = [self.exe]
        self.proc = subprocess.Popen(cmd, cwd=self.dir, env=env, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE)
        return self

    def wait(self, timeout=60):
        try:
            out, err = self.proc.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            out, err = self.proc.communicate()
            raise AssertionError("the launcher did not end within %d s" % timeout)
        self.stdout, self.stderr = out.decode("utf-8", "replace"), err.decode("utf-8", "replace")
        return self.proc.returncode

    def app_path(self):
        """The path the Java application received, or None when it did not run."""
        if A.platform == "windows":
            log = os.path.join(self.working, "jvm-test-double.log")
            if not os.path.exists(log):
                return None
            with open(log, encoding="utf-8") as f:
                for line in f:
                    if line.startswith("CallStaticVoidMethod zobj/Run.runWithPath "):
                        return line.rstrip("\n").split(" ", 2)[2]
            return None
        path = os.path.join(self.working, "received-path.txt")
        if not os.path.exists(path):
            return None
        with open(path, encoding="utf-8") as f:
            lines = f.read().split("\n")
        # The text from the runtime library proves it was downloaded and on the class path.
        assert lines[1] == "greeting from the runtime library", lines
        return lines[0]

    def expected_app_path(self):
        if A.platform == "windows":
            return native(self.exe)
        return os.path.realpath(self.exe)

    def jar_bytes(self):
        path = os.path.join(self.working, "main.jar")
        if not os.path.exists(path):
            return None
        with open(path, "rb") as f:
            return f.read()


def box_report(caption_text, text):
    return "[%s] %s" % (caption_text, text)


def reports(stderr):
    """The message box texts that the launcher also wrote to standard error."""
    return [line for line in stderr.splitlines() if line.startswith("[")]


RUN_FILES = ("received-path.txt", "jvm-test-double.log")


def listing(folder):
    """The working folder's files, less those each run of the test application rewrites."""
    return sorted(f for f in os.listdir(folder) if f not in RUN_FILES)


def free_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


# --- The cases -----------------------------------------------------------------------------------

class EndToEnd(unittest.TestCase):
    def assertAppRan(self, install):
        self.assertEqual(install.app_path(), install.expected_app_path())

    def close_box(self, title, shot):
        window = find_window("^" + re.escape(title) + "$")
        self.assertIsNotNone(window, "no message box titled " + title)
        self.assertEqual(caption(window), title)
        time.sleep(0.3)  # drawn
        screenshot(shot)
        press(window, "Return")
        return window

    def test_update_launch_and_nothing_to_download_the_second_time(self):
        case = "update"
        line, pak, md5 = publish(JARS["app"], case, LIBS)
        inst = Install(case, line)
        # update.txt held: the worker waits at 50 % (libraries done) while the window shows it.
        SERVER.behave("/%s/app/update.txt" % case, "hold\ntimes 1\n")
        mark = SERVER.mark()
        inst.start()
        window = find_window(PROGRESS_CAPTION % 50)
        self.assertIsNotNone(window, "the caption never showed 50 %")
        self.assertRegex(caption(window), "^" + PROGRESS_CAPTION % 50 + "$")
        time.sleep(0.3)
        shot = screenshot(A.platform + "-progress-50")
        wx, wy, ww, wh = geometry(window)
        box, count = blue_box(shot, (wx, wy, ww, wh))
        self.assertIsNotNone(box, "no blue bar in " + shot)
        self.assertEqual((box[2] - box[0], box[3] - box[1]), (320, 50), shot)
        self.assertEqual(count, 320 * 50, "the bar is not solid blue")
        if A.platform == "linux":
            self.assertEqual((box[0] - wx, box[1] - wy), (10, 0), "bar origin in the client area")
        SERVER.release("/%s/app/update.txt" % case)

        self.assertEqual(inst.wait(), 0, inst.stderr)
        self.assertAppRan(inst)
        self.assertEqual(inst.jar_bytes(), pak)
        requests = SERVER.requests_since(mark)
        self.assertEqual(requests[:2], ["/%s/app/libs.txt" % case, "/install/runtime/lib/greeting.jar"])
        self.assertIn("/%s/app/%s.pak" % (case, md5), requests)
        self.assertEqual(requests[-1], "/%s/app/%s.pak" % (case, md5))
        self.assertEqual(reports(inst.stderr), [])  # no message box

        # Second start: everything is current.
        mark = SERVER.mark()
        inst.start()
        self.assertEqual(inst.wait(), 0, inst.stderr)
        self.assertAppRan(inst)
        self.assertEqual(SERVER.requests_since(mark), ["/%s/app/libs.txt" % case, "/%s/app/update.txt" % case])

    def test_escape_while_downloading_leaves_the_jar_whole(self):
        case = "escape"
        line, pak1, _ = publish(JARS["app"], case, LIBS)
        inst = Install(case, line)
        inst.start()
        self.assertEqual(inst.wait(), 0, inst.stderr)
        self.assertEqual(inst.jar_bytes(), pak1)
        before = listing(inst.working)

        _, pak2, md5 = publish(JARS["app-v2"], case, LIBS)
        held = "/%s/app/%s.pak" % (case, md5)
        SERVER.behave(held, "hold\n")
        inst.start()
        # The package's bytes move the bar on from 70 toward 90 while it downloads.
        window = find_window(PROGRESS_CAPTION.replace("%d%%", "[78][0-9]%"))
        self.assertIsNotNone(window, "the caption never showed the download's 70 to 89 %")
        time.sleep(0.2)
        press(window, "Escape")
        ended = time.monotonic()
        self.assertEqual(inst.wait(timeout=20), 0, inst.stderr)
        self.assertLess(time.monotonic() - ended, 10)
        self.assertIsNone(inst.app_path())
        # The old jar is untouched; beside it only the package's partial file, named after
        # the MD5 it is meant to reach, which the next start goes on from.
        self.assertEqual(inst.jar_bytes(), pak1)
        self.assertEqual(listing(inst.working), sorted(before + ["%s.pak.part" % md5]))
        SERVER.behave(held, "")
        SERVER.release(held)

        inst.start()
        self.assertEqual(inst.wait(), 0, inst.stderr)
        self.assertEqual(inst.jar_bytes(), pak2)
        self.assertAppRan(inst)

    def failing_case(self, name, inst, title, text, prepare=None):
        """Runs the installation, closes its message box and checks that no Java ran."""
        if prepare:
            prepare(inst)
        inst.start()
        self.close_box(title, "%s-box-%s" % (A.platform, name))
        self.assertEqual(inst.wait(), 1, inst.stderr)
        self.assertEqual(reports(inst.stderr), [box_report(title, text)])
        self.assertIsNone(inst.app_path())
        if A.platform == "linux":
            # Without a display: no window, the same text on standard error.
            if prepare:
                prepare(inst)
            inst.start(display=False)
            self.assertEqual(inst.wait(), 1, inst.stderr)
            self.assertEqual(reports(inst.stderr), [box_report(title, text)])
            self.assertIsNone(inst.app_path())

    def test_failures_show_one_box_and_start_no_application(self):
        contact = "客服QQ：" + A.support_contact
        line, _, _ = publish(JARS["app"], "failures", LIBS)
        down = "http://127.0.0.1:%d/failures/app/main.jar" % free_port()
        cases = [
            ("no-config", Install("no-config", None), contact, "找不到本地配置文件！", None),
            ("no-runtime", Install("no-runtime", line, runtime=False), contact,
             "本地JAVA环境出错，请重新重新安装软件！", None),
            ("server-down", Install("server-down", down), contact, "下载版本控制文件出错！", None),
        ]
        launch_error = "软件启动出错，请联系客服QQ：%s。cod=4" % A.support_contact
        if A.platform == "linux":
            noentry, _, _ = publish(JARS["noentry"], "noentry", LIBS)
            cases.append(("launch-code-4", Install("launch-code-4", noentry), "启动", launch_error, None))
        else:
            def fail_find_class(inst):
                os.makedirs(inst.working, exist_ok=True)
                with open(os.path.join(inst.working, "jvm-test-double.txt"), "w") as f:
                    f.write("class")
            cases.append(("launch-code-4", Install("launch-code-4", line), "启动", launch_error,
                          fail_find_class))
        for name, inst, title, text, prepare in cases:
            with self.subTest(name):
                self.failing_case(name, inst, title, text, prepare)


def bring_loopback_up():
    """A new network namespace starts with its loopback interface down."""
    import fcntl
    import struct
    siocgifflags, siocsifflags, iff_up = 0x8913, 0x8914, 0x1
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        request = struct.pack("16sH14s", b"lo", 0, bytes(14))
        flags = struct.unpack("16sH14s", fcntl.ioctl(s, siocgifflags, request))[1]
        fcntl.ioctl(s, siocsifflags, struct.pack("16sH14s", b"lo", flags | iff_up, bytes(14)))


def in_private_network():
    """Re-runs this script in a network namespace of its own; False when that is not possible."""
    if os.environ.get("LAUNCHER_E2E_NETNS") == "1":
        bring_loopback_up()
        return True
    if shutil.which("unshare") and subprocess.run(["unshare", "--net", "true"],
                                                  capture_output=True).returncode == 0:
        env = dict(os.environ, LAUNCHER_E2E_NETNS="1")
        sys.stdout.flush()
        p = subprocess.run(["unshare", "--net", sys.executable] + sys.argv, env=env)
        sys.exit(p.returncode)
    return False


class PrivateWinePrefix:
    """A copy of the suite's prefix with a wineserver of its own in this network namespace."""

    def __init__(self, source, target):
        shutil.rmtree(target, ignore_errors=True)
        shutil.copytree(source, target, symlinks=True)
        self.env = dict(os.environ, WINEPREFIX=target, WINEDEBUG="-all")
        subprocess.run(["wineserver", "-p"], env=self.env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, check=True)
        # The first program of a session starts Wine's background services, which keep its
        # output open: let that be one whose output nobody waits for.
        subprocess.run(["wine", "cmd", "/c", "exit"], env=self.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
        self.path = target

    def stop(self):
        subprocess.run(["wineserver", "-k"], env=self.env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        shutil.rmtree(self.path, ignore_errors=True)


def main():
    global A, SERVER, DISPLAY, JARS, LIBS
    p = argparse.ArgumentParser()
    p.add_argument("--platform", choices=["linux", "windows"], required=True)
    p.add_argument("--launcher", required=True)
    p.add_argument("--publish", required=True)
    p.add_argument("--jdk", required=True)
    p.add_argument("--support-dir", required=True)
    p.add_argument("--runtime-base-url", required=True)
    p.add_argument("--support-contact", required=True)
    p.add_argument("--product-word", required=True)
    p.add_argument("--display", type=int, required=True)
    p.add_argument("--out", required=True)
    p.add_argument("--wine-run")
    p.add_argument("--wine-prefix")
    p.add_argument("--jvm-double")
    A, rest = p.parse_known_args()
    private = in_private_network()
    if not private:
        print("no private network namespace (unshare --net): serving the runtime port on the host")
    A.out = os.path.abspath(A.out)
    shutil.rmtree(A.out, ignore_errors=True)
    os.makedirs(A.out)
    prefix = None
    if A.platform == "windows" and private:
        prefix = PrivateWinePrefix(A.wine_prefix, os.path.join(A.out, "wineprefix"))
        A.wine_prefix = prefix.path
    DISPLAY = ":%d" % A.display
    display = Display(A.display, window_manager=(A.platform == "linux"))
    display.start()
    try:
        SERVER = Servers(os.path.join(A.out, "www"), os.path.join(A.out, "requests.log"))
        JARS, LIBS = build_java(A.out)
        print("screenshots: %s" % os.path.join(A.out, "screenshots"), flush=True)
        result = unittest.main(argv=[sys.argv[0]] + rest, verbosity=2, exit=False).result
        SERVER.stop()
    finally:
        display.stop()
        if prefix:
            prefix.stop()
    sys.exit(0 if result.wasSuccessful() else 1)


if __name__ == "__main__":
    main()
