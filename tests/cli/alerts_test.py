#!/usr/bin/env python3
"""Alerts as a service and a script get them: a webhook receiver on a
loopback port gets exactly the alerts the runs call for (a failure, the
recovery after it, a stale connection once; nothing for a good run when only
failures are told) with every fact in its JSON; a command gets the facts in
its environment; and a receiver that never answers keeps no backup past the
alerts' time limit.

usage: alerts_test.py VAULTWICK   (VAULTWICK_TEST_DB_* name the server)
"""
import datetime
import http.server
import json
import os
import socket
import subprocess
import sys
import tempfile
import threading
import unittest

import cli_support
from cli_support import NOBODY_ADDRESS, SERVER_ADDRESS, make_database, sql, store_connection, \
    vaultwick

cli_support.VAULTWICK = sys.argv[1]


class Receiver:
    """An incoming-webhook endpoint that keeps what it was sent."""

    def __init__(self):
        received = self.received = []
        arrived = self.arrived = threading.Condition()

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_POST(self):
                body = self.rfile.read(int(self.headers["Content-Length"]))
                with arrived:
                    received.append((dict(self.headers), json.loads(body)))
                    arrived.notify_all()
                self.send_response(204)
                self.end_headers()

            def log_message(self, *arguments):
                pass

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.url = f"http://127.0.0.1:{self.server.server_address[1]}/hook"
        self.thread = threading.Thread(target=self.server.serve_forever)
        self.thread.start()

    def alerts(self):
        with self.arrived:
            return [(alert["event"], alert["connection"]) for _, alert in self.received]

    def wait_for(self, count):
        with self.arrived:
            self.arrived.wait_for(lambda: len(self.received) >= count, timeout=60)
            return list(self.received)

    def stop(self):
        self.server.shutdown()
        self.server.server_close()
        self.thread.join()


