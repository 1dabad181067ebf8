"""iRacing, rFactor 2 and Le Mans Ultimate as the real ventora.exe sees them, with publish_game
standing in for each game: Ventora never creates their sections, finds a game started before or
after it, puts the game's combo and levels on the wire, lets a whole reading only count, wakes
Le Mans Ultimate waiting on its lock, takes a game started again as a new session, and goes back
to speed OFF when the game ends, even when it ends without a word."""

import unittest

from tests.wine.harness import wait_until
from tests.wine.test_telemetry import AUTOMATIC_LINE, PORT_LINE, SPEED_OFF_DEFAULT, LiveGameTestCase

SPEED_MAX_DEFAULT = 79

# (game, publish_game arguments, the combo Ventora logs). rFactor 2 and Le Mans Ultimate give no
# layout: their combo ends with the track name.
GAMES = [
    ("iracing", ("--car", "Porsche 911 GT3 R", "--track", "Circuit de Spa-Francorchamps", "--layout", "Endurance"),
     "Porsche 911 GT3 R @ Circuit de Spa-Francorchamps Endurance"),
    ("rf2", ("--car", "Oreca 07", "--track", "Sebring International Raceway"),
     "Oreca 07 @ Sebring International Raceway"),
    ("lmu", ("--car", "Ferrari 499P", "--track", "Circuit de la Sarthe"), "Ferrari 499P @ Circuit de la Sarthe"),
]
# The other games whose sections Ventora only opens, and the sections of them all: iRacing's one,
# rFactor 2's two, Le Mans Ultimate's two, Assetto Corsa EVO's three and the truck plugin's one.
OTHER_OPENED_GAMES = [("acevo", ("--car", "ks_ferrari_296_gt3", "--track", "Monza", "--layout", "gp")),
                      ("ets2", ("--brand", "Scania", "--car", "R 730"))]
OPENED_SECTIONS = 9

# How long the stand-in Le Mans Ultimate waits on its lock event: far longer than the tick or two
# it takes Ventora to read and let go, short enough that a missing signal fails fast.
LOCK_WAIT_MS = 5000


