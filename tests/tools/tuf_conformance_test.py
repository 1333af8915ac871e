#!/usr/bin/env python3
"""What `publish` writes is valid TUF, as judged by a TUF client the project did not write:
tuf-js (npm), fetching over HTTP from the suite's own server on 127.0.0.1, refreshes the
metadata and downloads every target; after later releases, --refresh and --rotate-keys a
client that keeps its trusted metadata follows, one started from the old root too. The
publish tool runs as a vendor runs it (the Windows build under Wine; the checks run on
Linux either way)."""
import argparse
import hashlib
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

ARGS = None
ROLES = ("root", "targets", "snapshot", "timestamp")


def native(path):
    """A path as the program under test takes it."""
    if ARGS.wine:
        return "Z:" + os.path.abspath(path).replace("/", "\\")
    return path


def jar_bytes(tag):
    return b"PK\x03\x04zobj/Run.class\0" + tag


def scrambled(data):
    return bytes(b ^ ARGS.jar_key for b in data)


def sha256(data):
    return hashlib.sha256(data).hexdigest()


class Server:
    """The suite's web server (support/http_server.py) on a folder, for one test."""

    def __init__(self, root, log):
        self.proc = subprocess.Popen([sys.executable, ARGS.http_server, root, log], stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL, text=True)
        line = self.proc.stdout.readline().split()
        assert line and line[0] == "PORT", line
        self.url = "http://127.0.0.1:%s/" % line[1]

    def stop(self):
        self.proc.terminate()
        self.proc.wait(timeout=30)


