#!/usr/bin/env python3
"""Debian's object-store servers (proxy, account, container, object) and a
memcached, set up in a temporary directory and run on 127.0.0.1 for the
CLOUD device tests.

Usage: swift_servers.py --dir DIR --cert CERT --key KEY --port-file FILE

Writes swift.conf, a one-replica ring per server type and one
configuration per server into DIR, starts memcached and the four servers
as children on free loopback ports, waits until each answers, makes the
container "cont" and writes the proxy's port into FILE. The proxy serves
TLS itself, authenticates "test:tester" with key "testing" and serves the
S3 interface for host names under "s3.localhost" (signatures checked).
On SIGTERM or SIGINT every child is stopped and waited for.
"""
import argparse
import os
import pwd
import signal
import socket
import ssl
import subprocess
import sys
import time
import urllib.request

CHILDREN = []


def free_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def answers(port):
    try:
        socket.create_connection(("127.0.0.1", port), timeout=0.5).close()
        return True
    except OSError:
        return False


def stop(*_):
    for child in CHILDREN:
        if child.poll() is None:
            child.terminate()
    for child in CHILDREN:
        try:
            child.wait(timeout=10)
        except subprocess.TimeoutExpired:
            child.kill()
            child.wait()
    sys.exit(0)


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--dir", required=True)
    p.add_argument("--cert", required=True)
    p.add_argument("--key", required=True)
    p.add_argument("--port-file", required=True)
    args = p.parse_args()
    args.cert = os.path.abspath(args.cert)
    args.key = os.path.abspath(args.key)
    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)

    d = os.path.abspath(args.dir)
    devices = os.path.join(d, "srv")
    os.makedirs(os.path.join(devices, "sdb1"), exist_ok=True)
    os.makedirs(os.path.join(d, "run"), exist_ok=True)
    user = pwd.getpwuid(os.getuid()).pw_name
    ports = {name: free_port() for name in ("account", "container", "object", "proxy",
                                           "memcached")}
    with open(os.path.join(d, "swift.conf"), "w") as f:
        f.write("[swift-hash]\nswift_hash_path_suffix = tevsuffix\n"
                "swift_hash_path_prefix = tevprefix\n\n"
                "[storage-policy:0]\nname = Policy-0\ndefault = yes\n")
    # The three one-replica rings, built in one run of Debian's python
    # (where the servers' modules live) rather than nine of the ring tool.
    ring_script = (
        "import sys\n"
        "from swift.common.ring import RingBuilder\n"
        "d = sys.argv[1]\n"
        "for kind, port in zip(('account', 'container', 'object'), sys.argv[2:]):\n"
        "    b = RingBuilder(10, 1, 1)\n"
        "    b.add_dev({'id': 0, 'region': 1, 'zone': 1, 'ip': '127.0.0.1',\n"
        "               'port': int(port), 'device': 'sdb1', 'weight': 100})\n"
        "    b.rebalance()\n"
        "    b.save('%s/%s.builder' % (d, kind))\n"
        "    b.get_ring().save('%s/%s.ring.gz' % (d, kind))\n")
    r = subprocess.run(["/usr/bin/python3", "-c", ring_script, d, str(ports["account"]),
                        str(ports["container"]), str(ports["object"])],
                       capture_output=True, text=True)
    if r.returncode != 0:
        sys.exit("building the rings failed: %s" % r.stderr)
    common = ("[DEFAULT]\nbind_ip = 127.0.0.1\nbind_port = %d\nworkers = 0\nuser = %s\n"
              "swift_dir = %s\ndevices = %s\nmount_check = false\nlog_level = WARNING\n"
              "log_address = %s\n")
    # No syslog socket here: log lines go to a socket nobody reads.
    log_address = os.path.join(d, "run", "log")
    for kind in ("account", "container", "object"):
        with open(os.path.join(d, kind + "-server.conf"), "w") as f:
            f.write(common % (ports[kind], user, d, devices, log_address))
            f.write("\n[pipeline:main]\npipeline = %s-server\n\n[app:%s-server]\n"
                    "use = egg:swift#%s\n" % (kind, kind, kind))
    with open(os.path.join(d, "proxy-server.conf"), "w") as f:
        f.write(common % (ports["proxy"], user, d, devices, log_address))
        f.write("cert_file = %s\nkey_file = %s\n\n" % (args.cert, args.key))
        f.write("[pipeline:main]\npipeline = catch_errors cache s3api tempauth proxy-server\n\n"
                "[app:proxy-server]\nuse = egg:swift#proxy\naccount_autocreate = true\n\n"
                "[filter:catch_errors]\nuse = egg:swift#catch_errors\n\n"
                "[filter:cache]\nuse = egg:swift#memcache\nmemcache_servers = 127.0.0.1:%d\n\n"
                "[filter:s3api]\nuse = egg:swift#s3api\nstorage_domain = s3.localhost\n\n"
                "[filter:tempauth]\nuse = egg:swift#tempauth\n"
                "user_test_tester = testing .admin\n" % ports["memcached"])

    out = open(os.path.join(d, "servers.log"), "ab")
    CHILDREN.append(subprocess.Popen(
        ["memcached", "-l", "127.0.0.1", "-p", str(ports["memcached"]), "-U", "0", "-u", user],
        stdout=out, stderr=out))
    for kind in ("account", "container", "object", "proxy"):
        CHILDREN.append(subprocess.Popen(
            ["swift-%s-server" % kind, os.path.join(d, "%s-server.conf" % kind)],
            stdout=out, stderr=out))
    deadline = time.time() + 60
    for port in ports.values():
        while not answers(port):
            if time.time() > deadline or any(c.poll() is not None for c in CHILDREN):
                stop_and_fail("the servers did not start; see %s" % out.name)
            time.sleep(0.1)
    # The proxy listens before it loads its certificate.
    time.sleep(0.5)
    if any(c.poll() is not None for c in CHILDREN):
        stop_and_fail("a server stopped; see %s" % out.name)

    # The container, made with the token of the test account.
    ctx = ssl.create_default_context()
    ctx.check_hostname = False
    ctx.verify_mode = ssl.CERT_NONE
    base = "https://127.0.0.1:%d" % ports["proxy"]
    req = urllib.request.Request(base + "/auth/v1.0", headers={
        "X-Auth-User": "test:tester", "X-Auth-Key": "testing"})
    with urllib.request.urlopen(req, context=ctx, timeout=30) as r:
        token = r.headers["X-Storage-Token"]
        storage = r.headers["X-Storage-Url"]
    req = urllib.request.Request(storage + "/cont", method="PUT",
                                 headers={"X-Auth-Token": token})
    with urllib.request.urlopen(req, context=ctx, timeout=30) as r:
        if r.status not in (201, 202):
            stop_and_fail("container PUT answered %d" % r.status)
    with open(args.port_file + ".tmp", "w") as f:
        f.write("%d\n" % ports["proxy"])
    os.rename(args.port_file + ".tmp", args.port_file)
    while True:
        signal.pause()


def stop_and_fail(text):
    sys.stderr.write("swift_servers.py: %s\n" % text)
    try:
        stop()
    except SystemExit:
        pass
    sys.exit(1)


if __name__ == "__main__":
    try:
        main()
    except SystemExit:
        raise
    except BaseException as e:
        stop_and_fail("%s: %s" % (type(e).__name__, e))
