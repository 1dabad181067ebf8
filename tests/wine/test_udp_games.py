"""The UDP games as the real ventora.exe under Wine receives them: datagrams laid out here, at the
games' own offsets, sent from Linux to 127.0.0.1 (Wine's sockets are the machine's), to the ports
the session gives Ventora: the games' own, or free ones of its own while another session on the
machine has those (the test of the games' own ports then skips)."""

import socket
import struct
import threading
import time
import unittest
from pathlib import Path

from tests.wine.harness import GAMES_UDP_PORTS, wait_until
from tests.wine.test_telemetry import LiveGameTestCase

SPEED_OFF_DEFAULT = 26


def f32_kmh(metres_per_second):
    """Ventora's km/h for a float m/s: the single-precision product with 3.6f, as "%f" shows it."""
    f32 = lambda value: struct.unpack("<f", struct.pack("<f", value))[0]
    return f"{f32(f32(metres_per_second) * f32(3.6)):f}"


def f1_packet(size, packet_id, player=0, year=2025):
    packet = bytearray(size)
    struct.pack_into("<HB", packet, 0, year, year % 100)
    packet[6], packet[27] = packet_id, player
    return packet


def f1_datagrams(kmh, team=8, track=13, year=2024, entry=60):
    telemetry = f1_packet(1352, 6, player=3, year=year)
    struct.pack_into("<H", telemetry, 29 + 60 * 3, kmh)
    session = f1_packet(753, 1, year=year)
    session[36] = track
    participants = f1_packet(30 + 22 * entry, 4, player=3, year=year)
    participants[33 + entry * 3] = team
    return [participants, session, telemetry]


def forza_horizon_dash(metres_per_second, car=3042):
    dash = bytearray(324)
    struct.pack_into("<i", dash, 0, 1)
    struct.pack_into("<i", dash, 212, car)
    struct.pack_into("<f", dash, 256, metres_per_second)
    return [dash]


def udp_listeners(port):
    """The local addresses of the machine's UDP sockets bound to `port`, as the kernel lists them."""
    addresses = set()
    for line in Path("/proc/net/udp").read_text().splitlines()[1:]:
        address, bound_port = line.split()[1].split(":")
        if int(bound_port, 16) == port:
            addresses.add(socket.inet_ntoa(struct.pack("<I", int(address, 16))))
    return addresses


def outgauge(metres_per_second, car=b"FBM"):
    packet = bytearray(96)
    packet[4:4 + len(car)] = car
    struct.pack_into("<f", packet, 12, metres_per_second)
    return [packet]


class Sender(threading.Thread):
    """A game sending its datagrams to a port, 20 times a second, until stopped."""

    def __init__(self, port, datagrams, address="127.0.0.1"):
        super().__init__(daemon=True)
        self.address, self.port, self.datagrams, self.stopping = address, port, datagrams, threading.Event()
        self.socket = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)

    def run(self):
        while not self.stopping.wait(0.05):
            for datagram in self.datagrams:
                self.socket.sendto(datagram, (self.address, self.port))

    def stop(self):
        self.stopping.set()
        if self.is_alive():
            self.join()
        self.socket.close()
        return time.monotonic()


