#!/usr/bin/env python3
"""The Windows vendor kit as a vendor makes and a customer uses it, under Wine.

A build folder of its own is configured with a product name, a version, the Config.ini line,
a Windows runtime folder and a code-signing certificate made here (a test CA and a leaf
certificate in a password-protected PKCS#12), and built: first without the password (which
must fail and say so), then with it; then the "installer" target. No Windows Java runtime
exists here, so the runtime folder holds the TEST DOUBLE jvm.dll as bin\\client\\jvm.dll.

The installer is then installed silently into a fresh Wine prefix of this test's own,
the installed Launcher.exe runs against the suite's web server up to the Java launch (which
the double records), and the uninstaller registered in Add/Remove Programs removes it all
again but the user's working folder under Documents. The cases run in the order of their
names, on that one installation.

Wine runs with its desktop integration (winemenubuilder) off and with a HOME of its own, so
that shortcuts never reach the real desktop.
"""
import argparse
import filecmp
import getpass
import os
import shutil
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kit_support as kit  # noqa: E402

A = None
K = None  # what setUpModule made

PRODUCT = "测试软件 Kit"     # a Chinese name with a space, as vendors name their products
PUBLISHER = "Kit Publisher"
VERSION = "2.3.1.7"
PASSWORD = "kit sign $HOME 'pw'"  # with what a shell or a build file would mangle
UNINSTALL_KEY = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + PRODUCT


class State:
    pass


def wine_env(display=None):
    env = dict(os.environ, WINEPREFIX=K.prefix, WINEDEBUG="-all", LC_ALL="zh_CN.UTF-8",
               WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d;winemenubuilder.exe=d",
               HOME=K.home, XDG_DATA_HOME=os.path.join(K.home, ".local", "share"),
               XDG_CONFIG_HOME=os.path.join(K.home, ".config"))
    env.pop("XAUTHORITY", None)
    if display:
        env["DISPLAY"] = display
    else:
        env.pop("DISPLAY", None)
    return env


def wine(*args, display=None, check=True, timeout=300, stdout_only=False):
    return kit.run(["wine"] + list(args), env=wine_env(display), cwd=K.work, check=check,
                   timeout=timeout, stdout_only=stdout_only)


def unix(windows_path):
    """The file of the prefix behind a C:\\ path."""
    assert windows_path[:3].upper() == "C:\\", windows_path
    return os.path.join(K.prefix, "drive_c", *windows_path[3:].split("\\"))


def z_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def reg_query(key):
    """The values of a registry key as {name: (type, data)}, or None when there is no key."""
    p = subprocess.run(["wine", "reg", "query", key], env=wine_env(), capture_output=True,
                       stdin=subprocess.DEVNULL, timeout=120)
    if p.returncode != 0:
        return None
    values = {}
    # reg.exe writes to a pipe in the console code page: 936 in this prefix.
    for line in p.stdout.decode("gbk").splitlines():
        parts = line.strip().split("    ")
        if len(parts) == 3 and parts[1].startswith("REG_"):
            values[parts[0]] = (parts[1], parts[2])
    return values


def drive_c_listing():
    """Every file and folder of drive C: outside C:\\windows, as relative paths."""
    root = os.path.join(K.prefix, "drive_c")
    found = set()
    for folder, dirs, files in os.walk(root):
        rel = os.path.relpath(folder, root)
        if rel == "windows":
            dirs[:] = []
            continue
        for name in dirs + files:
            found.add(os.path.normpath(os.path.join(rel, name)))
    return found


def prefix_processes(*words):
    """Command lines of this prefix's Wine processes that mention one of the words."""
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/environ" % pid, "rb") as f:
                if b"WINEPREFIX=" + K.prefix.encode() + b"\0" not in f.read():
                    continue
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                cmdline = f.read().decode("utf-8", "replace")
        except OSError:
            continue
        if any(w in cmdline for w in words):
            found.append(cmdline)
    return found


def make_certificates(folder):
    """A test CA, a code-signing certificate it issued (in a PKCS#12 with PASSWORD) and an
    unrelated CA."""
    os.makedirs(folder)
    ssl = lambda *args: kit.run(["openssl"] + list(args), cwd=folder)
    ssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=Kit Test CA",
        "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign",
        "-keyout", "ca.key", "-out", "ca.pem")
    ssl("req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=Kit Test Publisher",
        "-keyout", "sign.key", "-out", "sign.csr")
    with open(os.path.join(folder, "sign.ext"), "w") as f:
        f.write("basicConstraints=critical,CA:FALSE\nkeyUsage=critical,digitalSignature\n"
                "extendedKeyUsage=codeSigning\n")
    ssl("x509", "-req", "-in", "sign.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial",
        "-days", "2", "-extfile", "sign.ext", "-out", "sign.pem")
    ssl("pkcs12", "-export", "-inkey", "sign.key", "-in", "sign.pem", "-certfile", "ca.pem",
        "-name", "Kit Test Publisher", "-passout", "pass:" + PASSWORD, "-out", "sign.p12")
    ssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=Other CA",
        "-keyout", "other.key", "-out", "other.pem")
    return (os.path.join(folder, "sign.p12"), os.path.join(folder, "ca.pem"),
            os.path.join(folder, "other.pem"))


