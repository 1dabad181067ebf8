"""Consoles on the home network, as the real ventora.exe under Wine meets them: a stand-in
PlayStation (tools/stand_in_playstation, its Salsa20 from python3-pycryptodome) and the Xbox's and
console F1's datagrams on the console's side of a home network of the test's own (two network
namespaces joined by a veth pair), Ventora's whole Wine session on the PC's side. Nothing is sent
to any address outside those namespaces."""

import queue
import subprocess
import threading
import time
import unittest

from tests.wine.harness import REPO_ROOT, Session, wait_until
from tests.wine.home_network import LINK_NAME, HomeNetwork
from tests.wine.test_udp_games import f1_datagrams, f32_kmh, forza_horizon_dash

SPEED_OFF_DEFAULT = 26
STAND_IN = REPO_ROOT / "tools" / "stand_in_playstation" / "stand_in_playstation.py"
# Debian's own Python, which sees python3-pycryptodome whatever Python comes first on PATH.
DEBIAN_PYTHON = "/usr/bin/python3"
STRANGER_ADDRESS = "192.168.77.30"
# More devices answering the probes than the console table holds (8).
ANSWERING_STRANGERS = [f"192.168.77.{40 + i}" for i in range(10)]
CONSOLE_TABLE_SIZE = 8
FOUND_AWAKE = "Found PS5 PS5-123 at 192.168.77.20"
FOUND_ASLEEP = "Found PS5 PS5-123 at 192.168.77.20 asleep: no Gran Turismo 7 until it wakes"
COMBO = "Car 3311 @ Gran Turismo 7"
PROBE_PORTS, HEARTBEAT_PORT = (9302, 987), 33739

# Sends each hex datagram to the address and port, 20 times a second, until stdin closes.
SENDER = r"""
import select, socket, sys
address, port, datagrams = sys.argv[1], int(sys.argv[2]), [bytes.fromhex(d) for d in sys.argv[3:]]
sender = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
sender.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
while not select.select([sys.stdin], [], [], 0.05)[0]:
    for datagram in datagrams:
        sender.sendto(datagram, (address, port))
"""

# Prints every IPv4 packet that passes the console's end of the pair, either way: "source destination
# protocol destination-port", until stdin closes.
SNIFFER = r"""
import select, socket, struct, sys
sniffer = socket.socket(socket.AF_PACKET, socket.SOCK_RAW, socket.htons(3))  # every frame, both ways
sniffer.bind((sys.argv[1], 0))
print("ready", flush=True)
while select.select([sniffer, sys.stdin], [], [])[0] != [sys.stdin]:
    frame = sniffer.recv(65535)
    if frame[12:14] != b"\x08\x00":
        continue
    ip = frame[14:]
    header = (ip[0] & 15) * 4
    port = struct.unpack_from(">H", ip, header + 2)[0] if ip[9] in (6, 17) else 0
    print(socket.inet_ntoa(ip[12:16]), socket.inet_ntoa(ip[16:20]), ip[9], port, flush=True)
"""


def sent_by(address, sniffed):
    """(time, destination, port) of each UDP datagram from `address` in the sniffer's timed lines."""
    sent = []
    for moment, line in sniffed:
        words = line.split()
        if len(words) == 4 and words[0] == address and words[2] == "17":
            sent.append((moment, words[1], int(words[3])))
    return sent


def rounds(moments, apart=2.0):
    """The first moment of each burst: a probe round sends all its probes within one tick."""
    firsts = []
    for moment in sorted(moments):
        if not firsts or moment - last > apart:
            firsts.append(moment)
        last = moment
    return firsts


def udp_sockets(proc_net_udp):
    """(address, port) of every UDP socket in a /proc/net/udp text."""
    sockets = set()
    for line in proc_net_udp.splitlines()[1:]:
        address, port = line.split()[1].split(":")
        sockets.add((".".join(map(str, bytes.fromhex(address)[::-1])), int(port, 16)))
    return sockets


