"""The games' telemetry as the real ventora.exe sees it, with publish_game standing in for each game:
nothing live without a game, a game started later, each game's combo and speed, which game wins
when several are live, and the fatal boxes when a section cannot be had."""

import contextlib
import subprocess
import unittest

from tests.wine.harness import Session, wait_until

AUTOMATIC_LINE = "Automatic maximum car speed detection"
PORT_LINE = "Connected to COM1"
SPEED_OFF_DEFAULT = 26

# The five sections, and the size a game maps each at.
SECTION_NAMES = ("acpmf_physics", "acpmf_graphics", "acpmf_static", "$pcars2$", "$R3E")
SECTION_SIZE = 100000

def log_text(line):
    """A line as the driver hands over the 8-bit log: its UTF-8 bytes, one character per byte."""
    return line.encode("utf-8").decode("latin-1")


class LiveGameTestCase(unittest.TestCase):
    """One Wine session for the class, with a fan controller on COM1: every byte it receives is one
    tick's level, so the tests count ticks and read levels there. Each test starts its own Ventora
    from default settings and its own games, and ends them all."""

    games_udp_ports = False  # see Session

    @classmethod
    def setUpClass(cls):
        cls.session = Session(require=("ventora.exe", "ventora_driver.exe", "publish_game.exe"),
                              games_udp_ports=cls.games_udp_ports)
        cls.addClassCleanup(cls.session.close)
        cls.device = cls.session.plug_port(1)

    def start_ventora(self, show=False):
        self.session.remove_settings()
        self.device.clear()
        app = self.session.start_ventora()
        self.addCleanup(self.session.end_ventora, app)
        # The first tick has run once its mode line is in the log.
        self.session.wait_for_log(lambda text: text != "")
        if show:
            self.show_window()
        return app

    def name_is_free(self, name):
        """True when no kernel object holds the name: a named event can take it."""
        holder = self.session.start_publisher("--event", name)
        try:
            return holder.read_line(60) == "ready"
        finally:
            self.session.end_publisher(holder)

    def show_window(self):
        self.session.driver("tray", "lbuttondown")
        self.session.wait_visible(True)

    def publish(self, *args):
        """Starts a game page; it is taken down again (the game quits) when the test ends."""
        game = self.session.start_publisher(*args)
        self.addCleanup(self.session.end_publisher, game)
        self.assertEqual(game.read_line(60), "ready", f"publish_game {' '.join(args)} did not start")
        return game

    def command(self, game, line):
        game.send_line(line)
        self.assertEqual(game.read_line(), "ok", line)

    def ticks(self, count):
        """Waits until `count` more ticks have sent their level; returns every level sent so far."""
        try:
            return list(self.device.wait_for_bytes(len(self.device.bytes()) + count))
        except TimeoutError as error:
            self.fail(f"{error}; Ventora's log: {self.session.log_lines()!r}")

    def levels_settle_at(self, level, count=3):
        """Waits (ticks, up to a few seconds) until the last `count` levels on the wire are `level`."""
        for _ in range(60):
            if self.ticks(1)[-count:] == [level] * count:
                return
        self.fail(f"the levels did not settle at {level}: {self.device.bytes()[-20:]!r}")

    def wait_for_lines(self, *lines):
        """Waits until the log ends with these lines; returns all its lines."""
        try:
            self.session.wait_for_log(lambda text: text.split("\r\n")[:-1][-len(lines):] == list(lines))
        except TimeoutError:
            self.fail(f"the log does not end with {lines!r}: {self.session.log_lines()!r}")
        return self.session.log_lines()


