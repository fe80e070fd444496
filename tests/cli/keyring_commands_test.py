#!/usr/bin/env python3
"""The programs' passwords in a real desktop keyring: a connection's passwords
go into the keyring and out of the store's files, `vaultwick passwords store`
and `keyring` move them out and back without losing one, and a backup while
the keyring is locked fails with that cause before it logs in.

usage: scripts/keyring run keyring_commands_test.py VAULTWICK KEYRING_SCRIPT TEST_CLASS
A locked keyring cannot be opened again without a person, so each class runs
under a keyring of its own.
"""
import os
import subprocess
import sys
import tempfile
import unittest

VAULTWICK, KEYRING = sys.argv[1:3]
LOGIN_PASSWORD = "pw-Shop-4dQz-never-in-the-file"


def vaultwick(store, *arguments, stdin="", env=None):
    return subprocess.run([VAULTWICK, *arguments, "--store", store], input=stdin, text=True,
                          capture_output=True, env=env)


def files_hold(store, secret):
    for path in (store, store + "-wal", store + "-shm"):
        if os.path.exists(path):
            with open(path, "rb") as file:
                if secret.encode() in file.read():
                    return True
    return False


class StoredConnection(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.store = os.path.join(self.folder.name, "settings.sqlite")
        self.run_ok("connections", "add", "Shop")
        self.run_ok("connections", "set", "Shop", "--host", "127.0.0.1:1", "--password-stdin",
                    stdin=LOGIN_PASSWORD + "\n")
        self.run_ok("connections", "set", "Shop", "--encrypt")
        self.archive_password = self.run_ok(
            "connections", "show", "Shop", "--reveal-archive-password").stdout.splitlines()[-1]

    def tearDown(self):
        self.folder.cleanup()

    def run_ok(self, *arguments, stdin=""):
        done = vaultwick(self.store, *arguments, stdin=stdin)
        self.assertEqual(done.returncode, 0, (arguments, done.stdout, done.stderr))
        return done

    def expect_place(self, place):
        shown = self.run_ok("passwords").stdout
        self.assertIn("Shop\t" + place + "\n", shown)
        revealed = self.run_ok("connections", "show", "Shop", "--reveal-archive-password").stdout
        self.assertIn(self.archive_password, revealed)
        in_file = place == "store"
        self.assertEqual(files_hold(self.store, LOGIN_PASSWORD), in_file)
        self.assertEqual(files_hold(self.store, self.archive_password), in_file)


class KeyringMovesTest(StoredConnection):
    def test_passwords_move_between_the_keyring_and_the_file_and_are_kept(self):
        self.assertIn("the desktop keyring is open", self.run_ok("passwords").stdout)
        self.expect_place("keyring")
        self.run_ok("passwords", "store")
        self.expect_place("store")
        self.run_ok("passwords", "keyring")
        self.expect_place("keyring")

        # A program without the session's bus cannot read them, and says why.
        alone = {k: v for k, v in os.environ.items()
                 if k not in ("DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR")}
        outside = vaultwick(self.store, "passwords", env=alone)
        self.assertEqual(outside.returncode, 1)
        self.assertIn("no desktop keyring is running", outside.stdout)


class LockedKeyringTest(StoredConnection):
    def test_a_locked_keyring_fails_the_run_with_that_cause(self):
        subprocess.run([KEYRING, "lock"], check=True)
        failed = vaultwick(self.store, "backup", "--connection", "Shop")
        self.assertNotEqual(failed.returncode, 0)
        history = self.run_ok("history", "Shop").stdout
        self.assertIn("the desktop keyring is locked", history)
        self.assertNotIn("Access denied", history)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1] + sys.argv[3:])
