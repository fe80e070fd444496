"""What the command-line tests in Python share: the program, the private
server, a free loopback port, and stored connections on that server."""
import os
import socket
import subprocess

VAULTWICK = None  # the program under test; each test sets it from its arguments
SERVER = {k: os.environ[f"VAULTWICK_TEST_DB_{k}"] for k in ("HOST", "PORT", "USER", "PASSWORD")}
SERVER_ADDRESS = f"{SERVER['HOST']}:{SERVER['PORT']}"
# Nothing listens there: a connection to it fails at once.
NOBODY_ADDRESS = "127.0.0.1:1"


def vaultwick(store, *arguments, check=True, stdin="", timeout=120):
    return subprocess.run([VAULTWICK, *arguments, "--store", store], input=stdin, text=True,
                          capture_output=True, check=check, timeout=timeout)


def sql(statement):
    subprocess.run(["mariadb", "--no-defaults", "-h", SERVER["HOST"], "-P", SERVER["PORT"],
                    "-u", SERVER["USER"], "-e", statement], check=True,
                   env=dict(os.environ, MYSQL_PWD=SERVER["PASSWORD"]))


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def make_database(name):
    """A database of one table with three rows."""
    sql(f"DROP DATABASE IF EXISTS {name}; CREATE DATABASE {name};"
        f"CREATE TABLE {name}.t (id INT PRIMARY KEY); INSERT INTO {name}.t VALUES (1),(2),(3)")


def store_connection(store, name, host, database, period=24):
    vaultwick(store, "connections", "add", name)
    vaultwick(store, "connections", "set", name, "--host", host, "--login", SERVER["USER"],
              "--database", database, "--period", str(period), "--password-stdin",
              stdin=SERVER["PASSWORD"] + "\n")
