"""A three-node MariaDB Galera cluster on loopback ports for the end-to-end
tests: each node a mariadbd run as the mysql user (the rsync state transfer
fails for a server run as root) with a directory of its own under the
test's work directory, the first bootstrapping the cluster and the others
joining it by state transfer."""

import os
import pwd
import shutil
import subprocess
import time

from crawler_run import Database

GALERA = "/usr/lib/galera/libgalera_smm.so"


def missing_requirement():
    """Why a cluster cannot run here, or None."""
    if not os.path.exists(GALERA):
        return "the Galera library %s is missing (Debian package galera-4)" % GALERA
    try:
        pwd.getpwnam("mysql")
    except KeyError:
        return "there is no mysql user to run the nodes as (Debian package mariadb-server)"
    if not shutil.which("rsync") or not shutil.which("wsrep_sst_rsync"):
        return "rsync or wsrep_sst_rsync is missing (Debian packages rsync, mariadb-server)"
    return None


class Node:
    """One mariadbd of the cluster, as the mysql user, in DIR/nodeN: its own
    data directory, socket, client port 3310+N and Galera ports 4570+N
    (group communication), 4580+N (incremental transfer) and 4590+N (state
    transfer), all on 127.0.0.1."""

    def __init__(self, work, number):
        self.number = number
        self.dir = os.path.join(work, "node%d" % number)
        self.socket = os.path.join(self.dir, "mysqld.sock")
        self.port = 3310 + number
        self.process = None
        account = pwd.getpwnam("mysql")
        os.makedirs(os.path.join(self.dir, "data"))
        for path in (self.dir, os.path.join(self.dir, "data")):
            os.chown(path, account.pw_uid, account.pw_gid)

    def address(self):
        return "127.0.0.1:%d" % self.port

    def install(self):
        """The system tables of a new cluster: only the first node has them;
        the others get everything by state transfer."""
        subprocess.run(["mariadb-install-db", "--no-defaults", "--user=mysql",
                        "--datadir=" + os.path.join(self.dir, "data"),
                        "--auth-root-authentication-method=socket", "--skip-test-db"],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def start(self, new_cluster):
        n = self.number
        options = [
            "--no-defaults", "--user=mysql", "--datadir=" + os.path.join(self.dir, "data"),
            "--socket=" + self.socket, "--pid-file=" + os.path.join(self.dir, "mysqld.pid"),
            "--log-error=" + os.path.join(self.dir, "mysqld.log"),
            "--port=%d" % self.port, "--bind-address=127.0.0.1", "--skip-name-resolve",
            "--innodb-buffer-pool-size=32M", "--innodb-log-file-size=16M",
            "--character-set-server=latin1", "--collation-server=latin1_swedish_ci",
            "--binlog-format=ROW", "--innodb-autoinc-lock-mode=2",
            "--wsrep-on=ON", "--wsrep-provider=" + GALERA,
            "--wsrep-cluster-address=gcomm://127.0.0.1:4571,127.0.0.1:4572,127.0.0.1:4573",
            "--wsrep-node-address=127.0.0.1:%d" % (4570 + n),
            "--wsrep-provider-options=gmcast.listen_addr=tcp://127.0.0.1:%d;"
            "ist.recv_addr=127.0.0.1:%d;gcache.size=32M" % (4570 + n, 4580 + n),
            "--wsrep-sst-method=rsync", "--wsrep-sst-receive-address=127.0.0.1:%d" % (4590 + n),
        ] + (["--wsrep-new-cluster"] if new_cluster else [])
        self.process = subprocess.Popen(["mariadbd"] + options, stdin=subprocess.DEVNULL,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def sql(self, statement, stdin=None):
        """The rows of a statement as root over the socket; None when it fails."""
        done = subprocess.run(["mariadb", "--no-defaults", "--protocol=socket", "-S", self.socket,
                               "-uroot", "-N", "-B"] + (["-e", statement] if statement else []),
                              input=stdin, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        return done.stdout.decode("latin-1").split("\n")[:-1] if done.returncode == 0 else None

    def wait_ready(self, limit):
        """True once the node is a synced member of the primary component."""
        deadline = time.time() + limit
        while time.time() < deadline and self.process.poll() is None:
            if self.sql("SHOW STATUS LIKE 'wsrep_ready'") == ["wsrep_ready\tON"]:
                return True
            time.sleep(0.2)
        return False

    def status(self, name):
        rows = self.sql("SHOW STATUS LIKE '%s'" % name)
        return rows[0].split("\t")[1] if rows else None

    def database(self, build):
        db = Database(build, "search_engine")
        db.socket = self.socket
        return db

    def stop(self):
        if self.process is None or self.process.poll() is not None:
            return
        self.process.terminate()
        try:
            self.process.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()


def start_cluster(checks, nodes, schema):
    """Bootstraps the cluster on the first node, joins the others one after
    another, then loads the schema and the programs' user through the first
    node; True when every node has the schema."""
    started = time.time()
    nodes[0].install()
    for node in nodes:
        node.start(new_cluster=node is nodes[0])
        if not checks.expect("node %d joins the cluster" % node.number, node.wait_ready(60),
                             "see " + os.path.join(node.dir, "mysqld.log")):
            return False
    checks.expect("three nodes in the cluster", nodes[-1].status("wsrep_cluster_size") == "3")
    with open(schema, "rb") as text:
        loaded = nodes[0].sql(
            "CREATE DATABASE search_engine CHARACTER SET latin1; "
            "CREATE USER 'se_user'@'127.0.0.1' IDENTIFIED BY 'sesame_word'; "
            "GRANT ALL PRIVILEGES ON search_engine.* TO 'se_user'@'127.0.0.1'") is not None and \
            nodes[0].sql(None, stdin=b"USE search_engine;\n" + text.read()) is not None
    checks.expect("the schema loads through the first node", loaded)
    count = "SELECT COUNT(*) FROM information_schema.tables WHERE table_schema = 'search_engine'"
    tables = nodes[0].sql(count)
    deadline = time.time() + 20
    while time.time() < deadline and any(node.sql(count) != tables for node in nodes):
        time.sleep(0.1)
    print("cluster up in %.1f s" % (time.time() - started))
    return checks.expect("the schema is on every node", all(node.sql(count) == tables
                                                           for node in nodes), str(tables))
