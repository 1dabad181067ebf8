"""`ventora-board consoles` and `consoles off` as a user's PC runs them: the whole Wine world on the
PC's side of a home network of the test's own (the command broadcasts its discovery probes, which
must never reach the machine's network), a console's side that hears them or answers them, and a
running Ventora that the command restarts."""

import subprocess
import unittest

from tests.wine.harness import REPO_ROOT, Session, wait_until
from tests.wine.home_network import HomeNetwork
from tests.wine.rig import RigBoard, connect_board
from tests.wine.test_board_setup import start_wizard
from tests.wine.test_home_network import udp_sockets

STAND_IN = REPO_ROOT / "tools" / "stand_in_playstation" / "stand_in_playstation.py"
# The stand-in's Salsa20 comes from Debian's python3-pycryptodome, which Debian's python alone sees.
DEBIAN_PYTHON = "/usr/bin/python3"

LISTENING_ON, LISTENING_OFF = "listen=home-network\n", "listen=loopback\n"

PS5_PROBE = b"SRCH * HTTP/1.1\ndevice-discovery-protocol-version:00030010"
PS4_PROBE = b"SRCH * HTTP/1.1\ndevice-discovery-protocol-version:00020020"

# Hears what reaches the console's side on the discovery ports, as a console would, and prints
# each datagram (port, sender, bytes in hex) until stdin closes.
PROBE_LISTENER = r"""
import select, socket, sys
sockets = {}
for port in (9302, 987):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind(("0.0.0.0", port))
    sockets[s] = port
print("ready", flush=True)
while True:
    ready = select.select([*sockets, sys.stdin], [], [], 120)[0]
    if not ready or sys.stdin in ready:
        break
    for s in ready:
        data, sender = s.recvfrom(4096)
        print(sockets[s], sender[0], data.hex(), flush=True)
"""


class ConsolesCommandTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.network = HomeNetwork()
        cls.addClassCleanup(cls.network.close)
        cls.session = Session(network=cls.network,
                              require=("ventora.exe", "ventora_driver.exe", "ventora-board.exe"))
        cls.addClassCleanup(cls.session.close)

    @property
    def listening_path(self):
        return self.session.settings_path.parent / "network.txt"

    def tool(self, *args, timeout=120):
        """ventora-board with its input from a file, as a script runs it: no console."""
        result = self.session.run([self.session.build / "ventora-board.exe", *args], timeout=timeout, input="")
        result.text = (result.stdout + result.stderr).replace("\r\n", "\n")
        return result

    def running_ventora(self):
        """A Ventora started as from the desktop; whatever Ventora runs at the test's end is closed."""
        ventora = self.session.start_ventora()
        # Cleanups run last first: the one the tool restarted, then the one started here.
        self.addCleanup(self.session.end_ventora, ventora)
        self.addCleanup(self.end_every_ventora)
        return ventora

    def end_every_ventora(self):
        """Closes the Ventora the tool started again (detached, so not one of the session's)."""
        if self.session.driver_result("find").returncode == 0:
            self.session.driver_result("close")
            wait_until(lambda: self.session.driver_result("find").returncode != 0, 30,
                       message="a Ventora outlived WM_CLOSE")

    def assert_restarted(self, before, f1_address):
        """The Ventora that ran before was closed, and one runs again that took the setting at once:
        F1's socket bound to f1_address alone."""
        self.assertEqual(before.wait(30), 0)
        self.session.wait_for_window()
        self.assert_bound(20777, f1_address)

    def assert_bound(self, port, address):
        """Waits until the port's sockets on the PC's side are bound to address alone."""
        bound = lambda: {at for at, number in udp_sockets(self.network.run_on_pc(
            ["cat", "/proc/net/udp"], capture_output=True, text=True, check=True).stdout) if number == port}
        wait_until(lambda: bound() == {address}, message=lambda: f"port {port} is bound to {bound()}")

    def listen_for_probes(self):
        listener = self.network.start_on_console(["python3", "-c", PROBE_LISTENER], stdin=subprocess.PIPE,
                                                 stdout=subprocess.PIPE, text=True)
        self.addCleanup(listener.stdout.close)
        self.assertEqual(listener.stdout.readline().strip(), "ready")
        return listener

    def heard(self, listener):
        """(port, sender, bytes) of every datagram the listener heard, once it has stopped."""
        listener.stdin.close()
        self.assertEqual(listener.wait(30), 0)
        return [(int(port), sender, bytes.fromhex(data))
                for port, sender, data in (line.split() for line in listener.stdout.read().splitlines())]

    def test_consoles_probes_for_both_kinds_says_none_answered_and_what_to_set_then_turns_listening_on(self):
        self.listening_path.unlink(missing_ok=True)
        before = self.running_ventora()
        listener = self.listen_for_probes()
        result = self.tool("consoles")
        self.assertEqual(result.returncode, 0, result.text)
        heard = self.heard(listener)
        for port, probe in ((9302, PS5_PROBE), (987, PS4_PROBE)):
            with self.subTest(port=port):
                datagrams = [data for to, sender, data in heard if to == port]
                self.assertTrue(datagrams, heard)
                self.assertEqual({sender for to, sender, _ in heard if to == port}, {self.network.pc_address})
                self.assertEqual([data for data in datagrams if not data.startswith(probe)], [])
        text = result.text
        self.assertIn("no PlayStation answered", text)
        self.assertIn(f"Data Out IP Address {self.network.pc_address}, Data Out IP Port 5607.", text)
        self.assertIn("UDP Broadcast Mode On, UDP Port 20777.", text)
        # Wine's netsh does nothing: the tool must see that the rule is not there and carry on.
        self.assertIn("The firewall rule could not be added", text)
        self.assertIn("Listening turns on all the same.", text)
        self.assertNotIn("Look for PlayStations again?", text)  # no question without a console
        self.assertIn("Listening on the home network is on", text)
        self.assertEqual(self.listening_path.read_text(), LISTENING_ON)
        self.assert_restarted(before, "0.0.0.0")

    def test_consoles_off_turns_listening_off_says_the_firewall_rule_was_not_removed_and_restarts_ventora(self):
        self.listening_path.parent.mkdir(parents=True, exist_ok=True)
        self.listening_path.write_text(LISTENING_ON)
        before = self.running_ventora()
        result = self.tool("consoles", "off")
        self.assertEqual(result.returncode, 0, result.text)
        text = result.text
        self.assertIn("Listening on the home network is off", text)
        self.assertEqual(self.listening_path.read_text(), LISTENING_OFF)
        self.assertIn("The rule could not be removed", text)
        self.assert_restarted(before, "127.0.0.1")

    def test_each_playstation_that_answers_is_listed_with_its_name_kind_state_and_game(self):
        address = self.network.console_address
        for options, line in (
            (["--host-type", "PS5", "--name", "Living room", "--app-name", "Gran Turismo 7"],
             f'Found "Living room", a PS5 at {address}: awake, running Gran Turismo 7.'),
            (["--host-type", "PS4", "--name", "Den", "--app-name", ""], f'Found "Den", a PS4 at {address}: awake.'),
            (["--host-type", "PS5", "--name", "Bedroom", "--asleep"],
             f'Found "Bedroom", a PS5 at {address}: asleep (in rest mode); Ventora finds it once it is on.'),
        ):
            with self.subTest(options=options):
                console = self.network.start_on_console([DEBIAN_PYTHON, STAND_IN, *options], stdin=subprocess.PIPE,
                                                        stdout=subprocess.PIPE, text=True)
                self.addCleanup(console.stdout.close)
                self.assertEqual(console.stdout.readline().strip(), "ready")
                result = self.tool("consoles")
                console.stdin.write("quit\n")
                console.stdin.close()
                self.assertEqual(console.wait(30), 0)
                self.assertEqual(result.returncode, 0, result.text)
                found = [text for text in result.text.splitlines() if text.strip().startswith("Found")]
                self.assertEqual(found, [f"  {line}"])
                # The console answered this PC's probes, and the tool asked it for nothing more.
                events = console.stdout.read().split("\n")
                self.assertIn(f"answer {'620' if '--asleep' in options else '200'} {self.network.pc_address}",
                              events)
                self.assertEqual([event for event in events if event.startswith("heartbeat")], [])

    def test_a_yes_to_the_wizards_last_question_turns_listening_on_before_it_starts_ventora(self):
        self.listening_path.unlink(missing_ok=True)
        board = RigBoard(None)  # a new Uno, its flash erased
        self.addCleanup(board.stop)
        connect_board(self.session, 7, board)
        self.addCleanup(self.session.unmap_port, 7)
        self.addCleanup(self.end_every_ventora)
        wizard = start_wizard(self.session)
        self.addCleanup(wizard.kill)
        wizard.wait_for_output(r"Waiting up to 30 s")
        wizard.send_line("")  # the list
        wizard.wait_for_output(r"Which is the fan board\? Enter 1 to 2: ")
        wizard.send_line("1")  # COM7
        wizard.wait_for_output(r"Enter 1 to 7: ")
        wizard.send_line("1")  # PWM fans
        wizard.wait_for_output(r"Which fan blew first: the left one or the right one\? Type l or r and Enter: ",
                               timeout=240)
        wizard.send_line("l")  # as wired: no second flash
        wizard.wait_for_output(r"Do you race on a PlayStation or an Xbox\? \[y/N\] ", timeout=60)
        self.assertFalse(self.listening_path.exists())
        wizard.send_line("y")
        wizard.wait_for_output(r"Press Enter to close")
        wizard.send_line("")
        self.assertEqual(wizard.wait(60), 0, wizard.stdout())
        self.assertRegex(wizard.stdout(), r"no PlayStation answered(.|\n)*Data Out IP Address 192\.168\.77\.10"
                         r"(.|\n)*Listening on the home network is on(.|\n)*Ventora is running in the tray")
        self.assertEqual(self.listening_path.read_text(), LISTENING_ON)
        self.assert_bound(20777, "0.0.0.0")

    def test_the_on_line_as_notepad_saves_it_turns_listening_on_but_not_for_rbr(self):
        for text in ("\ufefflisten=home-network\r\n", "listen=home-network\r\n", "\ufefflisten=home-network"):
            with self.subTest(text=text):
                self.listening_path.parent.mkdir(parents=True, exist_ok=True)
                self.listening_path.write_bytes(text.encode("utf-8"))
                self.addCleanup(self.listening_path.unlink, missing_ok=True)
                ventora = self.session.start_ventora()
                try:
                    self.assert_bound(20777, "0.0.0.0")
                    # Richard Burns Rally runs on the PC alone: its port stays on loopback.
                    self.assert_bound(6776, "127.0.0.1")
                finally:
                    self.session.end_ventora(ventora)

    def test_consoles_takes_nothing_but_off(self):
        for args in (("on",), ("off", "now")):
            with self.subTest(args=args):
                result = self.tool("consoles", *args)
                self.assertEqual(result.returncode, 2, result.text)
                self.assertIn("consoles takes nothing, or off", result.text)
                self.assertIn("ventora-board consoles off", result.text)


if __name__ == "__main__":
    unittest.main()
