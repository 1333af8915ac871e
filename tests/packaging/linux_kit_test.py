#!/usr/bin/env python3
"""The Linux vendor kit as a vendor makes and a customer uses it.

A build folder of its own is configured with a product name, a version and the Config.ini
line, built as usual (which must not make the Java runtime), then CPack's "package" target
makes the .deb with a runtime made by jlink from this machine's JDK. The package is read
with dpkg-deb, checked with lintian (no error, no warning), and unpacked with dpkg -x into
a folder (never installed on this machine), and the launcher inside runs without a display
against the suite's web server up to the test application, run by the packaged runtime's
real JVM.
"""
import argparse
import os
import re
import struct
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kit_support as kit  # noqa: E402

A = None
K = None

PRODUCT = "Kit Test App"
PACKAGE = "kit-test-app"     # the product name in Debian's spelling
PUBLISHER = "Kit Publisher <kit@example.com>"
VERSION = "2.3.1.7"
OPT = "/opt/" + PACKAGE


class State:
    pass


def setUpModule():
    global K
    K = State()
    K.work = os.path.abspath(A.work)
    subprocess.run(["rm", "-rf", K.work], check=True)
    os.makedirs(K.work)
    K.www = os.path.join(K.work, "www")
    K.log = os.path.join(K.work, "requests.log")
    K.server, port = kit.start_server(A.support_dir, K.www, K.log)
    jar = kit.build_app(A.jdk, os.path.join(K.work, "app"))
    K.config_line = kit.run([A.publish, "--folder", "app", "--name", "main.jar", "--server",
                             "http://127.0.0.1:%d/" % port, jar, K.www], stdout_only=True)[1].strip()

    K.build = kit.KitBuild(A.cmake, A.source_dir, os.path.join(K.work, "build"), "linux", {
        "LAUNCHER_PRODUCT_NAME": PRODUCT,
        "LAUNCHER_PUBLISHER": PUBLISHER,
        "LAUNCHER_VERSION": VERSION,
        "LAUNCHER_CONFIG_URL": K.config_line,
        "LAUNCHER_RUNTIME_BASE_URL": "http://127.0.0.1:%d/install/runtime/" % port,
        "LAUNCHER_JAR_KEY": A.jar_key,
        "LAUNCHER_PRODUCT_WORD": A.product_word,
    })
    K.build.build()
    K.made_by_all = sorted(os.listdir(os.path.join(K.build.folder, "packaging")))
    K.debs_after_all = [f for f in os.listdir(K.build.folder) if f.endswith(".deb")]
    K.build.build("package")
    arch = kit.run(["dpkg", "--print-architecture"])[1].strip()
    K.deb = os.path.join(K.build.folder, "%s_%s_%s.deb" % (PACKAGE, VERSION, arch))


def tearDownModule():
    if K is not None and getattr(K, "server", None):
        K.server.shutdown()
        K.server.server_close()


def field(name):
    return kit.run(["dpkg-deb", "--field", K.deb, name])[1].strip()


def contents():
    """{path: (mode string, owner, link target or None)} of the package's files."""
    entries = {}
    for line in kit.run(["dpkg-deb", "--contents", K.deb])[1].splitlines():
        m = re.match(r"(\S+) (\S+)\s+\d+ \S+ \S+ \.(/\S*?)/?(?: -> (\S+))?$", line)
        assert m, line
        entries[m.group(3)] = (m.group(1), m.group(2), m.group(4))
    return entries


def owning_package(library):
    """The Debian package of a shared library as the dynamic linker finds it on this machine."""
    for line in kit.run(["ldconfig", "-p"])[1].splitlines():
        m = re.match(r"\s*(\S+) \(libc6,x86-64[^)]*\) => (\S+)$", line)
        if m and m.group(1) == library:
            path = os.path.realpath(m.group(2))
            for candidate in (path, path.replace("/usr/lib/", "/lib/", 1)):
                code, out = kit.run(["dpkg-query", "-S", candidate], check=False)
                if code == 0:
                    return out.split(":")[0]
    raise AssertionError("no package holds " + library)


