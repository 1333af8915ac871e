#!/usr/bin/env python3
"""The vendor kit's settings as a vendor gets them wrong: each mistake stops the configure
with a message naming the setting, and what the kit cannot do without (the runtime, the
Config.ini line) stops only the installer or the package, not the build. Every case
configures a build folder of its own (no compiling, except where said)."""
import argparse
import os
import shutil
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kit_support as kit  # noqa: E402

A = None


def configure(name, settings, folder=None):
    folder = folder or os.path.join(A.work, name)
    cmd = [A.cmake, "--preset", A.preset, "-S", A.source_dir, "-B", folder, "-DBUILD_TESTING=OFF"]
    cmd += ["-D%s=%s" % item for item in settings.items()]
    return kit.run(cmd, cwd=A.source_dir, check=False) + (folder,)


class Settings(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        shutil.rmtree(A.work, ignore_errors=True)
        os.makedirs(A.work)
        cls.empty_dir = os.path.join(A.work, "empty-runtime")
        os.makedirs(os.path.join(cls.empty_dir, "bin"))
        os.makedirs(os.path.join(cls.empty_dir, "lib"))
        cls.not_a_root = os.path.join(A.work, "targets.json")
        with open(cls.not_a_root, "w") as f:
            f.write('{"signed": {"_type": "targets", "version": 1}, "signatures": []}')

    def test_wrong_settings_stop_the_configure(self):
        cases = [
            ("LAUNCHER_PRODUCT_NAME", "A/B", "Windows folder name"),
            ("LAUNCHER_PRODUCT_NAME", "App.", "Windows folder name"),
            ("LAUNCHER_PRODUCT_NAME", " App", "Windows folder name"),
            ("LAUNCHER_PRODUCT_NAME", "con", "Windows folder name"),
            ("LAUNCHER_PRODUCT_NAME", "", "Windows folder name"),
            ("LAUNCHER_PUBLISHER", 'A "B"', "one line"),
            ("LAUNCHER_INSTALLER_LANGUAGE", "fr", "zh_CN or en"),
            ("LAUNCHER_MAX_PACKAGE_BYTES", "2G", "number of bytes"),
            ("LAUNCHER_MAX_PACKAGE_BYTES", "0", "number of bytes"),
            ("LAUNCHER_CONFIG_URL", "http://host/app/", "full URL of the main jar"),
            ("LAUNCHER_CONFIG_URL", "host/app/main.jar", "full URL of the main jar"),
            ("LAUNCHER_CONFIG_URL", "http://host/a b.jar", "full URL of the main jar"),
            ("LAUNCHER_UPDATE_ROOT", os.path.join(A.work, "none.json"), "no file"),
            ("LAUNCHER_UPDATE_ROOT", self.not_a_root, "no TUF root metadata"),
            ("LAUNCHER_UPDATE_PUBLIC_KEY", "p256:" + "ab" * 64, "replaced by LAUNCHER_UPDATE_ROOT"),
        ]
        if A.preset == "windows":
            cases += [
                ("LAUNCHER_WINDOWS_RUNTIME_DIR", self.empty_dir, "bin/server/jvm.dll or bin/client/jvm.dll"),
                ("LAUNCHER_SIGN_PKCS12", os.path.join(A.work, "none.p12"), "no certificate file"),
                ("LAUNCHER_SIGN_TIMESTAMP_URL", "ftp://timestamp.example", "http(s) URL"),
            ]
        else:
            cases += [
                ("LAUNCHER_LINUX_RUNTIME_DIR", self.empty_dir, "lib/server/libjvm.so"),
                ("LAUNCHER_LINUX_RUNTIME_MODULES", "java.base java.desktop", "separated by commas"),
            ]
        for i, (name, value, message) in enumerate(cases):
            with self.subTest(name=name, value=value):
                code, out, folder = configure("wrong-%d" % i, {name: value})
                self.assertNotEqual(code, 0, out)
                text = " ".join(out.split())  # CMake wraps its messages
                self.assertIn(name, text)
                self.assertIn(message, text)
                shutil.rmtree(folder, ignore_errors=True)

    def test_update_root_is_built_in_byte_for_byte(self):
        root = os.path.join(A.work, "root.json")
        text = '{"signed": {"_type": "root", "version": 3, "x": "\u00e9 \\"quoted\\"\\n"},\r\n "signatures": []}'
        with open(root, "w", encoding="utf-8", newline="") as f:
            f.write(text)
        code, out, folder = configure("root", {"LAUNCHER_UPDATE_ROOT": root})
        self.assertEqual(code, 0, out)
        self.assertIn("Signed updates: on, root version 3", out)
        with open(os.path.join(folder, "generated", "branding.h"), encoding="utf-8") as f:
            header = f.read()
        line = next(l for l in header.splitlines() if "kUpdateRoot[]" in l)
        embedded = bytes(int(b, 16) for b in line.split("{", 1)[1].split("}", 1)[0].split(","))
        with open(root, "rb") as f:
            self.assertEqual(embedded, f.read() + b"\0")
        self.assertIn("kUpdateRootSize = %d;" % os.path.getsize(root), header)
        shutil.rmtree(folder, ignore_errors=True)

    def test_without_runtime_and_config_line_only_the_kit_target_fails(self):
        code, out, folder = configure("no-kit", {})
        self.assertEqual(code, 0, out)
        if A.preset == "windows":
            self.assertEqual(out.count("Code signing: off"), 1, out)
            # Said once: a second configure of the folder keeps quiet about it.
            code, again, _ = configure("no-kit", {}, folder)
            self.assertEqual(code, 0, again)
            self.assertNotIn("Code signing", again)
            code, out = kit.run([A.cmake, "--build", folder, "--target", "installer"], check=False)
            self.assertNotEqual(code, 0, out)
            self.assertIn("LAUNCHER_WINDOWS_RUNTIME_DIR", out)
            self.assertIn("LAUNCHER_CONFIG_URL", out)
            # It failed before building anything (CMakeFiles holds the compiler checks).
            built = [f for d, _, files in os.walk(folder) for f in files
                     if f.endswith((".exe", ".obj"))
                     and os.path.relpath(d, folder).split(os.sep)[0] != "CMakeFiles"]
            self.assertEqual(built, [])
        else:
            # The package's install step stops before it copies anything.
            prefix = os.path.join(A.work, "no-kit-install")
            code, out = kit.run([A.cmake, "--install", folder, "--prefix", prefix], check=False)
            self.assertNotEqual(code, 0, out)
            self.assertIn("LAUNCHER_CONFIG_URL is not set", out)
            self.assertFalse(os.path.exists(prefix) and os.listdir(prefix), "something was installed")
        shutil.rmtree(folder, ignore_errors=True)

    def test_package_name_of_a_product_name_debian_cannot_spell(self):
        if A.preset != "linux":
            self.skipTest("the package name is the Linux package's")
        for product, package in (("Kit Test App", "kit-test-app"), ("测试软件", A.product_word.lower())):
            with self.subTest(product):
                code, out, folder = configure("name", {"LAUNCHER_PRODUCT_NAME": product,
                                                       "LAUNCHER_CONFIG_URL": "http://h/app/main.jar"})
                self.assertEqual(code, 0, out)
                with open(os.path.join(folder, "CPackConfig.cmake"), encoding="utf-8") as f:
                    config = f.read()
                self.assertIn('set(CPACK_PACKAGE_NAME "%s")' % package, config)
                # A publisher given as a plain name still makes a maintainer Debian takes.
                self.assertRegex(config, r'set\(CPACK_DEBIAN_PACKAGE_MAINTAINER "Launcher <[^<>@ ]+@[^<>@ ]+\.[a-z]+>"\)')
                with open(os.path.join(folder, "packaging", package + ".desktop"), encoding="utf-8") as f:
                    entry = f.read()
                self.assertIn("Name=%s\n" % product, entry)
                self.assertIn("Exec=/opt/%s/launcher\n" % package, entry)
                shutil.rmtree(folder, ignore_errors=True)


def main():
    global A
    p = argparse.ArgumentParser()
    p.add_argument("--cmake", required=True)
    p.add_argument("--source-dir", required=True)
    p.add_argument("--preset", choices=["linux", "windows"], required=True)
    p.add_argument("--product-word", required=True)
    p.add_argument("--work", required=True)
    A, rest = p.parse_known_args()
    result = unittest.main(argv=[sys.argv[0]] + rest, verbosity=2, exit=False).result
    sys.exit(0 if result.wasSuccessful() else 1)


if __name__ == "__main__":
    main()
