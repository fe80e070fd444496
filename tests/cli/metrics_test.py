#!/usr/bin/env python3
"""The metrics file, read by the real node exporter: after runs of stored
connections it serves the vaultwick_* series with the runs' values, names
with quotes and letters beyond ASCII intact; and the alert rules pass promtool.

usage: metrics_test.py VAULTWICK RULES_FILE   (VAULTWICK_TEST_DB_* name the server)
"""
import os
import socket
import stat
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.request

VAULTWICK, RULES = sys.argv[1:3]
SERVER = {k: os.environ[f"VAULTWICK_TEST_DB_{k}"] for k in ("HOST", "PORT", "USER", "PASSWORD")}
ODD_NAME = 'Grüße "shop"'


def vaultwick(store, *arguments, check=True, stdin=""):
    return subprocess.run([VAULTWICK, *arguments, "--store", store], input=stdin, text=True,
                          capture_output=True, check=check)


def sql(statement):
    subprocess.run(["mariadb", "--no-defaults", "-h", SERVER["HOST"], "-P", SERVER["PORT"],
                    "-u", SERVER["USER"], "-e", statement], check=True,
                   env=dict(os.environ, MYSQL_PWD=SERVER["PASSWORD"]))


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


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
        sql("DROP DATABASE IF EXISTS vw_metrics; CREATE DATABASE vw_metrics;"
            "CREATE TABLE vw_metrics.t (id INT PRIMARY KEY); INSERT INTO vw_metrics.t VALUES (1),(2),(3)")
        vaultwick(store, "target", folder.name)
        address = f"{SERVER['HOST']}:{SERVER['PORT']}"
        for name, host in (("shop", address), ("down", "127.0.0.1:1"), (ODD_NAME, address)):
            vaultwick(store, "connections", "add", name)
            vaultwick(store, "connections", "set", name, "--host", host, "--login", SERVER["USER"],
                      "--database", "vw_metrics", "--period", "24", "--password-stdin",
                      stdin=SERVER["PASSWORD"] + "\n")
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