class UdpGamesTest(LiveGameTestCase):

    games_udp_ports = True

    def send(self, port, datagrams, address="127.0.0.1"):
        sender = Sender(port, datagrams, address)
        sender.start()
        self.addCleanup(sender.stop)
        return sender

    def level_after(self, moment, level):
        """The arrival time of the first byte after `moment` that carries `level`."""
        return wait_until(lambda: next((t for t, b in self.device.timed_bytes() if t > moment and b == level), None),
                          30, message=f"no level {level} on the wire")

    def test_each_game_gives_its_combo_its_levels_and_stops_after_a_second_of_silence(self):
        f1, forza, out_gauge, *_ = self.session.udp_ports
        games = [("F1 24", f1, f1_datagrams(212), "McLaren @ Suzuka", "212.000000"),
                 ("F1 25", f1, f1_datagrams(97, team=187, track=41, year=2025, entry=57),
                  "Red Bull Racing '24 @ Zandvoort (Reverse)", "97.000000"),
                 ("Forza Horizon", forza, forza_horizon_dash(41.5), "Car 3042 @ Forza Horizon", f32_kmh(41.5)),
                 ("OutGauge", out_gauge, outgauge(27.25), "FBM @ OutGauge", f32_kmh(27.25))]
        self.start_ventora()
        for name, port, datagrams, combo, top_speed in games:
            with self.subTest(game=name):
                sender = self.send(port, datagrams)
                self.wait_for_lines("New combo: " + combo, "New max speed: " + top_speed)
                # At its steady top speed the fan runs at speedMax; once the game falls silent
                # for a second it is back at speed OFF.
                self.level_after(time.monotonic(), 79)
                stopped = sender.stop()
                off = self.level_after(stopped, SPEED_OFF_DEFAULT)
                self.assertGreater(off - stopped, 0.8, "the fan stopped before a second of silence")

    def test_only_a_game_on_this_machine_reaches_ventora(self):
        # 127.0.0.2 is this machine as well, yet not the address a game sends to: a socket that
        # listens there listens on every address the machine has, where anyone who can reach the PC
        # could set the fan.
        f1, forza, out_gauge, *_ = self.session.udp_ports
        games = [("F1", f1, f1_datagrams(212), "McLaren @ Suzuka"),
                 ("Forza", forza, forza_horizon_dash(41.5), "Car 3042 @ Forza Horizon"),
                 ("OutGauge", out_gauge, outgauge(27.25), "FBM @ OutGauge")]
        self.start_ventora()
        for name, port, datagrams, combo in games:
            with self.subTest(game=name):
                self.assertEqual(udp_listeners(port), {"127.0.0.1"}, f"the addresses listening on UDP port {port}")
                lines = self.session.log_lines()
                elsewhere = self.send(port, datagrams, address="127.0.0.2")
                self.assertEqual(set(self.ticks(15)[-10:]), {SPEED_OFF_DEFAULT})
                self.assertEqual(self.session.log_lines(), lines)
                elsewhere.stop()
                sender = self.send(port, datagrams)
                self.session.wait_for_log_line("New combo: " + combo)
                self.level_after(sender.stop(), SPEED_OFF_DEFAULT)

    def test_port_taken_before_the_start_is_logged_and_opened_once_free(self):
        f1, _, out_gauge, *_ = self.session.udp_ports
        blocker = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.addCleanup(blocker.close)
        blocker.bind(("127.0.0.1", f1))
        self.start_ventora()
        self.wait_for_lines(f"UDP port {f1} for F1 is in use by another program; trying again every 5 seconds",
                            "Automatic maximum car speed detection", "Connected to COM1")
        other_game = self.send(out_gauge, outgauge(10.0))
        self.wait_for_lines("New combo: FBM @ OutGauge", "New max speed: 36.000000")
        other_game.stop()
        blocker.close()
        self.session.wait_for_log_line(f"Listening for F1 on UDP port {f1}")
        self.send(f1, f1_datagrams(50))
        self.session.wait_for_log_line("New combo: McLaren @ Suzuka")

    def test_a_flood_of_malformed_datagrams_costs_no_tick_of_a_shared_memory_game(self):
        self.publish("ac", "--car", "car", "--track", "track", "--layout", "layout", "--speed", "120")
        self.start_ventora()
        self.session.wait_for_log_line("New max speed: 120.000000")
        flooder, stop = socket.socket(socket.AF_INET, socket.SOCK_DGRAM), time.monotonic() + 5
        self.addCleanup(flooder.close)
        start = len(self.device.bytes())
        sizes = [1351, 753 + 1, 323, 95, 0, 1500]
        while time.monotonic() < stop:
            for port in self.session.udp_ports:
                for size in sizes:
                    flooder.sendto(bytes(size), ("127.0.0.1", port))
        timed = self.device.timed_bytes()[start:]
        levels, times = bytes(level for _, level in timed), [moment for moment, _ in timed]
        # About 50 ticks in 5 s. A busy machine may hold a few of them back, flood or not; a flood
        # that held the tick up would stretch most of them.
        gaps = sorted(later - earlier for earlier, later in zip(times, times[1:]))
        self.assertGreater(len(levels), 10, "the flood held the ticks up")
        self.assertLess(gaps[len(gaps) // 2], 0.15, f"the median time between two ticks; longest {gaps[-3:]}")
        self.assertEqual(set(levels), {79})

    def test_richard_burns_rally_in_mph_drives_the_fan_in_km_h_and_not_while_paused(self):
        rbr = self.session.udp_ports[3]
        self.start_ventora()
        game = self.publish("rbr", "--port", str(rbr), "--units", "mph", "--speed", "120")
        self.session.wait_for_log_line("New combo: Car 3 @ Stage 41 @ Richard Burns Rally")
        # Taken for km/h until a second of driving tells the units: 74.6 first, then 120.
        try:
            self.session.wait_for_log(lambda text: any(
                line.startswith("New max speed: ") and abs(float(line.split()[-1]) - 120) < 0.01
                for line in text.split("\r\n")))
        except TimeoutError:
            self.fail(f"no top speed of 120 km/h: {self.session.log_lines()!r}")
        self.levels_settle_at(79)
        self.command(game, "live 0")  # paused: the same datagram again and again
        self.levels_settle_at(SPEED_OFF_DEFAULT)
        self.command(game, "restart")
        self.command(game, "speed 30")
        self.command(game, "live 1")
        self.levels_settle_at(20)  # 30 of 120 km/h: 79 / 4, rounded
        lines = self.session.log_lines()
        self.session.end_publisher(game)
        self.level_after(time.monotonic(), SPEED_OFF_DEFAULT)
        self.assertEqual(self.session.log_lines(), lines, "the restarted stage logged anew")

    def test_the_2025_newcomers_through_publish_game(self):
        """Project Motor Racing to 127.0.0.1 (its multicast is played in the consoles suite, on a
        network of its own), Test Drive Unlimited Solar Crown on F1's port, Assetto Corsa Rally
        from a process named acr.exe: each drives the fan while driven, and lets it go back to
        speed OFF when paused."""
        f1, pmr = self.session.udp_ports[0], self.session.udp_ports[4]
        rows = [("pmr", ["--port", str(pmr)], "Ginetta G55 GT4 @ Monza GP", None),
                ("tdu", ["--port", str(f1)], "Test Drive Unlimited Solar Crown", None),
                ("acr", ["--car", "Hyundai i20 N Rally2", "--track", "Monte Carlo", "--layout", "SS1"],
                 "Hyundai i20 N Rally2 @ Monte Carlo SS1",
                 "Assetto Corsa Rally: status not set, driven while physics runs"),
                ("acr", ["--status", "set", "--car", "Toyota GR Yaris", "--track", "Sweden", "--layout", "SS2"],
                 "Toyota GR Yaris @ Sweden SS2", "Assetto Corsa Rally: status set, driven while it shows live")]
        self.start_ventora()
        for game, options, combo, line in rows:
            with self.subTest(game=game, combo=combo):
                publisher = self.publish(game, *options, "--speed", "150")
                self.session.wait_for_log_line("New combo: " + combo)
                if line:
                    self.session.wait_for_log_line(line)
                self.levels_settle_at(79)
                self.command(publisher, "live 0")
                self.levels_settle_at(SPEED_OFF_DEFAULT)
                self.session.end_publisher(publisher)

    def test_games_own_ports_and_publish_game_as_f1(self):
        if self.session.udp_ports != list(GAMES_UDP_PORTS):
            self.skipTest("another session on this machine plays the UDP games on their own ports")
        self.start_ventora()
        game = self.publish("f1", "--year", "2024", "--team", "190", "--track", "3", "--speed", "133")
        self.wait_for_lines("New combo: Alpine '24 @ Sakhir (Bahrain)", "New max speed: 133.000000")
        self.command(game, "live 0")  # spectating
        self.ticks(15)
        self.assertEqual(self.device.bytes()[-3:], bytes([SPEED_OFF_DEFAULT] * 3))

if __name__ == "__main__":
    unittest.main()
