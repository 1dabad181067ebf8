"""Kart Racing Pro, MX Bikes and GP Bikes as the real ventora.exe sees them, with publish_game
loading Ventora's plugin (.dlo) as each game does and playing an event through it: the combo, levels
on the wire that follow the speed, and speed OFF while the run is stopped, during a replay, and
when the game ends; a second event is a combo of its own. Ventora never makes the plugin's
section itself."""

import unittest

from tests.wine.test_telemetry import SPEED_OFF_DEFAULT, LiveGameTestCase

SPEED_MAX_DEFAULT = 79
SECTION = "Local\\VentoraKartsAndBikes"

# (publish_game's game, kart or bike, track)
GAMES = [
    ("krp", "KZ2 Tony Kart", "South Garda Karting"),
    ("mxbikes", "2024 Kawasaki KX450", "Club MX"),
    ("gpbikes", "Honda RC213V", "Mugello Circuit"),
]


class KartsAndBikesTest(LiveGameTestCase):

    def drive(self, game, vehicle, track):
        return self.publish(game, "--car", vehicle, "--track", track, "--speed", "90")

    def test_each_game_drives_the_fan_until_its_run_stops_a_replay_loads_and_it_ends(self):
        self.start_ventora()
        for game, vehicle, track in GAMES:
            with self.subTest(game=game):
                self.levels_settle_at(SPEED_OFF_DEFAULT)
                event = self.drive(game, vehicle, track)
                self.wait_for_lines(f"New combo: {vehicle} @ {track}", "New max speed: 90.000000")
                self.levels_settle_at(SPEED_MAX_DEFAULT)
                self.command(event, "speed 45")
                self.levels_settle_at(40)               # 79 / 2, rounded half away from zero
                self.command(event, "live 0")           # the run stopped: the game paused
                self.levels_settle_at(SPEED_OFF_DEFAULT)
                self.command(event, "live 1")
                self.levels_settle_at(40)
                self.command(event, "replay 1")         # the same kart and track, watched
                self.levels_settle_at(SPEED_OFF_DEFAULT)
                self.command(event, "replay 0")         # and driven again
                self.levels_settle_at(40)
                lines = self.session.log_lines()
                self.session.end_publisher(event)
                self.levels_settle_at(SPEED_OFF_DEFAULT)
                self.assertEqual(self.session.log_lines(), lines, "the same combo logged again")
        self.assertTrue(self.name_is_free(SECTION), "the section outlived the games")

    def test_a_second_event_is_a_new_combo(self):
        game, vehicle, track = GAMES[0]
        event = self.drive(game, vehicle, track)
        self.start_ventora()
        self.wait_for_lines(f"New combo: {vehicle} @ {track}", "New max speed: 90.000000")
        self.command(event, "track Lonato")
        self.wait_for_lines(f"New combo: {vehicle} @ Lonato", "New max speed: 90.000000")

    def test_a_replay_loaded_first_is_never_driven(self):
        game, vehicle, track = GAMES[1]
        self.start_ventora()
        event = self.publish(game, "--car", vehicle, "--track", track, "--speed", "90", "--replay")
        lines = self.session.log_lines()
        self.assertEqual(set(self.ticks(20)[-15:]), {SPEED_OFF_DEFAULT})
        self.assertEqual(self.session.log_lines(), lines)
        # The same section, read all along: the next event is driven.
        self.command(event, "replay 0")
        self.wait_for_lines(f"New combo: {vehicle} @ {track}", "New max speed: 90.000000")


if __name__ == "__main__":
    unittest.main()
