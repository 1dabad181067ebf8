"""Whole sessions with every part real: ventora.exe under Wine, publish_game standing in for the
games, a pty pair as the fan controller on a COM port, and the settings file in the prefix. The
tests check what a user and the fan controller see: the log pane's lines, the bytes on the wire
and the graph on the screen."""

import unittest

from tests.wine.harness import REPO_ROOT, Session, wait_until

AUTOMATIC_LINE = "Automatic maximum car speed detection"
MANUAL_LINE = "Manual maximum car speed"

# Slider indices in creation order.
SPEED_OFF, SPEED_MIN, SPEED_MAX, MAX_CAR_SPEED = range(4)

DEFAULT_SPEED_OFF = 26
RED = (255, 0, 0)
# The graph's interior in client coordinates: columns 11..472, rows 171..250 (level 0 on row 250).
GRAPH_LEFT, GRAPH_RIGHT, GRAPH_TOP, GRAPH_BOTTOM = 11, 472, 171, 250
# One column per history entry: the newest 462 are drawn.
DRAWN_HISTORY = GRAPH_RIGHT - GRAPH_LEFT + 1

ARTIFACTS = REPO_ROOT / "build" / "wine-artifacts"


def runs(values):
    """The values with each stretch of repeats collapsed into one: a level stays for as many ticks
    as its speed does, and only the order of the levels is fixed."""
    collapsed = []
    for value in values:
        if not collapsed or collapsed[-1] != value:
            collapsed.append(value)
    return collapsed


def contains_slice(whole, part):
    width = len(part)
    return any(whole[start:start + width] == part for start in range(len(whole) - width + 1))


def setUpModule():
    # One Wine world for the module: each test ends every program it started and unmaps its ports,
    # and the games' sections go away with the last program that held them.
    global session
    session = Session(require=("ventora.exe", "ventora_driver.exe", "publish_game.exe"))
    unittest.addModuleCleanup(session.close)


class EndToEndTestCase(unittest.TestCase):

    def start_ventora(self, settings=None, keep_settings=False):
        """Starts Ventora from the desktop with the given settings (None: no file, so the defaults;
        keep_settings: the file as the last run left it) and waits for its first tick, which
        always writes the mode line."""
        if not keep_settings:
            if settings is None:
                session.remove_settings()
            else:
                session.write_settings(*settings)
        app = session.start_ventora()
        self.addCleanup(session.end_ventora, app)
        session.wait_for_log(lambda text: text != "")
        return app

    def close_ventora(self, app):
        self.assertEqual(session.close_ventora(app), 0)

    def start_game(self, *args):
        """Starts publish_game with the given arguments; returns once the page is written."""
        game = session.start_publisher(*args)
        self.addCleanup(session.end_publisher, game)
        self.assertEqual(game.read_line(60), "ready")
        return game

    def tell(self, game, command):
        """Sends a command to a game; returns once its page holds the change."""
        game.send_line(command)
        self.assertEqual(game.read_line(), "ok", command)

    def plug(self, number):
        device = session.plug_port(number)
        self.addCleanup(session.unmap_port, number)
        return device

    def wait_for_level(self, device, level, start):
        """Waits for a byte of the level at or after position start of what the device received;
        returns its position."""
        def position():
            received = device.bytes()
            found = received.find(bytes([level]), start)
            return found + 1 if found >= 0 else None
        try:
            return wait_until(position, 30, interval=0.02) - 1
        except TimeoutError:
            later = device.bytes()[start:]
            raise AssertionError(f"level {level} never reached COM{device.number}; the {len(later)} bytes "
                                 f"after byte {start} ran through the levels {runs(later)}") from None

    def level_after_next_tick(self, device):
        """The level of the first tick that reads the games' pages after this call.

        Ventora answers another program's message only while it drains its queue, which each tick
        does right before it reads the pages. So once a slider's position has come back, a tick
        has read the pages as they are now, and a byte that arrives afterwards comes from that
        tick or a later one."""
        session.driver("slider", SPEED_OFF)
        start = len(device.bytes())
        return device.wait_for_bytes(start + 1)[start]

    def log_lines(self):
        return session.log_lines()


