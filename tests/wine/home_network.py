"""A home network of its own for a test: two network namespaces joined by a veth pair, one playing
the PC (where a Session runs its whole Wine world, wineserver first) and one a console on the same
network. Neither namespace has any link to the machine's own network, so a broadcast, a discovery
probe or a heartbeat sent inside stays inside.

    with HomeNetwork() as network, Session(network=network) as session:
        console = network.start_on_console(["python3", "stand_in.py"])
        session.run([session.build / "ventora-board.exe", "consoles"])

The namespaces' names are unique to each run, so runs side by side never meet; closing (also from
atexit, or from a guard process when the test process dies) ends every process left in them and
deletes them.
"""

import atexit
import ipaddress
import os
import secrets
import signal
import subprocess
import sys
from pathlib import Path

PREFIX_LENGTH = 24
# A home network of the kind routers hand out; inside namespaces of our own it meets no other.
PC_ADDRESS = "192.168.77.10"
CONSOLE_ADDRESS = "192.168.77.20"
BROADCAST_ADDRESS = str(ipaddress.ip_network(f"{PC_ADDRESS}/{PREFIX_LENGTH}", strict=False).broadcast_address)
LINK_NAME = "home0"  # each end's name, inside its own namespace

NETNS_DIR = Path("/run/netns")


class HomeNetworkError(RuntimeError):
    pass


def _ip(*args, check=True):
    result = subprocess.run(["ip", *args], capture_output=True, text=True, timeout=30)
    if check and result.returncode != 0:
        raise HomeNetworkError(f"ip {' '.join(args)} failed: {result.stderr.strip()}")
    return result


def namespace_pids(name):
    """The processes living in the namespace now."""
    result = _ip("netns", "pids", name, check=False)
    return [int(pid) for pid in result.stdout.split()] if result.returncode == 0 else []


def _end_namespaces(names):
    """Ends every process in each namespace, then deletes it: a namespace with a process left in it
    would outlive its name."""
    for name in names:
        for pid in namespace_pids(name):
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        _ip("netns", "del", name, check=False)


# Run in a process of its own: when the test process dies without closing its network (killed
# by a time-out, say), this still ends what runs in the namespaces and deletes them.
_GUARD = r"""
import os, signal, subprocess, sys, time
owner, names = int(sys.argv[1]), sys.argv[2:]
signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
while True:
    try:
        os.kill(owner, 0)
    except ProcessLookupError:
        break
    time.sleep(1)
for name in names:
    pids = subprocess.run(["ip", "netns", "pids", name], capture_output=True, text=True).stdout.split()
    for pid in pids:
        try:
            os.kill(int(pid), signal.SIGKILL)
        except (OSError, ValueError):
            pass
    subprocess.run(["ip", "netns", "del", name], capture_output=True)
"""


class HomeNetwork:
    """The PC and one console, each in a namespace of its own, joined by a veth pair."""

    pc_address = PC_ADDRESS
    console_address = CONSOLE_ADDRESS
    broadcast_address = BROADCAST_ADDRESS

    def __init__(self):
        tag = f"{os.getpid()}-{secrets.token_hex(3)}"
        self.pc = f"ventora-pc-{tag}"
        self.console = f"ventora-console-{tag}"
        self.processes = []
        self._made = []
        self._guard = None
        self._closed = False
        atexit.register(self.close)
        try:
            for name in (self.pc, self.console):
                _ip("netns", "add", name)
                self._made.append(name)
            self._guard = subprocess.Popen([sys.executable, "-c", _GUARD, str(os.getpid()), *self._made],
                                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                           stderr=subprocess.DEVNULL, start_new_session=True)
            # Made inside the PC's namespace with its peer put straight into the console's: the
            # pair never exists in the machine's own namespace, not even for a moment.
            _ip("-n", self.pc, "link", "add", LINK_NAME, "type", "veth", "peer", "name", LINK_NAME,
                "netns", self.console)
            for name, address in ((self.pc, PC_ADDRESS), (self.console, CONSOLE_ADDRESS)):
                _ip("-n", name, "addr", "add", f"{address}/{PREFIX_LENGTH}", "broadcast", BROADCAST_ADDRESS,
                    "dev", LINK_NAME)
                _ip("-n", name, "link", "set", "lo", "up")
                _ip("-n", name, "link", "set", LINK_NAME, "up")
                # A send to 255.255.255.255 needs a route; this one keeps it on the pair.
                _ip("-n", name, "route", "add", "default", "dev", LINK_NAME)
        except BaseException:
            self.close()
            raise

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    # --- running programs ------------------------------------------------------------------------

    def pc_command(self, argv):
        """argv as run inside the PC's namespace."""
        return ["ip", "netns", "exec", self.pc, *map(str, argv)]

    def console_command(self, argv):
        """argv as run inside the console's namespace."""
        return ["ip", "netns", "exec", self.console, *map(str, argv)]

    def start_on_console(self, argv, **popen_args):
        """Starts a program on the console's side; it is ended when the network closes."""
        popen_args.setdefault("stdin", subprocess.DEVNULL)
        process = subprocess.Popen(self.console_command(argv), **popen_args)
        self.processes.append(process)
        return process

    def run_on_console(self, argv, timeout=60, **run_args):
        return subprocess.run(self.console_command(argv), timeout=timeout, **run_args)

    def start_on_pc(self, argv, **popen_args):
        """Starts a Linux program on the PC's side (the Wine world goes through a Session)."""
        popen_args.setdefault("stdin", subprocess.DEVNULL)
        process = subprocess.Popen(self.pc_command(argv), **popen_args)
        self.processes.append(process)
        return process

    def run_on_pc(self, argv, timeout=60, **run_args):
        return subprocess.run(self.pc_command(argv), timeout=timeout, **run_args)

    # --- what keeps the traffic inside -----------------------------------------------------------

    def links(self, name):
        """The network interfaces the namespace has, by name."""
        out = _ip("-n", name, "-o", "link").stdout
        return sorted(line.split(":")[1].strip().split("@")[0] for line in out.splitlines())

    def lives_in(self, pid, name):
        """Whether the process's network is the namespace's."""
        try:
            return os.stat(f"/proc/{pid}/ns/net").st_ino == os.stat(NETNS_DIR / name).st_ino
        except FileNotFoundError:
            return False

    def processes_named(self, name, command):
        """The processes living in the namespace whose name starts with `command` (Debian's
        wineserver runs as wineserver64)."""
        found = []
        for pid in namespace_pids(name):
            try:
                if Path(f"/proc/{pid}/comm").read_text().startswith(command):
                    found.append(pid)
            except FileNotFoundError:
                pass
        return found

    def check_confined(self):
        """Raises unless each side has its loopback and its end of the pair, and nothing more."""
        for name in (self.pc, self.console):
            links = self.links(name)
            if links != sorted(["lo", LINK_NAME]):
                raise HomeNetworkError(f"{name} has the links {links}")

    # --- the end ---------------------------------------------------------------------------------

    def close(self):
        if self._closed:
            return
        self._closed = True
        atexit.unregister(self.close)
        for process in self.processes:
            if process.poll() is None:
                process.kill()
                try:
                    process.wait(10)
                except subprocess.TimeoutExpired:
                    pass
        _end_namespaces(self._made)
        if self._guard:
            self._guard.terminate()
            self._guard.wait(10)