class OpenedGamesTest(LiveGameTestCase):

    def views(self):
        """The section views Ventora's process holds: {(base, size)}."""
        return {tuple(line.split()) for line in self.session.driver("mapped-views").splitlines()}

    def test_start_up_with_none_of_their_sections_maps_none_and_sees_no_game(self):
        # Ventora lets go of a section's name once it has its view, so a section it made itself
        # would leave no name behind to look for: what counts is what Ventora maps. Its views are
        # looked at over several of its once-a-second looks, then again once the games run.
        self.start_ventora()
        before = [self.views()]
        for _ in range(4):
            self.ticks(6)
            before.append(self.views())
        self.assertEqual(set(self.device.bytes()), {SPEED_OFF_DEFAULT})
        self.assertEqual(self.session.log_lines(), [AUTOMATIC_LINE, PORT_LINE])
        self.assertEqual(set.union(*before) - set.intersection(*before), set(),
                         "views that Ventora made and dropped again while no game ran")
        for game, names, *_ in [*GAMES, *OTHER_OPENED_GAMES]:
            self.publish(game, *names)
        # A view of each of their sections, and no more.
        def all_mapped():
            views = self.views()
            return views if len(views - before[0]) >= OPENED_SECTIONS else None
        try:
            after = wait_until(all_mapped, 30, interval=0.5)
        except TimeoutError:
            self.fail(f"the games' {OPENED_SECTIONS} sections did not add as many views to Ventora's "
                      f"{sorted(before[0])!r}: {sorted(self.views())!r}")
        self.assertLessEqual(before[0], after)
        self.assertEqual(len(after - before[0]), OPENED_SECTIONS, sorted(after - before[0]))

    def drive_until_the_game_ends(self, publisher):
        """The levels on the wire follow the game's speed, then go back to speed OFF as it ends."""
        self.levels_settle_at(SPEED_MAX_DEFAULT)  # at the top speed just learnt
        self.command(publisher, "speed 36")
        self.levels_settle_at(40)                 # half of it: 79 / 2, rounded half away from zero
        # The game closes: its page goes not live, then its sections go.
        self.session.end_publisher(publisher)
        self.levels_settle_at(SPEED_OFF_DEFAULT)

    def test_each_game_started_before_ventora_is_seen_from_the_first_tick(self):
        for game, names, combo in GAMES:
            with self.subTest(game=game):
                publisher = self.publish(game, *names, "--speed", "72")
                self.start_ventora()
                # Seen on the first tick, before the port is opened.
                expected = ["New combo: " + combo, "New max speed: 72.000000"]
                try:
                    self.session.wait_for_log(
                        lambda text: [line for line in text.split("\r\n") if line.startswith("New ")] == expected)
                except TimeoutError:
                    self.fail(f"no {expected!r} in {self.session.log_lines()!r}")
                self.drive_until_the_game_ends(publisher)
                self.doCleanups()

    def test_each_game_started_after_ventora_is_seen_within_a_few_ticks(self):
        self.start_ventora()
        for game, names, combo in GAMES:
            with self.subTest(game=game):
                self.levels_settle_at(SPEED_OFF_DEFAULT)
                publisher = self.publish(game, *names, "--speed", "72")
                self.wait_for_lines("New combo: " + combo, "New max speed: 72.000000")
                self.drive_until_the_game_ends(publisher)

    def test_a_game_that_ends_without_a_word_is_dropped_once_its_sections_are_gone(self):
        # Killed, the game leaves a live page behind in Ventora's view; its names go with it.
        self.start_ventora()
        for game, names, combo in GAMES:
            with self.subTest(game=game):
                publisher = self.publish(game, *names, "--speed", "72")
                self.wait_for_lines("New combo: " + combo, "New max speed: 72.000000")
                publisher.kill()
                self.levels_settle_at(SPEED_OFF_DEFAULT)

    def test_iracing_started_again_with_another_car_is_a_new_combo(self):
        # Each start of the stand-in numbers its session text from 1: the second session's text
        # has the same update count as the first's, and only its names tell them apart.
        self.start_ventora()
        first = self.publish("iracing", "--car", "Mazda MX-5", "--track", "Okayama", "--layout", "Full",
                             "--speed", "72")
        self.wait_for_lines("New combo: Mazda MX-5 @ Okayama Full", "New max speed: 72.000000")
        self.session.end_publisher(first)
        self.levels_settle_at(SPEED_OFF_DEFAULT)
        self.ticks(15)  # Ventora's next look for the games, once a second, finds the game gone
        self.publish("iracing", "--car", "Dallara IR18", "--track", "Okayama", "--layout", "Full", "--speed", "36")
        self.wait_for_lines("New combo: Dallara IR18 @ Okayama Full", "New max speed: 36.000000")
        self.levels_settle_at(SPEED_MAX_DEFAULT)  # its own top speed, not half of the first car's

    def test_le_mans_ultimate_waiting_on_its_lock_is_woken_as_ventora_lets_go(self):
        self.start_ventora()
        game = self.publish("lmu", *GAMES[2][1], "--speed", "72")
        self.wait_for_lines("New combo: " + GAMES[2][2], "New max speed: 72.000000")
        game.send_line(f"wait-lock {LOCK_WAIT_MS}")
        self.assertEqual(game.read_line(LOCK_WAIT_MS / 1000 + 30), "woken",
                         f"the game's wait on its lock event ran out after {LOCK_WAIT_MS} ms")

    def test_only_whole_readings_count(self):
        # rFactor 2 caught mid-rewrite on every tick, Le Mans Ultimate holding its lock: no sample,
        # until the game lets Ventora read.
        cases = [("rf2", "--torn", "torn 0", GAMES[1]), ("lmu", "--lock-held", "lock 0", GAMES[2])]
        self.start_ventora()
        for game, option, release, (_, names, combo) in cases:
            with self.subTest(game=game):
                lines = self.session.log_lines()
                publisher = self.publish(game, *names, "--speed", "72", option)
                self.assertEqual(set(self.ticks(20)[-15:]), {SPEED_OFF_DEFAULT})
                self.assertEqual(self.session.log_lines(), lines)
                self.command(publisher, release)
                self.wait_for_lines("New combo: " + combo, "New max speed: 72.000000")
                self.session.end_publisher(publisher)

    def test_later_game_in_reading_order_wins_while_several_are_live(self):
        self.start_ventora()
        self.publish("r3e", "--car", "R3E car", "--track", "R3E track", "--layout", "R3E layout", "--speed", "36")
        self.wait_for_lines("New combo: R3E car @ R3E track R3E layout", "New max speed: 36.000000")
        iracing = self.publish("iracing", "--car", "iR car", "--track", "iR track", "--layout", "iR layout",
                               "--speed", "72")
        self.wait_for_lines("New combo: iR car @ iR track iR layout", "New max speed: 72.000000")
        rf2 = self.publish("rf2", "--car", "Same car", "--track", "Same track", "--speed", "108")
        self.wait_for_lines("New combo: Same car @ Same track", "New max speed: 108.000000")
        # Le Mans Ultimate with its rFactor 2 plugin: its own reading comes last and wins.
        self.publish("lmu", "--car", "Same car", "--track", "Same track", "--speed", "144")
        self.wait_for_lines("New max speed: 144.000000")
        self.session.end_publisher(rf2)
        self.session.end_publisher(iracing)
        self.ticks(15)
        self.assertEqual(self.session.log_lines()[-1], "New max speed: 144.000000")


if __name__ == "__main__":
    unittest.main()