def setUpModule():
    global K
    K = State()
    K.work = os.path.abspath(A.work)
    old_prefix = os.path.join(K.work, "wineprefix")
    if os.path.isdir(old_prefix):  # a wineserver of an earlier run may still hold it
        subprocess.run(["wineserver", "-k"], env=dict(os.environ, WINEPREFIX=old_prefix),
                       capture_output=True)
    shutil.rmtree(K.work, ignore_errors=True)
    os.makedirs(K.work)
    K.prefix = os.path.join(K.work, "wineprefix")
    K.home = os.path.join(K.work, "home")
    os.makedirs(K.home)
    K.p12, K.ca, K.other_ca = make_certificates(os.path.join(K.work, "certificates"))

    # The vendor's runtime folder: the double as the client VM, plus what a real runtime has
    # around it, in folders of several levels.
    K.runtime = os.path.join(K.work, "runtime")
    os.makedirs(os.path.join(K.runtime, "bin", "client"))
    os.makedirs(os.path.join(K.runtime, "lib", "security"))
    shutil.copy2(A.jvm_double, os.path.join(K.runtime, "bin", "client", "jvm.dll"))
    with open(os.path.join(K.runtime, "release"), "w") as f:
        f.write('JAVA_VERSION="17"\n')
    with open(os.path.join(K.runtime, "lib", "security", "java.policy"), "w") as f:
        f.write("grant {};\n")

    prefix_env = dict(os.environ, HOME=K.home)
    kit.run([os.path.join(A.support_dir, "wine-prefix"), "start", K.prefix], env=prefix_env,
            timeout=300)
    K.user = getpass.getuser()
    K.documents = os.path.join(K.prefix, "drive_c", "users", K.user, "Documents")

    K.www = os.path.join(K.work, "www")
    K.log = os.path.join(K.work, "requests.log")
    K.server, port = kit.start_server(A.support_dir, K.www, K.log)
    jar = kit.build_app(A.jdk, os.path.join(K.work, "app"))
    K.config_line = wine(A.publish, "--folder", "app", "--name", "main.jar", "--server",
                         "http://127.0.0.1:%d/" % port, z_path(jar), z_path(K.www),
                         stdout_only=True)[1].strip()
    with open(os.path.join(K.www, "app", "update.txt")) as f:
        K.md5 = f.read().strip()

    K.build = kit.KitBuild(A.cmake, A.source_dir, os.path.join(K.work, "build"), "windows", {
        "LAUNCHER_PRODUCT_NAME": PRODUCT,
        "LAUNCHER_PUBLISHER": PUBLISHER,
        "LAUNCHER_VERSION": VERSION,
        "LAUNCHER_CONFIG_URL": K.config_line,
        "LAUNCHER_RUNTIME_BASE_URL": "http://127.0.0.1:%d/install/runtime/" % port,
        "LAUNCHER_WINDOWS_RUNTIME_DIR": K.runtime,
        "LAUNCHER_SIGN_PKCS12": K.p12,
        "LAUNCHER_JAR_KEY": A.jar_key,
        "LAUNCHER_PRODUCT_WORD": A.product_word,
    })
    without = dict(os.environ)
    without.pop("LAUNCHER_SIGN_PASSWORD", None)
    K.unsigned_build = K.build.build(env=without, check=False)
    with_password = dict(os.environ, LAUNCHER_SIGN_PASSWORD=PASSWORD)
    K.build.build(env=with_password)
    K.setup_before_installer_target = [f for f in os.listdir(K.build.folder)
                                       if f.endswith("setup.exe")]
    K.build.build("installer", env=with_password)
    K.setup = os.path.join(K.build.folder, "%s-%s-setup.exe" % (PRODUCT, VERSION))
    settings = os.path.join(K.build.folder, "packaging", "installer-settings.cmake")
    with open(settings, encoding="utf-8") as f:
        K.launcher = next(line.split('"')[1] for line in f if line.startswith("set(LAUNCHER_EXE "))

    K.install_dir = "C:\\Program Files\\" + PRODUCT
    K.working = os.path.join(K.documents, A.product_word + "-" + PRODUCT)
    K.before_install = drive_c_listing()


def tearDownModule():
    if K is None:
        return
    if getattr(K, "server", None):
        K.server.shutdown()
        K.server.server_close()
    if os.path.isdir(getattr(K, "prefix", "")):
        kit.run([os.path.join(A.support_dir, "wine-prefix"), "stop", K.prefix], check=False)


