"""Euro Truck Simulator 2 and American Truck Simulator as the real ventora.exe sees them, with
publish_game loading Ventora's plugin DLL as each game does and driving a truck through it: the
combo by game, levels on the wire that follow the speed (reversing too), and speed OFF again when
the game pauses, when it ends, and when it is killed without a word. Ventora never makes the
plugin's section itself."""

import unittest

from tests.wine.test_telemetry import AUTOMATIC_LINE, PORT_LINE, SPEED_OFF_DEFAULT, LiveGameTestCase

SPEED_MAX_DEFAULT = 79
SECTION = "Local\\VentoraTrucks"

# (publish_game's game, brand, name, the combo Ventora logs)
GAMES = [
    ("ets2", "Scania", "R 730", "Scania R 730 @ Euro Truck Simulator 2"),
    ("ats", "Kenworth", "W900", "Kenworth W900 @ American Truck Simulator"),
]


class TrucksTest(LiveGameTestCase):

    def drive(self, game, brand, name):
        return self.publish(game, "--brand", brand, "--car", name, "--speed", "72")

    def test_with_no_truck_game_ventora_makes_no_section_and_sees_no_game(self):
        self.start_ventora()
        self.assertEqual(set(self.ticks(15)), {SPEED_OFF_DEFAULT})
        self.assertEqual(self.session.log_lines(), [AUTOMATIC_LINE, PORT_LINE])
        self.assertTrue(self.name_is_free(SECTION), "Ventora made the plugin's section")

    def test_each_game_drives_the_fan_until_it_pauses_and_until_it_ends(self):
        self.start_ventora()
        for game, brand, name, combo in GAMES:
            with self.subTest(game=game):
                self.levels_settle_at(SPEED_OFF_DEFAULT)
                truck = self.drive(game, brand, name)
                self.wait_for_lines("New combo: " + combo, "New max speed: 72.000000")
                self.levels_settle_at(SPEED_MAX_DEFAULT)
                self.command(truck, "speed -36")       # reversing at half the top speed
                self.levels_settle_at(40)               # 79 / 2, rounded half away from zero
                self.command(truck, "live 0")           # the game's menu: paused
                self.levels_settle_at(SPEED_OFF_DEFAULT)
                self.command(truck, "live 1")
                self.levels_settle_at(40)
                lines = self.session.log_lines()
                self.session.end_publisher(truck)      # paused, then the plugin shut down
                self.levels_settle_at(SPEED_OFF_DEFAULT)
                self.assertEqual(self.session.log_lines(), lines, "the same truck logged again")

    def test_a_game_started_before_ventora_is_seen_and_a_new_truck_is_a_new_combo(self):
        truck = self.drive("ets2", "Volvo", "FH16")
        self.start_ventora()
        self.wait_for_lines("New combo: Volvo FH16 @ Euro Truck Simulator 2", "New max speed: 72.000000")
        self.command(truck, "brand DAF")
        self.command(truck, "car XF")
        self.wait_for_lines("New combo: DAF XF @ Euro Truck Simulator 2", "New max speed: 72.000000")

    def test_a_game_killed_without_a_word_is_dropped(self):
        self.start_ventora()
        truck = self.drive("ats", "Peterbilt", "389")
        self.wait_for_lines("New combo: Peterbilt 389 @ American Truck Simulator", "New max speed: 72.000000")
        truck.kill()
        self.levels_settle_at(SPEED_OFF_DEFAULT)


if __name__ == "__main__":
    unittest.main()