class WorkedExampleTest(EndToEndTestCase):
    """A drive through the states of the fan level computation with default settings: no game,
    a new combo at a standstill, a rise to a new top speed, slowing down, the game leaving the
    track and coming back."""

    COMBO = "Roadster @ Hillclimb Long"

    def test_levels_log_and_graph_follow_the_drive(self):
        fan = self.plug(1)
        self.start_ventora()
        session.driver("tray", "lbuttondown")
        session.wait_visible(True)
        session.wait_for_log_line("Connected to COM1")

        # No game yet: the fan gets speed OFF.
        self.wait_for_level(fan, DEFAULT_SPEED_OFF, 0)

        game = self.start_game("ac", "--car", "Roadster", "--track", "Hillclimb", "--layout", "Long",
                               "--speed", "0")
        # A new combo at a standstill: no maximum yet, so speed MIN.
        seen = self.wait_for_level(fan, 0, 0)
        self.tell(game, "speed 50")
        seen = self.wait_for_level(fan, 79, seen)
        # 120 gives 79 as 50 did, so the wire cannot tell when a tick has seen it; a slider read can.
        self.tell(game, "speed 120")
        self.assertEqual(self.level_after_next_tick(fan), 79)
        seen = len(fan.bytes())
        self.tell(game, "speed 100")
        seen = self.wait_for_level(fan, 66, seen)
        self.tell(game, "speed 60")
        seen = self.wait_for_level(fan, 40, seen)
        self.tell(game, "live 0")
        seen = self.wait_for_level(fan, DEFAULT_SPEED_OFF, seen)
        # Back on track with the same combo: its learned 120 km/h still scales the speed.
        self.tell(game, "speed 90")
        self.tell(game, "live 1")
        seen = self.wait_for_level(fan, 59, seen)

        expected_runs = [DEFAULT_SPEED_OFF, 0, 79, 66, 40, DEFAULT_SPEED_OFF, 59]
        self.assertEqual(runs(fan.bytes()), expected_runs)
        self.assertEqual(self.log_lines(), [
            AUTOMATIC_LINE,
            "Connected to COM1",
            "New combo: " + self.COMBO,
            "New max speed: 120.000000",
        ])

        # The graph: one red dot per tick, the newest at the right edge, on row 250 - level. The
        # connecting tick's level is in the history, though it never went out on the wire.
        ox, oy = session.client_origin()
        last = {}

        def graph_matches_wire():
            shot = session.screenshot()
            count = len(fan.bytes())
            levels = []
            for x in range(GRAPH_RIGHT, GRAPH_LEFT - 1, -1):
                rows = [y for y in range(GRAPH_TOP, GRAPH_BOTTOM + 1) if shot.pixel(ox + x, oy + y) == RED]
                if len(rows) != 1:
                    break
                levels.append(GRAPH_BOTTOM - rows[0])
            levels.reverse()
            # Every level a paint shows was written before that paint, so one more byte after the
            # capture makes sure the wire holds them all.
            history = [DEFAULT_SPEED_OFF] + list(fan.wait_for_bytes(count + 1))
            last.update(levels=levels, history=history)
            if len(levels) < DRAWN_HISTORY:
                # The whole history is on show, from the connecting tick's level on.
                return shot if levels == history[:len(levels)] else None
            return shot if contains_slice(history, levels) else None

        try:
            shot = wait_until(graph_matches_wire, 30, interval=0.2)
        except TimeoutError:
            levels, history = last["levels"], last["history"]
            differ = next((i for i, (a, b) in enumerate(zip(levels, history)) if a != b), None)
            self.fail(f"the graph's {len(levels)} dots (levels {runs(levels)}) are not the levels of the ticks "
                      f"so far (the connecting tick's, then the {len(history) - 1} sent: {runs(history)}); "
                      f"first difference at dot {differ}")
        shot.save_png(ARTIFACTS / "end-to-end-worked-example.png")
        # Every level of the drive is there, in order, the newest at the right edge; should the drive
        # outlast the 46 seconds the graph shows, the first speed OFF stretch may have scrolled away.
        shown_runs = runs(last["levels"])
        self.assertEqual(shown_runs if len(last["levels"]) < DRAWN_HISTORY else shown_runs[-6:],
                         expected_runs if len(last["levels"]) < DRAWN_HISTORY else expected_runs[1:])
        self.assertEqual(shot.pixel(ox + GRAPH_RIGHT, oy + GRAPH_BOTTOM - 59), RED)