def verify(path, ca):
    return kit.run(["osslsigncode", "verify", "-CAfile", ca, "-in", path], check=False)


class WindowsKit(unittest.TestCase):
    def test_1_build_asks_for_the_password_and_keeps_it_out_of_the_build_folder(self):
        code, out = K.unsigned_build
        self.assertNotEqual(code, 0, "a signing build without LAUNCHER_SIGN_PASSWORD succeeded")
        self.assertIn("LAUNCHER_SIGN_PASSWORD", out)
        self.assertEqual(K.setup_before_installer_target, [], "the normal build made the installer")
        leaked = []
        for folder, _, files in os.walk(K.build.folder):
            for name in files:
                path = os.path.join(folder, name)
                if os.path.getsize(path) < 50 * 1024 * 1024:
                    with open(path, "rb") as f:
                        if PASSWORD.encode() in f.read():
                            leaked.append(path)
        self.assertEqual(leaked, [])
        self.assertIn("Code signing: Launcher.exe and the installer are signed", K.build.configure_output)

    def test_2_signatures_are_sha256_from_the_vendor_certificate(self):
        for path in (K.launcher, K.setup):
            with self.subTest(os.path.basename(path)):
                code, out = verify(path, K.ca)
                self.assertEqual(code, 0, out)
                self.assertIn("Signature verification: ok", out)
                self.assertRegex(out, r"Message digest algorithm\s*:\s*SHA256")
                self.assertIn("Kit Test Publisher", out)
                code, out = verify(path, K.other_ca)
                self.assertNotEqual(code, 0, "verified against a CA that did not issue the certificate")
        if A.unsigned_launcher:
            # The suite's own build has no certificate: nothing in it is signed.
            code, out = verify(A.unsigned_launcher, K.ca)
            self.assertNotEqual(code, 0, out)

    def test_2_signed_launcher_keeps_its_version_resource(self):
        fixed, strings, _ = kit.version_resource(K.launcher)
        self.assertEqual(fixed, tuple(int(n) for n in VERSION.split(".")))
        self.assertEqual(strings.get("FileVersion"), VERSION)
        self.assertEqual(strings.get("OriginalFilename"), "Launcher.exe")
        fixed, strings, tables = kit.version_resource(K.setup)
        self.assertEqual(fixed, tuple(int(n) for n in VERSION.split(".")))
        self.assertEqual([t[:4] for t in tables], ["0804"])  # Simplified Chinese by default
        self.assertEqual(strings.get("ProductName"), PRODUCT)
        self.assertEqual(strings.get("CompanyName"), PUBLISHER)
        self.assertEqual(strings.get("FileDescription"), PRODUCT + " 安装程序")

    def test_3_silent_install_lays_out_the_installation(self):
        code, out = wine(K.setup, "/S")
        self.assertEqual(code, 0, out)
        inst = unix(K.install_dir)
        self.assertTrue(filecmp.cmp(os.path.join(inst, "Launcher.exe"), K.launcher, shallow=False))
        with open(os.path.join(inst, "Config.ini"), "rb") as f:
            self.assertEqual(f.read(), K.config_line.encode() + b"\r\n")
        for rel in (("bin", "client", "jvm.dll"), ("release",), ("lib", "security", "java.policy")):
            self.assertTrue(filecmp.cmp(os.path.join(inst, "java", *rel),
                                        os.path.join(K.runtime, *rel), shallow=False), rel)
        self.assertEqual(sorted(os.listdir(inst)), ["Config.ini", "Launcher.exe", "Uninstall.exe", "java"])
        code, out = verify(os.path.join(inst, "Uninstall.exe"), K.ca)
        self.assertEqual(code, 0, "the uninstaller is not signed: " + out)

    def test_4_shortcuts_in_the_start_menu_and_on_the_desktop(self):
        exe = K.install_dir + "\\Launcher.exe"
        for folder in ("C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs",
                       "C:\\users\\Public\\Desktop"):
            with self.subTest(folder):
                link = kit.read_shortcut(unix(folder + "\\" + PRODUCT + ".lnk"))
                self.assertEqual(link.get("target"), exe)
                self.assertEqual(link.get("working_dir"), K.install_dir)
                self.assertEqual((link.get("icon"), link.get("icon_index")), (exe, 0))

    def test_5_add_remove_programs_entry(self):
        values = reg_query(UNINSTALL_KEY)
        self.assertIsNotNone(values, "no uninstall entry")
        uninstaller = '"%s\\Uninstall.exe"' % K.install_dir
        expected = {
            "DisplayName": PRODUCT,
            "DisplayVersion": VERSION,
            "Publisher": PUBLISHER,
            "UninstallString": uninstaller,
            "QuietUninstallString": uninstaller + " /S",
            "DisplayIcon": K.install_dir + "\\Launcher.exe,0",
            "InstallLocation": K.install_dir,
        }
        self.assertEqual({k: values.get(k, (None, None))[1] for k in expected}, expected)
        self.assertEqual(values["EstimatedSize"][0], "REG_DWORD")

    def test_6_installed_launcher_updates_and_reaches_the_java_launch(self):
        display = kit.Xvfb(A.display).start()
        try:
            mark = len(kit.requests(K.log))
            code, out = wine(K.install_dir + "\\Launcher.exe", display=display.display, check=False,
                             timeout=180)
        finally:
            display.stop()
        self.assertEqual(code, 0, out)
        self.assertEqual([l for l in out.splitlines() if l.startswith("[")], [], "message boxes")
        self.assertEqual(kit.requests(K.log)[mark:],
                         ["/app/libs.txt", "/app/update.txt", "/app/%s.pak" % K.md5])
        with open(os.path.join(K.www, "app", K.md5 + ".pak"), "rb") as f:
            pak = f.read()
        with open(os.path.join(K.working, "main.jar"), "rb") as f:
            self.assertEqual(f.read(), pak)
        # The stand-in jvm.dll of the installed runtime recorded the launch.
        # (UTF-8 lines, but the VM options as given: in the ANSI code page.)
        with open(os.path.join(K.working, "jvm-test-double.log"), encoding="utf-8",
                  errors="replace") as f:
            record = f.read().splitlines()
        self.assertIn("CallStaticVoidMethod zobj/Run.runWithPath %s\\Launcher.exe" % K.install_dir,
                      record)
        self.assertTrue(os.path.exists(os.path.join(K.working, "t.log")))
        K.working_after_launch = {name: os.path.getmtime(os.path.join(K.working, name))
                                  for name in os.listdir(K.working)}

    def test_7_silent_uninstall_leaves_only_the_working_folder(self):
        values = reg_query(UNINSTALL_KEY)
        self.assertIsNotNone(values, "no uninstall entry")
        # As Add/Remove Programs does: the registered command, silently. The uninstaller
        # goes on from a copy of itself in the temporary folder and the first one returns.
        command = values["UninstallString"][1]
        self.assertTrue(command.startswith('"') and command.endswith('"'), command)
        code, out = wine(command.strip('"'), "/S")
        self.assertEqual(code, 0, out)
        kit.wait_until(lambda: not prefix_processes("~nsu", "Uninstall.exe"), 120,
                       "the end of the uninstaller")
        self.assertIsNone(reg_query(UNINSTALL_KEY), "the uninstall entry is still there")

        left = drive_c_listing() - K.before_install
        working = os.path.relpath(K.working, os.path.join(K.prefix, "drive_c"))
        user = os.path.join("users", K.user)
        # The system's own: the uninstaller's copy in the temporary folder (Windows removes
        # it at the next start) and WinINet's cache of the launcher's downloads.
        system = (os.path.join(user, "Temp"), os.path.join(user, "AppData", "Local", "Microsoft"))
        self.assertEqual(sorted(p for p in left if not p.startswith(system)),
                         sorted(p for p in left if p == working or p.startswith(working + os.sep)))
        # The user's files there are as the launcher left them.
        self.assertEqual({name: os.path.getmtime(os.path.join(K.working, name))
                          for name in os.listdir(K.working)}, K.working_after_launch)
        gone = [p for p in K.before_install - drive_c_listing()]
        self.assertEqual(gone, [], "the uninstaller removed what it had not installed")

    def test_8_english_installer(self):
        kit.run([A.cmake, "-DLAUNCHER_INSTALLER_LANGUAGE=en", K.build.folder])
        K.build.build("installer", env=dict(os.environ, LAUNCHER_SIGN_PASSWORD=PASSWORD))
        _, strings, tables = kit.version_resource(K.setup)
        self.assertEqual(([t[:4] for t in tables], strings.get("FileDescription")),
                         (["0409"], PRODUCT + " Setup"))  # English (United States)


def main():
    global A
    p = argparse.ArgumentParser()
    p.add_argument("--cmake", required=True)
    p.add_argument("--source-dir", required=True)
    p.add_argument("--support-dir", required=True)
    p.add_argument("--jdk", required=True)
    p.add_argument("--publish", required=True)
    p.add_argument("--jvm-double", required=True)
    p.add_argument("--jar-key", required=True)
    p.add_argument("--product-word", required=True)
    p.add_argument("--display", type=int, required=True)
    p.add_argument("--work", required=True)
    p.add_argument("--unsigned-launcher")
    A, rest = p.parse_known_args()
    result = unittest.main(argv=[sys.argv[0]] + rest, verbosity=2, exit=False).result
    sys.exit(0 if result.wasSuccessful() else 1)


if __name__ == "__main__":
    main()
