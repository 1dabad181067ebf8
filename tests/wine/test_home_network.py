"""The home network test bench itself: what the PC's side sends reaches the console's side and
nowhere else, and a Session on it keeps its whole Wine world on the PC's side."""

import subprocess
import unittest
from pathlib import Path

from tests.wine.harness import REPO_ROOT, Session, wait_until
from tests.wine.home_network import LINK_NAME, HomeNetwork

PORT = 9302  # a PS5's discovery port: what the bench is first made for

# Binds every address of its side, says so, and prints each datagram that arrives, with its
# sender, until stdin closes.
RECEIVER = r"""
import select, socket, sys
receiver = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
receiver.bind(("0.0.0.0", int(sys.argv[1])))
print("ready", flush=True)
while select.select([receiver, sys.stdin], [], [], 60)[0] != [sys.stdin]:
    data, sender = receiver.recvfrom(2048)
    print(sender[0], data.decode(), flush=True)
"""

SENDER = r"""
import socket, sys
sender = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
sender.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
sender.sendto(sys.argv[3].encode(), (sys.argv[1], int(sys.argv[2])))
"""


# A test process that makes a network, says its namespaces' names and is then killed.
OWNER = r"""
import time
from tests.wine.home_network import HomeNetwork
network = HomeNetwork()
network.start_on_console(["sleep", "600"])
print(network.pc, network.console, flush=True)
time.sleep(600)
"""


def udp_sockets(proc_net_udp):
    """(address, port) of every UDP socket in a /proc/net/udp text."""
    sockets = set()
    for line in proc_net_udp.splitlines()[1:]:
        address, port = line.split()[1].split(":")
        octets = bytes.fromhex(address)[::-1]
        sockets.add((".".join(map(str, octets)), int(port, 16)))
    return sockets


class HomeNetworkTest(unittest.TestCase):
    def setUp(self):
        self.network = HomeNetwork()
        self.addCleanup(self.network.close)

    def test_each_side_has_only_its_loopback_and_its_end_of_the_pair(self):
        for side in (self.network.pc, self.network.console):
            with self.subTest(side=side):
                self.assertEqual(self.network.links(side), sorted([LINK_NAME, "lo"]))
        self.network.check_confined()

    def test_a_datagram_from_the_pc_reaches_the_console_whatever_address_it_was_sent_to(self):
        receiver = self.network.start_on_console(["python3", "-c", RECEIVER, PORT], stdin=subprocess.PIPE,
                                                 stdout=subprocess.PIPE, text=True)
        self.addCleanup(receiver.stdout.close)
        self.assertEqual(receiver.stdout.readline().strip(), "ready")
        destinations = (self.network.console_address, self.network.broadcast_address, "255.255.255.255")
        for destination in destinations:
            self.network.run_on_pc(["python3", "-c", SENDER, destination, PORT, f"to {destination}"], check=True)
        receiver.stdin.close()
        self.assertEqual(receiver.wait(30), 0)
        self.assertEqual(receiver.stdout.read().splitlines(),
                         [f"{self.network.pc_address} to {destination}" for destination in destinations])


class WineOnTheHomeNetworkTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.network = HomeNetwork()
        cls.addClassCleanup(cls.network.close)
        cls.session = Session(network=cls.network)
        cls.addClassCleanup(cls.session.close)

    def test_the_wineserver_that_makes_every_programs_sockets_lives_on_the_pc_side(self):
        servers = self.network.processes_named(self.network.pc, "wineserver")
        self.assertEqual(len(servers), 1)
        self.assertTrue(self.network.lives_in(servers[0], self.network.pc))

    def test_a_wine_programs_sockets_are_made_on_the_pc_side(self):
        ventora = self.session.start_ventora()
        self.addCleanup(self.session.end_ventora, ventora)
        pc_udp = lambda: udp_sockets(self.network.run_on_pc(["cat", "/proc/net/udp"], capture_output=True,
                                                            text=True, check=True).stdout)
        wait_until(lambda: ("127.0.0.1", 20777) in pc_udp(), message=lambda: f"PC side's sockets: {pc_udp()}")
        console_udp = udp_sockets(self.network.run_on_console(["cat", "/proc/net/udp"], capture_output=True,
                                                              text=True, check=True).stdout)
        self.assertEqual(console_udp, set())


class TearDownTest(unittest.TestCase):
    def test_closing_ends_what_runs_inside_and_deletes_both_namespaces(self):
        network = HomeNetwork()
        try:
            sleeper = network.start_on_console(["sleep", "600"])
            names = (network.pc, network.console)
        finally:
            network.close()
        self.assertIsNotNone(sleeper.poll())
        self.assertEqual([name for name in names if (Path("/run/netns") / name).exists()], [])

    def test_a_test_process_killed_midway_leaves_no_namespace_behind(self):
        owner = subprocess.Popen(["python3", "-c", OWNER], cwd=REPO_ROOT, stdout=subprocess.PIPE, text=True)
        try:
            names = owner.stdout.readline().split()
            self.assertEqual(len(names), 2)
        finally:
            owner.kill()
            owner.wait()
            owner.stdout.close()
        wait_until(lambda: not any((Path("/run/netns") / name).exists() for name in names),
                   message=lambda: f"left behind: {names}")


if __name__ == "__main__":
    unittest.main()