class GameDetectionTest(LiveGameTestCase):

    def test_started_with_no_game_nothing_is_live_on_any_tick(self):
        self.start_ventora()
        levels = self.ticks(6)
        self.assertEqual(set(levels), {SPEED_OFF_DEFAULT}, "a tick saw a game where none runs")
        self.assertEqual(self.session.log_lines(), [AUTOMATIC_LINE, PORT_LINE])

    def test_game_started_after_ventora_is_seen_on_a_later_tick(self):
        self.start_ventora()
        before = self.ticks(3)
        self.assertEqual(set(before), {SPEED_OFF_DEFAULT})
        # Assetto Corsa opens the three sections Ventora made and writes into them.
        self.publish("ac", "--car", "Roadster", "--track", "Hillclimb", "--layout", "Long", "--speed", "0")
        self.wait_for_lines("New combo: Roadster @ Hillclimb Long")
        # At a standstill on a fresh combo the level is speed MIN (0).
        self.assertEqual(self.ticks(2)[-1], 0)
        self.assertEqual(self.session.log_lines(),
                         [AUTOMATIC_LINE, PORT_LINE, "New combo: Roadster @ Hillclimb Long"])

    def test_game_started_after_ventora_maps_each_section_whole(self):
        # Ventora made them all; a game opens each and maps its whole page.
        self.start_ventora()
        for name in SECTION_NAMES:
            with self.subTest(section=name):
                result = self.session.driver_result("map-section", name, SECTION_SIZE)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertGreaterEqual(int(result.stdout), SECTION_SIZE)

    def test_each_game_gives_its_combo_and_its_speed_in_kmh(self):
        # The speed shows through the top speed learnt from it; the m/s games' speeds are chosen so
        # that the publisher's float times 3.6 comes out exact.
        games = [
            ("Assetto Corsa, names outside ASCII",
             ("ac", "--car", "Škoda Octavia", "--track", "Nürburgring", "--layout", "Südschleife", "--speed", "55.5"),
             "Škoda Octavia @ Nürburgring Südschleife", "55.500000"),
            ("Project CARS 2",
             ("pcars2", "--car", "Formula Renault", "--track", "Brands Hatch", "--layout", "Indy", "--speed", "36"),
             "Formula Renault @ Brands Hatch Indy", "36.000000"),
            ("RaceRoom, original page layout",
             ("r3e", "--version", "1.0", "--car", "BMW M1", "--track", "Hockenheimring", "--layout", "GP",
              "--speed", "72"),
             "BMW M1 @ Hockenheimring GP", "72.000000"),
            ("RaceRoom, today's page layout",
             ("r3e", "--version", "3.4", "--car", "Audi R8 LMS", "--track", "Zolder", "--layout", "Grand Prix",
              "--speed", "108"),
             "Audi R8 LMS @ Zolder Grand Prix", "108.000000"),
        ]
        self.start_ventora()
        for name, args, combo, top_speed in games:
            with self.subTest(game=name):
                game = self.publish(*args)
                # The 8-bit log holds names as UTF-8 bytes: each letter outside ASCII reads as two
                # characters there.
                self.wait_for_lines(log_text("New combo: " + combo), "New max speed: " + top_speed)
                self.session.end_publisher(game)
        self.assertIn(b"New combo: \xc5\xa0koda Octavia @ N\xc3\xbcrburgring S\xc3\xbcdschleife\r\n",
                      self.session.log().encode("latin-1"))

    def test_later_game_in_reading_order_wins_while_several_are_live(self):
        self.start_ventora()
        ac = ("New combo: AC car @ AC track AC layout", "New max speed: 40.000000")
        pcars2 = ("New combo: PC2 car @ PC2 track PC2 layout", "New max speed: 36.000000")
        r3e = ("New combo: R3E car @ R3E track R3E layout", "New max speed: 72.000000")

        self.publish("ac", "--car", "AC car", "--track", "AC track", "--layout", "AC layout", "--speed", "40")
        self.wait_for_lines(*ac)
        second = self.publish("pcars2", "--car", "PC2 car", "--track", "PC2 track", "--layout", "PC2 layout",
                              "--speed", "36")
        self.wait_for_lines(*pcars2)
        third = self.publish("r3e", "--car", "R3E car", "--track", "R3E track", "--layout", "R3E layout",
                             "--speed", "72")
        self.wait_for_lines(*r3e)

        # Project CARS 2 leaves; Assetto Corsa and RaceRoom stay live, and RaceRoom keeps the fan.
        self.session.end_publisher(second)
        self.ticks(4)
        self.assertEqual(self.session.log_lines()[-2:], list(r3e))

        # Once RaceRoom leaves too, Assetto Corsa, live all along, comes back as a new combo.
        self.session.end_publisher(third)
        lines = self.wait_for_lines(*ac)
        self.assertEqual(lines, [AUTOMATIC_LINE, PORT_LINE, *ac, *pcars2, *r3e, *ac])

    def test_game_that_leaves_the_live_state_drops_out(self):
        self.start_ventora()
        game = self.publish("r3e", "--car", "GT3", "--track", "Spa", "--layout", "GP", "--speed", "0")
        self.wait_for_lines("New combo: GT3 @ Spa GP")
        self.command(game, "live 0")
        self.ticks(2)
        self.assertEqual(self.ticks(3)[-3:], [SPEED_OFF_DEFAULT] * 3)
        # Back in the same combo: nothing new to announce.
        self.command(game, "live 1")
        self.ticks(2)
        self.assertEqual(self.ticks(3)[-3:], [0] * 3)
        self.assertEqual(self.session.log_lines(), [AUTOMATIC_LINE, PORT_LINE, "New combo: GT3 @ Spa GP"])


