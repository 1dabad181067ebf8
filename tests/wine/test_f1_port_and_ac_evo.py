"""The games added for 2026 as the real ventora.exe sees them, with publish_game standing in for
each: F1 25 in its 2026 format, DiRT Rally 2.0 and EA SPORTS WRC taking turns on F1's port, and
Assetto Corsa EVO's sections, which Ventora only opens."""

import struct
import unittest

from tests.wine.test_more_games import SPEED_MAX_DEFAULT
from tests.wine.test_telemetry import SPEED_OFF_DEFAULT, LiveGameTestCase


def kmh_through_metres_per_second(kmh):
    """What Ventora learns from a game that sends km/h / 3.6 as a float, in single precision, as
    "%f" shows it."""
    f32 = lambda value: struct.unpack("<f", struct.pack("<f", value))[0]
    return f"{f32(f32(f32(kmh) / f32(3.6)) * f32(3.6)):f}"


class F1PortAndAcEvoTest(LiveGameTestCase):

    def test_f1_port_takes_f1_dirt_and_wrc_in_turn(self):
        f1_port = str(self.session.udp_ports[0])
        # (publish_game's arguments, the combo, the top speed learnt). Standing still (spectating,
        # paused, the stage clock stopped) takes the fan back to speed OFF while the game still sends.
        games = [
            (("f1", "--year", "2026", "--team", "486", "--track", "42", "--speed", "97"),
             "Cadillac '26 @ Madrid", "97.000000"),
            (("dirt", "--length", "10234.4", "--speed", "108"), "Stage 10234 m @ DiRT",
             kmh_through_metres_per_second(108)),
            (("wrc", "--length", "8012.5", "--speed", "90"), "Stage 8013 m @ EA WRC",
             kmh_through_metres_per_second(90)),
        ]
        self.start_ventora()
        for args, combo, top_speed in games:
            with self.subTest(game=args[0]):
                game = self.publish(*args, "--port", f1_port)
                self.wait_for_lines("New combo: " + combo, "New max speed: " + top_speed)
                self.levels_settle_at(SPEED_MAX_DEFAULT)
                self.command(game, "live 0")
                self.levels_settle_at(SPEED_OFF_DEFAULT)
                self.command(game, "live 1")
                self.levels_settle_at(SPEED_MAX_DEFAULT)
                self.session.end_publisher(game)
                self.levels_settle_at(SPEED_OFF_DEFAULT)

    def test_ac_evo_is_opened_logs_its_version_once_and_drops_out_when_it_ends(self):
        self.start_ventora()
        combo = "ks_ferrari_296_gt3 @ Monza gp"
        game = self.publish("acevo", "--car", "ks_ferrari_296_gt3", "--track", "Monza", "--layout", "gp",
                            "--speed", "72")
        self.wait_for_lines("Assetto Corsa EVO shared memory version: 0.6", "New combo: " + combo,
                            "New max speed: 72.000000")
        self.command(game, "speed 36")
        self.levels_settle_at(40)  # half the top speed: 79 / 2, rounded half away from zero
        self.command(game, "live 0")
        self.levels_settle_at(SPEED_OFF_DEFAULT)
        self.command(game, "live 1")
        self.levels_settle_at(40)
        self.session.end_publisher(game)
        self.levels_settle_at(SPEED_OFF_DEFAULT)
        # The game again, at the same version, once Ventora has let go of the ended game's sections
        # (it looks once a second): they are opened anew, and the version is not logged again.
        self.ticks(15)
        again = self.publish("acevo", "--car", "ks_ferrari_296_gt3", "--track", "Monza", "--layout", "gp",
                             "--speed", "36")
        self.levels_settle_at(40)
        self.session.end_publisher(again)
        lines = self.session.log_lines()
        self.assertEqual(lines.count("Assetto Corsa EVO shared memory version: 0.6"), 1, lines)


if __name__ == "__main__":
    unittest.main()