class LinuxKit(unittest.TestCase):
    def test_normal_build_makes_neither_runtime_nor_package(self):
        self.assertEqual([f for f in K.made_by_all if f.startswith("java") or f.endswith(".png")], [])
        self.assertEqual(K.debs_after_all, [])
        self.assertTrue(os.path.exists(K.deb), "no %s" % K.deb)

    def test_control_fields_and_computed_dependencies(self):
        self.assertEqual(field("Package"), PACKAGE)
        self.assertEqual(field("Version"), VERSION)
        self.assertEqual(field("Maintainer"), PUBLISHER)
        self.assertEqual(field("Architecture"), kit.run(["dpkg", "--print-architecture"])[1].strip())
        depends = {d.strip().split(" ")[0] for d in field("Depends").split(",")}
        # Every library the launcher links comes with a dependency on its package ...
        needed = re.findall(r"\(NEEDED\)\s+Shared library: \[(\S+)\]",
                            kit.run(["readelf", "-d", os.path.join(self.root(), OPT[1:], "launcher")])[1])
        self.assertIn("libgtk-3.so.0", needed)
        for library in needed:
            with self.subTest(library):
                self.assertIn(owning_package(library), depends)
        # ... and so does every system library of the runtime (its AWT needs X11).
        self.assertIn("libx11-6", depends)
        self.assertFalse([d for d in depends if "jre" in d or "jdk" in d or "java" in d], depends)

    def test_layout_under_opt_with_menu_entry_and_icon(self):
        files = contents()
        launcher = files.get(OPT + "/launcher")
        self.assertEqual(launcher[:2], ("-rwxr-xr-x", "root/root"), launcher)
        for path in (OPT + "/Config.ini", OPT + "/java/lib/server/libjvm.so", OPT + "/java/release",
                     "/usr/share/applications/%s.desktop" % PACKAGE,
                     "/usr/share/icons/hicolor/256x256/apps/%s.png" % PACKAGE):
            self.assertIn(path, files)
        self.assertEqual(files[OPT + "/java/bin/java"][0], "-rwxr-xr-x")
        # Nothing else: the installation folder, the menu entry, the icon, Debian's documents
        # and lintian's overrides (and their parents).
        places = (OPT, "/usr/share/applications", "/usr/share/icons/hicolor/256x256/apps",
                  "/usr/share/doc/" + PACKAGE, "/usr/share/lintian/overrides")
        outside = [p for p in files
                   if not any(p == place or p.startswith(place + "/") or
                              (place + "/").startswith(p.rstrip("/") + "/") for place in places)]
        self.assertEqual(outside, [])
        self.assertEqual({owner for _, owner, _ in files.values()}, {"root/root"})
        root = self.root()
        with open(os.path.join(root, OPT[1:], "Config.ini"), "rb") as f:
            self.assertEqual(f.read(), K.config_line.encode() + b"\n")
        with open(os.path.join(root, OPT[1:], "java", "release")) as f:
            modules = re.search(r'MODULES="([^"]*)"', f.read()).group(1).split()
        self.assertIn("java.desktop", modules)  # made by jlink with the default modules
        with open(os.path.join(root, "usr/share/icons/hicolor/256x256/apps", PACKAGE + ".png"), "rb") as f:
            png = f.read(24)
        self.assertEqual(png[:8], b"\x89PNG\r\n\x1a\n")
        self.assertEqual(struct.unpack(">II", png[16:24]), (256, 256))

    def test_lintian_finds_no_error_and_no_warning(self):
        code, out = kit.run(["lintian", "--tag-display-limit", "0", K.deb], check=False)
        findings = [line for line in out.splitlines() if line.startswith(("E:", "W:"))]
        self.assertEqual(findings, [], out)
        self.assertNotEqual(code, 2, out)  # lintian itself ran
        # What it needed: the Debian documents, a maintainer it takes, and overrides only for
        # what a vendor's package under /opt does on purpose.
        files = contents()
        for path in ("/usr/share/doc/%s/copyright" % PACKAGE, "/usr/share/doc/%s/changelog.gz" % PACKAGE,
                     "/usr/share/lintian/overrides/" + PACKAGE):
            self.assertEqual(files[path][0], "-rw-r--r--", path)
        with open(os.path.join(self.root(), "usr/share/lintian/overrides", PACKAGE)) as f:
            overridden = sorted(line.split(":", 1)[1].strip() for line in f if line.strip() and line[0] != "#")
        self.assertEqual(overridden, ["dir-or-file-in-opt", "jar-not-in-usr-share"])
        changelog = kit.run(["zcat", os.path.join(self.root(), "usr/share/doc", PACKAGE, "changelog.gz")])[1]
        self.assertTrue(changelog.startswith("%s (%s) " % (PACKAGE, VERSION)), changelog)
        self.assertIn(" -- %s  " % PUBLISHER, changelog)
        # The runtime's native files are stripped, its legal notices no longer read-only.
        self.assertEqual(files[OPT + "/java/legal/java.base/LICENSE"][0], "-rw-r--r--")
        symbols = kit.run(["readelf", "-S", os.path.join(self.root(), OPT[1:], "java/lib/server/libjvm.so")])[1]
        self.assertNotIn(".symtab", symbols)
        # Every line of the description fits Debian's 80 columns.
        for line in field("Description").splitlines():
            self.assertLessEqual(len(line), 80, line)

    def test_desktop_entry(self):
        path = os.path.join(self.root(), "usr/share/applications", PACKAGE + ".desktop")
        code, out = kit.run(["desktop-file-validate", path], check=False)
        self.assertEqual((code, out), (0, ""))
        with open(path, encoding="utf-8") as f:
            entry = dict(line.rstrip("\n").split("=", 1) for line in f if "=" in line)
        self.assertEqual(entry["Name"], PRODUCT)
        self.assertEqual(entry["Exec"], OPT + "/launcher")
        self.assertEqual(entry["Icon"], PACKAGE)
        self.assertEqual(entry["Type"], "Application")

    def test_unpacked_package_runs_the_application_headless(self):
        root = self.root()
        home = os.path.join(K.work, "home")
        os.makedirs(os.path.join(home, "Documents"), exist_ok=True)
        env = {k: v for k, v in os.environ.items()
               if k not in ("DISPLAY", "WAYLAND_DISPLAY", "XDG_CONFIG_HOME", "XDG_DATA_HOME",
                            "JAVA_HOME", "LD_LIBRARY_PATH")}
        env["HOME"] = home
        launcher = os.path.join(root, OPT[1:], "launcher")
        mark = len(kit.requests(K.log))
        p = subprocess.run([launcher], env=env, cwd=K.work, capture_output=True,
                           stdin=subprocess.DEVNULL, timeout=120)
        out, err = p.stdout.decode(), p.stderr.decode()
        self.assertEqual(p.returncode, 0, out + err)
        self.assertIn("packaged application: %s\n" % launcher, out)
        self.assertIn("java.home: %s\n" % os.path.join(root, OPT[1:], "java"), out)
        with open(os.path.join(K.www, "app", "update.txt")) as f:
            md5 = f.read().strip()
        self.assertEqual(kit.requests(K.log)[mark:],
                         ["/app/libs.txt", "/app/update.txt", "/app/%s.pak" % md5])
        working = os.path.join(home, "Documents", A.product_word + "-" + PACKAGE)
        with open(os.path.join(K.www, "app", md5 + ".pak"), "rb") as f, \
                open(os.path.join(working, "main.jar"), "rb") as stored:
            self.assertEqual(stored.read(), f.read())
        self.assertTrue(os.path.exists(os.path.join(working, "t.log")))

    _root = None

    def root(self):
        """The package unpacked (dpkg -x), once."""
        if LinuxKit._root is None:
            root = os.path.join(K.work, "root")
            subprocess.run(["rm", "-rf", root], check=True)
            kit.run(["dpkg", "-x", K.deb, root])
            LinuxKit._root = root
        return LinuxKit._root


def main():
    global A
    p = argparse.ArgumentParser()
    p.add_argument("--cmake", required=True)
    p.add_argument("--source-dir", required=True)
    p.add_argument("--support-dir", required=True)
    p.add_argument("--jdk", required=True)
    p.add_argument("--publish", required=True)
    p.add_argument("--jar-key", required=True)
    p.add_argument("--product-word", required=True)
    p.add_argument("--work", required=True)
    A, rest = p.parse_known_args()
    result = unittest.main(argv=[sys.argv[0]] + rest, verbosity=2, exit=False).result
    sys.exit(0 if result.wasSuccessful() else 1)


if __name__ == "__main__":
    main()