class Vendor(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = self.tmp.name
        self.www = os.path.join(self.dir, "www")
        os.mkdir(self.www)
        self.jar = os.path.join(self.dir, "main.jar")
        self.libs = os.path.join(self.dir, "libs")
        os.mkdir(self.libs)
        self.write(os.path.join(self.libs, "b.jar"), b"library b")
        self.write(os.path.join(self.libs, "a.jar"), b"library a")
        self.server = Server(self.www, os.path.join(self.dir, "requests.log"))

    def tearDown(self):
        self.server.stop()
        self.tmp.cleanup()

    @staticmethod
    def write(path, data):
        with open(path, "wb") as f:
            f.write(data)

    @staticmethod
    def read(path):
        with open(path, "rb") as f:
            return f.read()

    def publish(self, *args, expect=0):
        cmd = list(ARGS.run) + [ARGS.publish] + list(args)
        p = subprocess.run(cmd, capture_output=True, timeout=120)
        err = p.stderr.decode("utf-8", "replace")
        self.assertEqual(p.returncode, expect, err)
        return p.stdout.decode(), err

    def new_keys(self, name, *extra):
        folder = os.path.join(self.dir, name)
        self.publish("--new-keys", native(folder), *extra)
        return folder

    def release(self, tag, *key_folders):
        self.write(self.jar, jar_bytes(tag))
        keys = [a for k in key_folders for a in ("--keys", native(k))]
        self.publish(*keys, "--libs", native(self.libs), native(self.jar), native(self.www))

    def client(self, store, root=None, expect_ok=True):
        """Runs tuf-js with the trusted metadata in `store` (started from `root` when new)."""
        if root is not None:
            os.makedirs(store)
            shutil.copy(root, os.path.join(store, "root.json"))
        downloads = store + "-downloads"
        shutil.rmtree(downloads, ignore_errors=True)
        env = dict(os.environ, NODE_PATH=os.path.join(ARGS.oracle, "node_modules"))
        p = subprocess.run(["node", ARGS.client, store, self.server.url + "app/tuf/",
                            self.server.url + "app/tuf/targets/", downloads],
                           capture_output=True, text=True, timeout=120, env=env)
        result = json.loads(p.stdout) if p.stdout.strip() else {"ok": False, "error": p.stderr}
        self.assertEqual(result["ok"], expect_ok, result)
        return result

    def assert_release(self, result, tag):
        """tuf-js downloaded the package of `tag` and both libraries, in class-path order."""
        targets = result["targets"]
        self.assertEqual(sorted(targets), ["libs/lib/a.jar", "libs/lib/b.jar", "main.jar"])
        for path, data in (("main.jar", scrambled(jar_bytes(tag))), ("libs/lib/a.jar", b"library a"),
                           ("libs/lib/b.jar", b"library b")):
            self.assertEqual(self.read(targets[path]["file"]), data, path)
        self.assertEqual(targets["libs/lib/a.jar"]["custom"], {"class_path_index": 0})
        self.assertEqual(targets["libs/lib/b.jar"]["custom"], {"class_path_index": 1})
        # The package is the one unsigned launchers get as <md5>.pak.
        md5 = self.read(os.path.join(self.www, "app", "update.txt")).decode()
        self.assertEqual(self.read(targets["main.jar"]["file"]),
                         self.read(os.path.join(self.www, "app", md5 + ".pak")))

    def test_releases_refreshes_and_a_rotation_one_client_follows(self):
        keys = self.new_keys("keys")
        first_root = os.path.join(keys, "root.json")
        store = os.path.join(self.dir, "client")

        self.release(b"v1", keys)
        result = self.client(store, root=first_root)
        self.assertEqual(result["versions"], {"root": 1, "timestamp": 1, "snapshot": 1, "targets": 1})
        self.assert_release(result, b"v1")

        self.release(b"v2", keys)
        result = self.client(store)
        self.assertEqual(result["versions"], {"root": 1, "timestamp": 2, "snapshot": 2, "targets": 2})
        self.assert_release(result, b"v2")

        self.publish("--refresh", "--keys", native(keys), native(self.www))
        result = self.client(store)
        self.assertEqual(result["versions"], {"root": 1, "timestamp": 3, "snapshot": 3, "targets": 2})
        self.assert_release(result, b"v2")

        # Every key replaced: the client that trusts root 1 follows to root 2.
        new = self.new_keys("new")
        self.publish("--rotate-keys", native(new), "--keys", native(keys), native(self.www))
        result = self.client(store)
        self.assertEqual(result["versions"], {"root": 2, "timestamp": 4, "snapshot": 4, "targets": 3})
        self.assert_release(result, b"v2")

        self.release(b"v3", new)
        self.assert_release(self.client(store), b"v3")
        # So does a client that starts afresh from root 1, and one built with the new root.
        self.assert_release(self.client(os.path.join(self.dir, "fresh"), root=first_root), b"v3")
        self.assert_release(self.client(os.path.join(self.dir, "new-client"), root=os.path.join(new, "root.json")),
                            b"v3")

    def test_thresholds_and_separate_online_and_offline_folders(self):
        made = self.new_keys("made", "--threshold", "root=2", "--key-count", "root=3", "--threshold", "targets=2")
        offline, online = os.path.join(self.dir, "offline"), os.path.join(self.dir, "online")
        os.mkdir(offline)
        os.mkdir(online)
        for name in ("root.pem", "root-2.pem", "root-3.pem", "targets.pem", "targets-2.pem", "root.json"):
            shutil.copy(os.path.join(made, name), offline)
        for name in ("snapshot.pem", "timestamp.pem", "root.json"):
            shutil.copy(os.path.join(made, name), online)
        root = os.path.join(made, "root.json")
        document = json.loads(self.read(root))
        self.assertEqual(document["signed"]["roles"]["root"]["threshold"], 2)
        self.assertEqual(len(document["signed"]["roles"]["root"]["keyids"]), 3)
        self.assertEqual(len(document["signatures"]), 3)

        self.release(b"v1", offline, online)
        store = os.path.join(self.dir, "client")
        self.assert_release(self.client(store, root=root), b"v1")
        # The timer job with the online keys only.
        self.publish("--refresh", "--keys", native(online), native(self.www))
        self.assertEqual(self.client(store)["versions"]["snapshot"], 2)

        # Two of the three root keys rotate a new timestamp key in.
        os.remove(os.path.join(offline, "root-3.pem"))
        fresh = self.new_keys("fresh", "--role", "timestamp")
        self.publish("--rotate-keys", native(fresh), "--keys", native(offline), "--keys", native(online),
                     native(self.www))
        shutil.copy(os.path.join(fresh, "timestamp.pem"), online)  # replaces the old key there
        self.release(b"v2", offline, online)
        result = self.client(store)
        self.assertEqual(result["versions"]["root"], 2)
        self.assert_release(result, b"v2")
        self.assert_release(self.client(os.path.join(self.dir, "fresh-client"), root=root), b"v2")

    def test_a_leaked_timestamp_key_is_recovered_by_rotating_it(self):
        keys = self.new_keys("keys")
        store = os.path.join(self.dir, "client")
        self.release(b"v1", keys)
        self.assert_release(self.client(store, root=os.path.join(keys, "root.json")), b"v1")

        # Whoever holds the timestamp key signs a far-future version, and a client takes it.
        timestamp = os.path.join(self.www, "app", "tuf", "timestamp.json")
        genuine = self.read(timestamp)
        env = dict(os.environ, NODE_PATH=os.path.join(ARGS.oracle, "node_modules"))
        subprocess.run(["node", ARGS.resign, timestamp, timestamp, os.path.join(keys, "timestamp.pem"),
                        "999999999"], check=True, env=env, timeout=60)
        self.assertEqual(self.client(store)["versions"]["timestamp"], 999999999)
        self.write(timestamp, genuine)

        # Now every release of the vendor is a rollback to that client...
        self.release(b"v2", keys)
        refused = self.client(store, expect_ok=False)
        self.assertIn("999999999", refused["error"])
        # ...until the timestamp key is rotated: the new root makes it drop the forged one.
        fresh = self.new_keys("fresh", "--role", "timestamp")
        self.publish("--rotate-keys", native(fresh), "--keys", native(keys), native(self.www))
        result = self.client(store)
        self.assertEqual(result["versions"]["root"], 2)
        self.assert_release(result, b"v2")
        self.release(b"v3", keys, fresh)
        self.assert_release(self.client(store), b"v3")


def main():
    global ARGS
    p = argparse.ArgumentParser()
    p.add_argument("--run", action="append", default=[], help="runner words before the program")
    p.add_argument("--wine", action="store_true")
    p.add_argument("--publish", required=True)
    p.add_argument("--jar-key", type=lambda s: int(s, 0), required=True)
    p.add_argument("--oracle", required=True, help="the folder holding the oracle's node_modules")
    p.add_argument("--client", required=True, help="tuf-oracle/client.js")
    p.add_argument("--resign", required=True, help="tuf-oracle/resign.js")
    p.add_argument("--http-server", required=True, help="support/http_server.py")
    ARGS, rest = p.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