class GamesTest(EndToEndTestCase):
    """Each game's page as the game writes it reaches the wire as a speed in km/h. With a manual
    maximum of 200 km/h and the levels 0 to 79, a speed of v km/h gives round(v / 200 * 79)."""

    # (publisher arguments, the combo as logged, the level of the speed given)
    GAMES = [
        (["ac", "--car", "Roadster", "--track", "Hillclimb", "--layout", "Long", "--speed", "100"],
         "Roadster @ Hillclimb Long", 40),
        (["pcars2", "--car", "Formula Rookie", "--track", "Brands Hatch", "--layout", "Indy", "--speed", "150"],
         "Formula Rookie @ Brands Hatch Indy", 59),
        # Today's RaceRoom page, and the layout of its first releases.
        (["r3e", "--car", "GT3 Coupe", "--track", "Lakeview", "--layout", "Short", "--speed", "50"],
         "GT3 Coupe @ Lakeview Short", 20),
        (["r3e", "--version", "1.0", "--car", "Touring Car", "--track", "Harbour", "--layout", "Full",
          "--speed", "180"],
         "Touring Car @ Harbour Full", 71),
    ]

    def test_each_game_gives_its_combo_in_the_log_and_its_speed_on_the_wire(self):
        fan = self.plug(1)
        self.start_ventora()
        session.wait_for_log_line("Connected to COM1")
        session.driver("slider", MAX_CAR_SPEED, 200)
        session.wait_for_log_line(MANUAL_LINE)

        for args, combo, level in self.GAMES:
            with self.subTest(game=" ".join(args[:3])):
                before = len(self.log_lines())
                game = self.start_game(*args)
                try:
                    session.wait_for_log_line("New combo: " + combo)
                    self.assertEqual(self.log_lines()[before:], ["New combo: " + combo])
                    self.wait_for_level(fan, level, len(fan.bytes()))
                    self.assertEqual(self.level_after_next_tick(fan), level)
                finally:
                    # A game that closes leaves its page not live, so the next game starts alone.
                    session.end_publisher(game)
                self.assertEqual(game.returncode, 0)
                self.wait_for_level(fan, DEFAULT_SPEED_OFF, len(fan.bytes()))

    def test_names_beyond_ascii_reach_the_log_as_utf8(self):
        self.start_ventora()
        game = self.start_game("ac", "--car", "Roadster", "--track", "Hillclimb", "--layout", "Long")
        session.wait_for_log_line("New combo: Roadster @ Hillclimb Long")
        # The game writes UTF-16; Ventora logs UTF-8 bytes, which the log pane shows as they are.
        track = "Nürburgring Müllenbach"
        self.tell(game, "track " + track.encode("utf-8").decode("latin-1"))
        session.wait_for_log_line("New combo: Roadster @ " + track.encode("utf-8").decode("latin-1") + " Long")


