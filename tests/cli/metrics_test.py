#!/usr/bin/env python3
"""The metrics file, read by the real node exporter: after runs of stored
connections it serves the vaultwick_* series with the runs' values, names
with quotes and letters beyond ASCII intact; and the alert rules pass promtool.

usage: metrics_test.py VAULTWICK RULES_FILE   (VAULTWICK_TEST_DB_* name the server)
"""
import os
import stat
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.request

import cli_support
from cli_support import NOBODY_ADDRESS, SERVER_ADDRESS, free_port, make_database, sql, \
    store_connection, vaultwick

cli_support.VAULTWICK, RULES = sys.argv[1:3]
ODD_NAME = 'Grüße "shop"'


class NodeExporter:
    """Debian's node exporter on a loopback port, reading only `folder`."""

    def __init__(self, folder):
        self.url = f"http://127.0.0.1:{free_port()}/metrics"
        self.process = subprocess.Popen(
            ["prometheus-node-exporter", "--web.listen-address=" + self.url[7:-8],
             "--collector.disable-defaults", "--collector.textfile",
             "--collector.textfile.directory=" + folder],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def scrape(self):
        deadline = time.monotonic() + 20
        while True:
            try:
                with urllib.request.urlopen(self.url, timeout=5) as answer:
                    return answer.read().decode()
            except OSError:
                if time.monotonic() > deadline or self.process.poll() is not None:
                    raise
                time.sleep(0.05)

    def stop(self):
        self.process.terminate()
        self.process.wait()


class Metrics(unittest.TestCase):
    def test_the_node_exporter_serves_each_connections_last_run(self):
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        store = os.path.join(folder.name, "settings.sqlite")
        textfiles = os.path.join(folder.name, "textfile")
        os.mkdir(textfiles)
        make_database("vw_metrics")
        vaultwick(store, "target", folder.name)
        for name, host in (("shop", SERVER_ADDRESS), ("down", NOBODY_ADDRESS),
                           (ODD_NAME, SERVER_ADDRESS)):
            store_connection(store, name, host, "vw_metrics")
        metrics_file = os.path.join(textfiles, "vaultwick.prom")
        vaultwick(store, "alerts", "set", "--metrics-file", metrics_file)
        self.assertIn(metrics_file, vaultwick(store, "alerts", "show").stdout)

        vaultwick(store, "backup", "--connection", "shop")
        self.assertNotEqual(vaultwick(store, "backup", "--connection", "down", check=False).returncode, 0)
        self.assertEqual(stat.S_IMODE(os.stat(metrics_file).st_mode), 0o644)

        exporter = NodeExporter(textfiles)
        try:
            served = exporter.scrape()
        finally:
            exporter.stop()
        self.assertIn("\nnode_textfile_scrape_error 0\n", served)
        for series in ('vaultwick_last_run_success{connection="shop"} 1',
                       'vaultwick_last_run_rows{connection="shop"} 3',
                       'vaultwick_last_run_checked{connection="shop"} 1',
                       'vaultwick_backup_stale{connection="shop"} 0',
                       'vaultwick_archives_kept{connection="shop"} 1',
                       'vaultwick_last_run_success{connection="down"} 0',
                       'vaultwick_backup_stale{connection="down"} 1',
                       'vaultwick_schedule_period_seconds{connection="down"} 86400',
                       'vaultwick_backup_stale{connection="Grüße \\"shop\\""} 1'):
            self.assertIn(series, served)
        self.assertNotIn('vaultwick_last_success_timestamp_seconds{connection="down"}', served)

        vaultwick(store, "alerts", "clear")
        self.assertIn("metrics file: -", vaultwick(store, "alerts", "show").stdout)
        sql("DROP DATABASE vw_metrics")

    def test_the_alert_rules_pass_promtool(self):
        subprocess.run(["promtool", "check", "rules", RULES], check=True, capture_output=True)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