class Lines:
    """A process's output lines, read on a thread of their own, so a test waits on them."""

    def __init__(self, process):
        self.process, self.seen, self.times, self.fresh = process, [], [], queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.process.stdout:
            self.fresh.put((time.monotonic(), line.strip()))

    def _take_fresh(self):
        while not self.fresh.empty():
            moment, line = self.fresh.get()
            self.times.append(moment)
            self.seen.append(line)
        return self.seen

    def all(self):
        return list(self._take_fresh())

    def timed(self):
        """(arrival time, line) of every line so far."""
        self._take_fresh()
        return list(zip(self.times, self.seen))

    def wait_for(self, predicate, after=0, timeout=30, what="a line"):
        """The index of the first line from `after` on that satisfies predicate."""
        def found():
            lines = self._take_fresh()
            return next(([i] for i in range(after, len(lines)) if predicate(lines[i])), None)
        return wait_until(found, timeout, message=lambda: f"{what} did not come: {self.seen[after:][-20:]}")[0]

    def command(self, line):
        mark = len(self.all())
        self.process.stdin.write(line + "\n")
        self.process.stdin.flush()
        self.wait_for(lambda text: text == "done " + line.split()[0], mark, what=f"the answer to {line!r}")


class ConsolesTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.network = HomeNetwork()
        cls.addClassCleanup(cls.network.close)
        # More addresses on the console's side, for other devices on the same network.
        for address in (STRANGER_ADDRESS, *ANSWERING_STRANGERS):
            cls.network.run_on_console(["ip", "addr", "add", f"{address}/24", "dev", LINK_NAME], check=True)
        cls.session = Session(network=cls.network, require=("ventora.exe", "ventora_driver.exe", "publish_game.exe"))
        cls.addClassCleanup(cls.session.close)
        cls.device = cls.session.plug_port(1)

    # --- the pieces each test starts, each ended again when it ends ------------------------------

    def start_ventora(self, listening):
        self.session.remove_settings()
        network_txt = self.session.settings_path.with_name("network.txt")
        network_txt.parent.mkdir(parents=True, exist_ok=True)
        network_txt.write_text("listen=home-network\n" if listening else "listen=loopback\n")
        self.addCleanup(network_txt.unlink, missing_ok=True)
        self.device.clear()
        app = self.session.start_ventora()
        self.addCleanup(self.session.end_ventora, app)
        self.session.wait_for_log(lambda text: text != "")
        return app

    def start_on_console(self, argv):
        process = self.network.start_on_console(argv, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self.addCleanup(self._end, process)
        return process

    @staticmethod
    def _end(process):
        if process.poll() is None:
            process.kill()
        process.wait(10)
        for stream in (process.stdin, process.stdout):
            if stream:
                stream.close()

    def start_playstation(self, *args):
        console = Lines(self.start_on_console([DEBIAN_PYTHON, STAND_IN, *args]))
        console.wait_for(lambda line: line == "ready", what="the stand-in PlayStation")
        return console

    def sniff_console_side(self):
        sniffer = Lines(self.start_on_console([DEBIAN_PYTHON, "-c", SNIFFER, LINK_NAME]))
        sniffer.wait_for(lambda line: line == "ready", what="the sniffer")
        return sniffer

    def probe_rounds(self, sniffer):
        """When each round of discovery probes the sniffer saw began."""
        return rounds(t for t, _, port in sent_by(self.network.pc_address, sniffer.timed()) if port in PROBE_PORTS)

    def publish(self, *args):
        """A game on the PC (publish_game's page); it quits when the test ends."""
        game = self.session.start_publisher(*args)
        self.addCleanup(self.session.end_publisher, game)
        self.assertEqual(game.read_line(60), "ready", f"publish_game {' '.join(args)} did not start")
        return game

    def send_from_console(self, address, port, datagrams):
        """A game on the console sending its datagrams until the test ends."""
        sender = self.start_on_console([DEBIAN_PYTHON, "-c", SENDER, address, port, *(d.hex() for d in datagrams)])
        return sender

    # --- what Ventora shows ----------------------------------------------------------------------

    def ticks(self, count):
        try:
            return list(self.device.wait_for_bytes(len(self.device.bytes()) + count))
        except TimeoutError as error:
            self.fail(f"{error}; Ventora's log: {self.session.log_lines()!r}")

    def level_after(self, moment, level, timeout=30):
        """The arrival time of the first byte after `moment` that carries `level`."""
        return wait_until(lambda: next((t for t, b in self.device.timed_bytes() if t > moment and b == level), None),
                          timeout, message=lambda: f"no level {level} on the wire; log {self.session.log_lines()}")

    def wait_for_lines(self, *lines):
        for line in lines:
            self.session.wait_for_log_line(line)

    def drive(self, console, speed=41.5):
        """The stand-in streams a car on track at `speed`; waits until the fan follows it and
        returns the arrival time of its first level."""
        console.command(f"speed {speed}")
        console.command("flags 1")
        self.wait_for_lines(FOUND_AWAKE, "New combo: " + COMBO, "New max speed: " + f32_kmh(speed))
        return self.level_after(time.monotonic(), 79)

    # --- the tests -------------------------------------------------------------------------------

    def test_a_found_console_gets_the_heartbeat_from_33740_and_the_fan_follows_its_speed(self):
        console = self.start_playstation("--speed", "0", "--flags", "0")
        self.start_ventora(listening=True)
        console.wait_for(lambda line: line == f"probe PS5 {self.network.pc_address} " + line.split()[-1])
        console.wait_for(lambda line: line == f"heartbeat A {self.network.pc_address} 33740")
        self.drive(console, 41.5)

    def test_paused_loading_and_off_track_give_speed_off(self):
        console = self.start_playstation()
        self.start_ventora(listening=True)
        self.drive(console)
        for flags, meaning in ((3, "paused"), (5, "loading"), (0, "not on track"), (8, "in gear, a replay")):
            with self.subTest(meaning):
                console.command(f"flags {flags}")
                self.level_after(time.monotonic(), SPEED_OFF_DEFAULT)
                console.command("flags 1")
                self.level_after(time.monotonic(), 79)

    def test_a_stream_in_another_format_is_read(self):
        console = self.start_playstation()
        self.start_ventora(listening=True)
        self.drive(console)
        for heartbeat in ("B", "~", "C", "A"):
            with self.subTest(format=heartbeat):
                console.command("flags 0")
                self.level_after(time.monotonic(), SPEED_OFF_DEFAULT)
                # As when another program asked first: the next stream comes in its format, and
                # only that stream can bring the fan back.
                console.command(f"format {heartbeat}")
                mark = len(console.all())
                console.command("stop")
                console.wait_for(lambda line: line == f"stream {heartbeat} {self.network.pc_address}", mark)
                console.command("flags 1")
                self.level_after(time.monotonic(), 79)

    def test_a_console_asleep_gets_no_heartbeat_and_is_logged_once_asleep_and_once_awake(self):
        console = self.start_playstation("--asleep", "--speed", "41.5")
        self.start_ventora(listening=True)
        self.session.wait_for_log_line(FOUND_ASLEEP)
        # A later probe round (10 s on; each round's probes reach it once or twice, by the two
        # broadcast addresses) finds it asleep again: no new line, and still no heartbeat.
        answer = -1
        for _ in range(3):
            answer = console.wait_for(lambda line: line.startswith("answer 620"), answer + 1, timeout=45)
        self.assertEqual([line for line in console.all() if "heartbeat" in line], [])
        console.command("wake")
        self.wait_for_lines(f"PS5 PS5-123 at {self.network.console_address} woke up", "New combo: " + COMBO)
        console.wait_for(lambda line: line.startswith("heartbeat A "))
        log = self.session.log_lines()
        self.assertEqual([line for line in log if "PS5-123" in line],
                         [FOUND_ASLEEP, f"PS5 PS5-123 at {self.network.console_address} woke up"])

    def test_packets_from_another_address_are_ignored(self):
        console = self.start_playstation("--speed", "41.5", "--flags", "0")
        self.start_ventora(listening=True)
        console.wait_for(lambda line: line.startswith("stream A "))
        # Two seconds of a driven car from another device: not the console that was found.
        mark, first_tick = len(console.all()), len(self.device.bytes())
        console.command(f"stranger {STRANGER_ADDRESS} 120 1")
        console.wait_for(lambda line: line == f"stranger-done {STRANGER_ADDRESS} 120", mark)
        self.assertEqual(set(self.ticks(2)[first_tick:]), {SPEED_OFF_DEFAULT})
        self.assertFalse([line for line in self.session.log_lines() if line.startswith("New combo")])
        # The same packets from the console itself are read.
        console.command("flags 1")
        self.session.wait_for_log_line("New combo: " + COMBO)

    def test_a_console_streams_past_its_keep_alive_and_once_gone_is_forgotten_for_the_broadcast(self):
        keep_alive = 5
        sniffer = self.sniff_console_side()
        console = self.start_playstation("--keep-alive", str(keep_alive))
        self.start_ventora(listening=True)
        driven = self.drive(console)
        # Driven past the console's keep-alive: the heartbeat every 3 s keeps the stream going, and
        # the fan at its level throughout.
        # Through two probe rounds as well: between one round (every 10 s) and the next the heartbeat
        # (every 3 s) comes round more than once.
        heartbeats = lambda: [t for t, to, port in sent_by(self.network.pc_address, sniffer.timed())
                              if port == HEARTBEAT_PORT and to == self.network.console_address]
        rounds_driven = lambda: [t for t in self.probe_rounds(sniffer) if t > driven]
        wait_until(lambda: len(rounds_driven()) >= 2, timeout=40,
                   message=lambda: f"probe rounds {self.probe_rounds(sniffer)}")
        self.assertNotIn("stream-stopped", console.all())
        self.assertEqual({level for t, level in self.device.timed_bytes() if t > driven}, {79})
        first, second = rounds_driven()[:2]
        self.assertGreaterEqual(len([t for t in heartbeats() if first < t < second]), 2,
                                f"heartbeats {heartbeats()}, probe rounds {self.probe_rounds(sniffer)}")

        mark = len(console.all())
        console.command("gone")
        gone = time.monotonic()
        off = self.level_after(gone, SPEED_OFF_DEFAULT)
        self.assertGreater(off - gone, 0.8, "the fan stopped before a second of silence")
        console.wait_for(lambda line: line.startswith("ignored-gone heartbeat"), mark)
        # Unanswered for the rounds allowed, it is forgotten: its heartbeats stop, and the broadcast
        # heartbeat looks for a console again.
        broadcasts = (self.network.broadcast_address, "255.255.255.255")
        fallback = lambda: rounds(t for t, to, port in sent_by(self.network.pc_address, sniffer.timed())
                                  if t > gone and port == HEARTBEAT_PORT and to in broadcasts)
        to_console = lambda: [t for t, to, port in sent_by(self.network.pc_address, sniffer.timed())
                              if t > gone and to == self.network.console_address]
        wait_until(lambda: len(fallback()) >= 2, timeout=50,
                   message=lambda: f"no broadcast heartbeat again; {len(to_console())} heartbeats to the gone "
                                   f"console; probe rounds {self.probe_rounds(sniffer)}")
        self.assertEqual([t for t in to_console() if t >= fallback()[0]], [])
        sent = sent_by(self.network.pc_address, sniffer.timed())
        # The probes, all the while, to both broadcast addresses.
        self.assertEqual({to for _, to, port in sent if port in PROBE_PORTS}, set(broadcasts))

    def test_answers_from_more_addresses_than_the_table_holds_leave_it_bounded_and_the_console_gets_in(self):
        sniffer = self.sniff_console_side()
        # The strangers answer each probe before the console: they fill the table first, and a round
        # later, never having streamed, make room for it.
        console = self.start_playstation("--strangers-answer", ",".join(ANSWERING_STRANGERS))
        self.start_ventora(listening=True)
        self.drive(console)
        wait_until(lambda: len(self.probe_rounds(sniffer)) >= 2)
        second_round = self.probe_rounds(sniffer)[1]
        heartbeats = {to for t, to, port in sent_by(self.network.pc_address, sniffer.timed())
                      if t < second_round and port == HEARTBEAT_PORT}
        self.assertLessEqual(len(heartbeats), CONSOLE_TABLE_SIZE, sorted(heartbeats))

    def test_a_game_driven_on_this_pc_has_the_fan_and_holds_the_network_back(self):
        sniffer = self.sniff_console_side()
        console = self.start_playstation()
        self.start_ventora(listening=True)
        self.drive(console)
        # Assetto Corsa at a standstill on a fresh combo: speed MIN (0); the console's car and a
        # second rig's F1 by broadcast would each give 79.
        pc_game = self.publish("ac", "--car", "Roadster", "--track", "Hillclimb", "--layout", "Long", "--speed", "0")
        self.session.wait_for_log_line("New combo: Roadster @ Hillclimb Long")
        self.send_from_console("255.255.255.255", 20777, f1_datagrams(212))
        held = time.monotonic()
        self.ticks(40)  # some 4 s: longer than between two heartbeats
        self.assertEqual({level for t, level in self.device.timed_bytes() if t > held}, {0})
        log = self.session.log_lines()
        self.assertEqual(log[-1], "New combo: Roadster @ Hillclimb Long", log)
        self.assertEqual([(to, port) for t, to, port in sent_by(self.network.pc_address, sniffer.timed())
                          if t > held and port in (*PROBE_PORTS, HEARTBEAT_PORT)], [])
        # Once it quits, the network's games have the fan again.
        self.session.end_publisher(pc_game)
        self.session.wait_for_log_line("New combo: McLaren @ Suzuka")

    def test_a_console_that_answers_no_probe_is_reached_by_the_broadcast_heartbeat(self):
        console = self.start_playstation("--ignore-probes", "--speed", "41.5")
        self.start_ventora(listening=True)
        console.wait_for(lambda line: line.startswith("ignored probe"))
        console.wait_for(lambda line: line.startswith("heartbeat A "))
        self.wait_for_lines(f"Found PlayStation at {self.network.console_address} by its Gran Turismo 7 stream",
                            "New combo: " + COMBO)

    def test_forza_and_f1_from_a_console_are_read(self):
        self.start_ventora(listening=True)
        games = [("Forza on an Xbox", self.network.pc_address, 5607, forza_horizon_dash(41.5),
                  "Car 3042 @ Forza Horizon"),
                 ("F1 by broadcast", "255.255.255.255", 20777, f1_datagrams(212), "McLaren @ Suzuka")]
        for name, address, port, datagrams, combo in games:
            with self.subTest(name):
                sender = self.send_from_console(address, port, datagrams)
                self.session.wait_for_log_line("New combo: " + combo)
                self._end(sender)
                self.level_after(time.monotonic(), SPEED_OFF_DEFAULT)

    def test_with_listening_off_nothing_reaches_the_console_and_nothing_from_it_is_read(self):
        sniffer = self.sniff_console_side()
        console = self.start_playstation("--speed", "41.5")
        self.start_ventora(listening=False)
        pc_udp = udp_sockets(self.network.run_on_pc(["cat", "/proc/net/udp"], capture_output=True, text=True,
                                                    check=True).stdout)
        self.assertIn(("127.0.0.1", 20777), pc_udp)
        # But for Project Motor Racing's default multicast, which only a socket bound to every
        # address receives; it takes the PC's own datagrams alone.
        self.assertEqual({address for address, port in pc_udp if (address, port) != ("0.0.0.0", 7576)},
                         {"127.0.0.1"})
        for address, port, datagrams in ((self.network.pc_address, 5607, forza_horizon_dash(41.5)),
                                         ("255.255.255.255", 20777, f1_datagrams(212))):
            self.send_from_console(address, port, datagrams)
        # Past the first probe round (at the first tick) and past a whole second one.
        self.assertEqual(set(self.ticks(120)), {SPEED_OFF_DEFAULT})
        self.assertFalse([line for line in self.session.log_lines() if line.startswith("New combo")])
        # The PC's kernel answers the console's datagrams to closed ports with ICMP (protocol 1):
        # that is the machine, not Ventora. Nothing else may come from the PC.
        seen = sniffer.all()
        self.assertIn(f"{self.network.console_address} {self.network.pc_address} 17 5607", seen,
                      "the sniffer saw not even the console's own datagrams")
        from_pc = [line for line in seen if line.startswith(self.network.pc_address)]
        # IGMP (protocol 2): the PC's membership of Project Motor Racing's multicast group.
        self.assertEqual([line for line in from_pc if line.split()[2] not in ("1", "2")], [])
        self.assertEqual([line for line in console.all() if line != "ready"], [])
        # Project Motor Racing on this PC, left at its default multicast: read all the same.
        self.publish("pmr", "--multicast", "--car", "Ligier JS P320", "--track", "Spa", "--layout", "Endurance",
                     "--speed", "150")
        self.session.wait_for_log_line("New combo: Ligier JS P320 @ Spa Endurance")


if __name__ == "__main__":
    unittest.main()
