#!/usr/bin/env python3
"""The publish and log-reader programs run as a vendor runs them: arguments, output, exit
codes and the files they write (the Windows build under Wine)."""
import argparse
import hashlib
import os
import subprocess
import sys
import tempfile
import unittest

ARGS = None


def native(path):
    """A path as the program under test takes it."""
    if ARGS.wine:
        return "Z:" + os.path.abspath(path).replace("/", "\\")
    return path


def run(program, *args):
    cmd = list(ARGS.run) + [program] + list(args)
    p = subprocess.run(cmd, capture_output=True, timeout=120)
    return p.returncode, p.stdout.decode("utf-8", "replace"), p.stderr.decode("utf-8", "replace")


def jar_bytes(tag):
    return b"PK\x03\x04zobj/Run.class\0" + tag


class Publish(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = self.tmp.name
        self.jar = os.path.join(self.dir, "main.jar")
        with open(self.jar, "wb") as f:
            f.write(jar_bytes(b"v1"))
        self.libs = os.path.join(self.dir, "libs")
        os.mkdir(self.libs)
        with open(os.path.join(self.libs, "x.jar"), "wb") as f:
            f.write(b"library x")
        self.www = os.path.join(self.dir, "www")

    def tearDown(self):
        self.tmp.cleanup()

    def publish(self, *extra):
        return run(ARGS.publish, *extra, "--libs", native(self.libs), native(self.jar), native(self.www))

    def test_prints_the_config_line_and_writes_the_server_folder(self):
        code, out, err = self.publish()
        self.assertEqual(code, 0, err)
        server = ARGS.runtime_base_url[: -len("install/runtime/")]
        self.assertEqual(out, server + "app/main.jar\n")
        pak = bytes(b ^ ARGS.jar_key for b in jar_bytes(b"v1"))
        md5 = hashlib.md5(pak).hexdigest()
        with open(os.path.join(self.www, "app", "update.txt")) as f:
            self.assertEqual(f.read(), md5)
        with open(os.path.join(self.www, "app", md5 + ".pak"), "rb") as f:
            self.assertEqual(f.read(), pak)
        with open(os.path.join(self.www, "app", "libs.txt")) as f:
            self.assertEqual(f.read(), "lib/x.jar")
        with open(os.path.join(self.www, "install", "runtime", "lib", "x.jar"), "rb") as f:
            self.assertEqual(f.read(), b"library x")

    def test_second_publish_writes_nothing(self):
        self.assertEqual(self.publish()[0], 0)
        code, out, err = self.publish()
        self.assertEqual(code, 0, err)
        lines = [l for l in err.splitlines() if l.strip()]
        self.assertEqual(len(lines), 4, err)
        self.assertTrue(all(l.startswith("unchanged ") for l in lines), err)

    def test_options(self):
        code, out, err = self.publish("--folder", "games/chess", "--name", "chess.jar",
                                      "--server", "https://updates.example.com/")
        self.assertEqual(code, 0, err)
        self.assertEqual(out, "https://updates.example.com/games/chess/chess.jar\n")
        self.assertIn("warning", err)
        self.assertTrue(os.path.exists(os.path.join(self.www, "games", "chess", "update.txt")))

    def test_failures(self):
        code, out, err = run(ARGS.publish, native(self.jar))
        self.assertEqual((code, out), (2, ""))
        self.assertIn("usage: publish", err)
        code, out, err = run(ARGS.publish, "--bogus", native(self.jar), native(self.www))
        self.assertEqual(code, 2)
        code, out, err = run(ARGS.publish, native(self.jar + ".missing"), native(self.www))
        self.assertEqual((code, out), (1, ""))
        self.assertIn("publish: ", err)
        self.assertFalse(os.path.exists(self.www))


class LogReader(unittest.TestCase):
    LINES = [b"[2024-05-06 07:08:09]curr version: 2.3.0.0",
             b"[2024-05-06 07:08:09]FindClass zobj/Run failed\n",
             b"[2024-05-06 07:08:10]load jar success"]

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.log = os.path.join(self.tmp.name, "t.log")
        with open(self.log, "wb") as f:
            f.write(bytes(b ^ ARGS.log_key for b in b"".join(l + b"\r\n" for l in self.LINES)))

    def tearDown(self):
        self.tmp.cleanup()

    def test_prints_the_plain_lines(self):
        code, out, err = run(ARGS.log_reader, native(self.log))
        self.assertEqual((code, err), (0, ""))
        self.assertEqual(out.encode(), b"".join(l + b"\n" for l in self.LINES))

    def test_key_option(self):
        wrong = (ARGS.log_key ^ 0x21)
        code, out, err = run(ARGS.log_reader, "--key", "0x%02X" % wrong, native(self.log))
        self.assertEqual(code, 0)
        self.assertIn("key", err)
        code, out, err = run(ARGS.log_reader, "--key", str(ARGS.log_key), native(self.log))
        self.assertEqual((code, err), (0, ""))
        self.assertTrue(out.startswith("[2024-05-06 07:08:09]curr version"))
        self.assertEqual(run(ARGS.log_reader, "--key", "0x1FF", native(self.log))[0], 2)

    def test_missing_log(self):
        code, out, err = run(ARGS.log_reader, native(self.log + ".missing"))
        self.assertEqual((code, out), (1, ""))
        self.assertIn("log-reader: ", err)


def main():
    global ARGS
    p = argparse.ArgumentParser()
    p.add_argument("--run", action="append", default=[], help="runner words before the program")
    p.add_argument("--wine", action="store_true")
    p.add_argument("--publish", required=True)
    p.add_argument("--log-reader", required=True)
    p.add_argument("--runtime-base-url", required=True)
    p.add_argument("--log-key", type=lambda s: int(s, 0), required=True)
    p.add_argument("--jar-key", type=lambda s: int(s, 0), required=True)
    ARGS, rest = p.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