class PrecedenceTest(EndToEndTestCase):
    """With more than one game live, the later one in the order Assetto Corsa, Project CARS 2,
    RaceRoom drives the fan, whichever became live first."""

    def test_later_game_in_the_order_wins_and_the_earlier_returns_when_it_stops(self):
        fan = self.plug(1)
        # Manual maximum of 200 km/h: each game's speed maps to a level of its own.
        self.start_ventora(settings=(0, DEFAULT_SPEED_OFF, 0, 79, 200))
        session.wait_for_log_line("Connected to COM1")
        ac = self.start_game("ac", "--car", "Roadster", "--track", "Hillclimb", "--layout", "Long",
                             "--speed", "40", "--not-live")
        pcars2 = self.start_game("pcars2", "--car", "Formula Rookie", "--track", "Brands Hatch",
                                 "--layout", "Indy", "--speed", "100", "--not-live")
        r3e = self.start_game("r3e", "--car", "GT3 Coupe", "--track", "Lakeview", "--layout", "Short",
                              "--speed", "160", "--not-live")
        ac_level, pcars2_level, r3e_level = 16, 40, 63
        ac_combo = "New combo: Roadster @ Hillclimb Long"
        pcars2_combo = "New combo: Formula Rookie @ Brands Hatch Indy"
        r3e_combo = "New combo: GT3 Coupe @ Lakeview Short"

        steps = [
            (ac, "live 1", ac_level),          # one game
            (pcars2, "live 1", pcars2_level),  # Project CARS 2 over Assetto Corsa
            (r3e, "live 1", r3e_level),        # RaceRoom over both
            (r3e, "live 0", pcars2_level),     # back to Project CARS 2
            (pcars2, "live 0", ac_level),      # back to Assetto Corsa
            (r3e, "live 1", r3e_level),        # RaceRoom over Assetto Corsa
        ]
        seen = self.wait_for_level(fan, DEFAULT_SPEED_OFF, 0)
        for game, command, level in steps:
            self.tell(game, command)
            seen = self.wait_for_level(fan, level, seen)

        # Project CARS 2 becoming live after RaceRoom does not take over from it.
        log_before = self.log_lines()
        self.tell(pcars2, "live 1")
        self.assertEqual(self.level_after_next_tick(fan), r3e_level)
        fan.wait_for_bytes(len(fan.bytes()) + 3)
        self.assertEqual(self.log_lines(), log_before)

        self.assertEqual(runs(fan.bytes()),
                         [DEFAULT_SPEED_OFF, ac_level, pcars2_level, r3e_level, pcars2_level, ac_level, r3e_level])
        self.assertEqual(self.log_lines(), [
            MANUAL_LINE, "Connected to COM1",
            ac_combo, pcars2_combo, r3e_combo, pcars2_combo, ac_combo, r3e_combo,
        ])


class SavedSettingsTest(EndToEndTestCase):

    def test_restart_brings_back_the_sliders_and_port_of_the_last_run(self):
        com1 = self.plug(1)
        com3 = self.plug(3)
        # A game that runs across both runs of Ventora: the second run opens its sections.
        self.start_game("ac", "--car", "Roadster", "--track", "Hillclimb", "--layout", "Long", "--speed", "100")
        app = self.start_ventora()
        session.wait_for_log_line("Connected to COM1")
        com1.wait_for_bytes(1)

        session.driver("port", 2)
        session.wait_for_log_line("Connected to COM3")
        for slider, position in ((SPEED_OFF, 30), (SPEED_MIN, 10), (SPEED_MAX, 70), (MAX_CAR_SPEED, 250)):
            session.driver("slider", slider, position)
        session.wait_for_log_line(MANUAL_LINE)
        # 100 of 250 km/h between 10 and 70: 34.
        manual_level = 34
        self.wait_for_level(com3, manual_level, 0)
        com1_count = len(com1.bytes())
        self.close_ventora(app)
        self.assertEqual(session.read_settings(), (2, 30, 10, 70, 250))

        com3.clear()
        self.start_ventora(keep_settings=True)
        self.assertEqual([int(session.driver("slider", i)) for i in range(4)], [30, 10, 70, 250])
        self.assertEqual(int(session.driver("port")), 2)
        self.assertEqual(runs(com3.wait_for_bytes(5)[:5]), [manual_level])
        self.assertEqual(self.log_lines()[:3], [
            MANUAL_LINE, "New combo: Roadster @ Hillclimb Long", "Connected to COM3"])
        self.assertEqual(len(com1.bytes()), com1_count, "the old port still received bytes")


class FirstTickTest(EndToEndTestCase):

    def test_start_with_a_live_game_and_a_controller_logs_mode_combo_then_connection(self):
        fan = self.plug(1)
        self.start_game("pcars2", "--car", "Formula Rookie", "--track", "Brands Hatch", "--layout", "Indy",
                        "--speed", "120")
        self.start_ventora()
        session.wait_for_log_line("Connected to COM1")
        self.assertEqual(self.log_lines()[:3], [
            AUTOMATIC_LINE, "New combo: Formula Rookie @ Brands Hatch Indy", "Connected to COM1"])
        # The car holds the top speed it had at the first tick, so the fan runs at speed MAX from the
        # first byte on.
        self.assertEqual(runs(fan.wait_for_bytes(3)), [79])


if __name__ == "__main__":
    unittest.main()