class FatalStartTest(LiveGameTestCase):
    """A section that cannot be had stops the start-up with a box the user must acknowledge."""

    def probe_box(self, subcommand, caption):
        return self.session.driver_result(subcommand, caption)

    def wait_for_error_box(self, app):
        """The controls of the box captioned "Error" once it shows: [(class, id, text)]. The box gets
        its caption before its text and shows only when both are set."""
        def shown():
            if not app.running():
                self.fail(f"Ventora ended with {app.returncode} without a box")
            result = self.probe_box("message-box", "Error")
            rows = [line.split("\t") for line in result.stdout.splitlines()] if result.returncode == 0 else []
            return rows if rows and rows[0][2] == "1" else None
        rows = wait_until(shown, 60, interval=0.2)
        self.assertEqual(rows[0][1], "#32770", "the window captioned Error is not a message box")
        return [(kind, int(ident), text) for _, kind, ident, text in rows[1:]]

    def dismiss(self, app):
        """Presses OK if the box is still up, and leaves no Ventora behind."""
        if app.running():
            self.probe_box("press-ok", "Error")
            try:
                app.wait(15)
            except subprocess.TimeoutExpired:
                pass
        app.kill()

    def test_a_section_that_cannot_be_had_ends_the_start_with_its_name_in_an_error_box(self):
        cases = [
            # (what takes the name first, the text shown, a later row that must not have been made)
            (("--event", "acpmf_physics"), "CreateFileMapping failed: acpmf_physics", "acpmf_graphics"),
            (("--event", "$R3E"), "CreateFileMapping failed: $R3E", None),
            (("pcars2", "--section-size", "4096"), "MapViewOfFile failed: $pcars2$", "$R3E"),
            (("r3e", "--section-size", "4096"), "MapViewOfFile failed: $R3E", None),
        ]
        for holder_args, text, later_row in cases:
            with self.subTest(text=text), contextlib.ExitStack() as case:
                holder = self.session.start_publisher(*holder_args)
                case.callback(self.session.end_publisher, holder)
                self.assertEqual(holder.read_line(60), "ready")
                self.session.remove_settings()
                app = self.session.start_ventora(wait=False)
                case.callback(self.dismiss, app)

                controls = self.wait_for_error_box(app)
                self.assertIn(("Static", 0xFFFF, text), controls)
                self.assertEqual([c for c in controls if c[0] == "Button"], [("Button", 1, "OK")])
                if later_row:
                    self.assertTrue(self.name_is_free(later_row), f"{later_row} was made after the failure")
                if holder_args[0] == "pcars2":
                    # The rows before the failing one are held: a named event cannot take them.
                    self.assertFalse(self.name_is_free("acpmf_physics"))

                self.assertEqual(self.probe_box("press-ok", "Error").returncode, 0)
                self.assertEqual(app.wait(30), 1)
                self.assertIsNone(self.session.read_settings(), "a settings file was written")


if __name__ == "__main__":
    unittest.main()