class Alerts(unittest.TestCase):
    def setUp(self):
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        self.folder = folder.name
        self.store = os.path.join(self.folder, "settings.sqlite")
        make_database("vw_alerts")
        self.addCleanup(sql, "DROP DATABASE vw_alerts")
        vaultwick(self.store, "target", self.folder)
        self.receiver = Receiver()
        self.addCleanup(self.receiver.stop)

    def backup(self, name):
        return vaultwick(self.store, "backup", "--connection", name, check=False)

    def test_a_failure_and_its_recovery_are_told_and_a_good_run_is_not(self):
        store_connection(self.store, "shop", SERVER_ADDRESS, "vw_alerts")
        store_connection(self.store, "down", NOBODY_ADDRESS, "vw_alerts")
        told = os.path.join(self.folder, "told")
        vaultwick(self.store, "alerts", "set", "--webhook", self.receiver.url,
                  "--webhook-header", "Authorization: Bearer s3cret", "--webhook-header", "X-Two: 2",
                  "--command", f'env > "{told}-$VAULTWICK_EVENT"', "--time-limit", "20")

        self.assertEqual(self.backup("shop").returncode, 0)
        self.assertNotEqual(self.backup("down").returncode, 0)
        vaultwick(self.store, "connections", "set", "down", "--host", SERVER_ADDRESS)
        self.assertEqual(self.backup("down").returncode, 0)
        self.assertEqual(self.backup("down").returncode, 0)

        self.assertEqual(self.receiver.alerts(), [("failure", "down"), ("recovery", "down")])
        (headers, failure), (_, recovery) = self.receiver.received
        self.assertEqual(headers["Authorization"], "Bearer s3cret")
        self.assertEqual(headers["X-Two"], "2")
        self.assertEqual(headers["Content-Type"], "application/json")
        self.assertEqual(set(failure), {
            "event", "connection", "host", "result", "end_text", "cause", "archive", "size_bytes",
            "rows", "duration_seconds", "checked", "verified", "offsite", "time", "last_good",
            "text"})
        self.assertEqual(failure["host"], socket.gethostname())
        self.assertNotEqual(failure["result"], "Complete")
        self.assertEqual((failure["archive"], failure["size_bytes"]), ("", 0))
        self.assertIn("down failed: " + failure["end_text"], failure["text"])
        self.assertNotIn("\n", failure["text"])
        self.assertEqual((recovery["result"], recovery["rows"], recovery["checked"]),
                         ("Complete", 3, True))
        self.assertEqual(recovery["archive"], os.path.join(self.folder, "down.zip"))
        self.assertEqual(recovery["size_bytes"], os.path.getsize(recovery["archive"]))
        self.assertRegex(recovery["time"], r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$")

        with open(told + "-failure") as env:
            facts = dict(line.rstrip("\n").split("=", 1) for line in env if "=" in line)
        self.assertEqual(facts["VAULTWICK_CONNECTION"], "down")
        self.assertEqual(facts["VAULTWICK_TEXT"], failure["text"])
        self.assertEqual(facts["VAULTWICK_CAUSE"], failure["cause"])
        self.assertTrue(os.path.exists(told + "-recovery"))

        vaultwick(self.store, "alerts", "clear")
        self.assertIn("webhook: -", vaultwick(self.store, "alerts", "show").stdout)

    def test_a_receiver_that_never_answers_keeps_no_backup_past_the_time_limit(self):
        silent = socket.socket()
        self.addCleanup(silent.close)
        silent.bind(("127.0.0.1", 0))
        silent.listen()  # takes connections and never answers
        store_connection(self.store, "shop", SERVER_ADDRESS, "vw_alerts")
        vaultwick(self.store, "alerts", "set", "--when", "always", "--time-limit", "1", "--webhook",
                  f"http://127.0.0.1:{silent.getsockname()[1]}/hook")

        # Without the limit the backup would wait for the answer for ever.
        ran = vaultwick(self.store, "backup", "--connection", "shop", check=False, timeout=60)
        self.assertEqual(ran.returncode, 0, ran.stderr)
        self.assertIn("shop: alert not sent: webhook:", ran.stderr)
        history = vaultwick(self.store, "history", "shop").stdout
        self.assertIn("Alert not sent: webhook:", history)

        test = vaultwick(self.store, "alerts", "test", check=False, timeout=60)
        self.assertEqual(test.returncode, 1)
        self.assertIn("webhook: ", test.stdout)

    def test_the_scheduler_tells_a_stale_connection_once(self):
        store_connection(self.store, "hourly", SERVER_ADDRESS, "vw_alerts", period=1)
        store_connection(self.store, "daily", SERVER_ADDRESS, "vw_alerts", period=24)
        for name in ("hourly", "daily"):
            self.assertEqual(self.backup(name).returncode, 0)
        vaultwick(self.store, "alerts", "set", "--webhook", self.receiver.url, "--time-limit", "20")
        # A day later, past minute 0 so that no run starts: only the hourly
        # connection's last good backup is older than twice its period and an hour.
        tomorrow = datetime.datetime.now(datetime.timezone.utc) + datetime.timedelta(days=1)
        scheduler = subprocess.Popen(
            [cli_support.VAULTWICK, "scheduler", "--store", self.store, "--test-clock",
             tomorrow.strftime("%Y-%m-%dT%H:30:00")], stdout=subprocess.PIPE, text=True)
        try:
            self.assertIn("scheduler running", scheduler.stdout.readline())
            # The first tick follows at once and logs what its alert became.
            self.assertIn("hourly: stale alert sent", scheduler.stdout.readline())
        finally:
            scheduler.terminate()
            scheduler.communicate(timeout=60)
        self.assertEqual(self.receiver.alerts(), [("stale", "hourly")])
        _, stale = self.receiver.received[0]
        self.assertEqual(stale["result"], "Complete")
        self.assertIsNotNone(stale["last_good"])
        self.assertIn("hourly: no good backup since", stale["text"])


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
