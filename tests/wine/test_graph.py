"""The fan level and its graph as the real ventora.exe shows them, with publish_game as the game and a
fan controller on COM1: the log of a run through the worked example, the graph read back pixel by
pixel from the screen, and a repaint that never erases what is on the screen."""

import re
import unittest

from tests.wine.harness import REPO_ROOT, wait_until
from tests.wine.test_telemetry import AUTOMATIC_LINE, PORT_LINE, SPEED_OFF_DEFAULT, LiveGameTestCase

# Slider indices in creation order.
SPEED_MIN, SPEED_MAX = 1, 2

ARTIFACTS = REPO_ROOT / "build" / "wine-artifacts"

BLACK, WHITE, BLUE, RED = (0, 0, 0), (255, 255, 255), (0, 0, 255), (255, 0, 0)

# The graph in client coordinates: the frame's outer columns and rows, and the interior within.
FRAME_COLUMNS = (10, 473)
FRAME_ROWS = (170, 251)
INTERIOR_COLUMNS = range(11, 473)
INTERIOR_ROWS = range(171, 251)

# The worked example's course: (publisher command, the level of the ticks that follow it).
WORKED_EXAMPLE = [
    ("live 1", 0),       # a new combo at a standstill: speed MIN
    ("speed 50", 79),    # rising: speed MAX
    ("speed 120", 79),
    ("speed 100", 66),   # the rise ended at 120: 65.8333
    ("speed 60", 40),    # 39.5, half away from zero
    ("live 0", 26),      # the game in its menus: speed OFF
    ("speed 90", 26),
    ("live 1", 59),      # the same combo again, its maximum kept: 59.25
]

# Points of the mapping line for slider positions (MIN, MAX), as (column, row).
LINE_POINTS = {
    (0, 79): [(11, 250), (13, 250), (14, 249), (241, 211), (242, 210), (469, 172), (470, 171), (472, 171)],
    (10, 70): [(11, 240), (472, 180)],
    (-20, 99): [(11, 250), (90, 250), (91, 249), (392, 172), (393, 171), (472, 171)],
    (79, 0): [(11, 171), (241, 210), (242, 211), (472, 250)],
    (50, 50): [(11, 200), (241, 200), (472, 200)],
}


def runs(levels):
    """The levels with repeats of one tick to the next folded: the course of a run."""
    folded = []
    for level in levels:
        if not folded or folded[-1] != level:
            folded.append(level)
    return folded


class GraphView:
    """The graph's part of a screenshot, addressed in client coordinates of the main window."""

    def __init__(self, shot, origin):
        self.shot, self.origin = shot, origin

    def pixel(self, x, y):
        return self.shot.pixel(self.origin[0] + x, self.origin[1] + y)

    def rows_of(self, x, colour):
        return [y for y in INTERIOR_ROWS if self.pixel(x, y) == colour]

    def frame_faults(self):
        edges = [(x, y) for x in FRAME_COLUMNS for y in range(FRAME_ROWS[0], FRAME_ROWS[1] + 1)]
        edges += [(x, y) for y in FRAME_ROWS for x in range(FRAME_COLUMNS[0], FRAME_COLUMNS[1] + 1)]
        return [(x, y, self.pixel(x, y)) for x, y in edges if self.pixel(x, y) != BLACK]

    def surround_faults(self, background):
        """Pixels of the ring just outside the frame that are not the window's background: the copy
        to the window reaches no further than the frame."""
        left, right, top, bottom = FRAME_COLUMNS[0] - 1, FRAME_COLUMNS[1] + 1, FRAME_ROWS[0] - 1, FRAME_ROWS[1] + 1
        ring = [(x, y) for x in (left, right) for y in range(top, bottom + 1)]
        ring += [(x, y) for y in (top, bottom) for x in range(left, right + 1)]
        return [(x, y, self.pixel(x, y)) for x, y in ring if self.pixel(x, y) != background]

    def foreign_colours(self):
        """Interior pixels that are neither background, line nor dot."""
        return [(x, y, self.pixel(x, y)) for x in INTERIOR_COLUMNS for y in INTERIOR_ROWS
                if self.pixel(x, y) not in (WHITE, BLUE, RED)]

    def dots(self):
        """The dots' levels from the right edge leftwards (newest first), up to the first column without
        one; and the columns further left that still show red."""
        columns = list(reversed(INTERIOR_COLUMNS))
        levels = []
        for at, x in enumerate(columns):
            reds = self.rows_of(x, RED)
            if not reds:
                return levels, [c for c in columns[at + 1:] if self.rows_of(c, RED)]
            if len(reds) != 1:
                raise AssertionError(f"column {x} holds {len(reds)} dots")
            levels.append(250 - reds[0])
        return levels, []


class GraphTestCase(LiveGameTestCase):

    def drive(self, game, course):
        """Plays a course of publisher commands, each held until ticks have read it. Three ticks: the
        first may have read the page just before the change."""
        for command, level in course:
            with self.subTest(command=command):
                self.command(game, command)
                self.assertEqual(self.ticks(3)[-1], level)

    def graph(self, save_as=None):
        origin = self.session.client_origin()
        return GraphView(self.session.screenshot(save_as), origin)


class WorkedExampleTest(GraphTestCase):

    def test_run_through_the_worked_example_logs_its_lines_in_order_and_sends_its_levels(self):
        # Assetto Corsa publishes km/h, so 120 reaches Ventora as exactly 120.
        game = self.publish("ac", "--car", "Roadster", "--track", "Hillclimb", "--layout", "Long", "--not-live")
        self.start_ventora()
        self.assertEqual(self.ticks(1)[-1], SPEED_OFF_DEFAULT)
        self.drive(game, WORKED_EXAMPLE)

        # Each speed is held for some ticks, so the rise to 50 ends, and is announced, before the
        # rise to 120 starts; 120 is announced once its rise ends, and the return after the menus is
        # not a new combo.
        self.assertEqual(self.session.log_lines(), [
            AUTOMATIC_LINE, PORT_LINE, "New combo: Roadster @ Hillclimb Long", "New max speed: 50.000000",
            "New max speed: 120.000000"])
        self.assertEqual(runs(self.device.bytes()), [26, 0, 79, 66, 40, 26, 59])


class GraphPixelTest(GraphTestCase):

    def test_graph_shows_frame_interior_default_line_and_one_dot_per_tick_newest_at_the_right(self):
        game = self.publish("ac", "--car", "Roadster", "--track", "Hillclimb", "--layout", "Long", "--not-live")
        self.start_ventora(show=True)
        self.ticks(1)
        # Levels from the bottom row (0) to the top row (79) and back to speed OFF.
        self.drive(game, WORKED_EXAMPLE[:6])

        view = self.graph(save_as=ARTIFACTS / "graph-dots.png")
        # One more tick's byte, so that the bytes cover every tick the screenshot can show.
        sent = self.ticks(1)

        self.assertEqual(view.frame_faults(), [])
        self.assertEqual(view.foreign_colours(), [])
        button_face = tuple(map(int, self.session.driver("sys-color", 15).split()))
        self.assertEqual(view.surround_faults(button_face), [])
        for x, y in LINE_POINTS[(0, 79)]:
            with self.subTest(line_point=(x, y)):
                self.assertEqual(view.pixel(x, y), BLUE)

        dots, stray = view.dots()
        self.assertEqual(stray, [], "red left of the oldest dot")
        self.assertLess(len(dots), len(INTERIOR_COLUMNS), "the run was meant to fit the graph")
        # The dots are the History, newest first: the levels the port had received when the screen
        # was captured (with runs of different lengths only one count of them lines up), then the
        # first tick's level, never sent because the port was connected at the end of that tick.
        shown = next((n for n in range(len(sent), 0, -1) if dots[:n] == sent[:n][::-1]), None)
        self.assertIsNotNone(shown, f"dots {runs(dots)} do not follow the levels sent {runs(sent[::-1])}")
        self.assertEqual(dots[shown:], [SPEED_OFF_DEFAULT])
        self.assertEqual(runs(dots), [26, 40, 66, 79, 0, 26])

    def test_moving_min_and_max_sliders_redraws_the_mapping_line(self):
        self.start_ventora(show=True)
        origin = self.session.client_origin()
        for (low, high), points in LINE_POINTS.items():
            with self.subTest(speed_min=low, speed_max=high):
                self.session.driver("slider", SPEED_MIN, low)
                self.session.driver("slider", SPEED_MAX, high)

                def redrawn():
                    view = GraphView(self.session.screenshot(), origin)
                    return view if all(view.pixel(x, y) == BLUE for x, y in points) else None
                try:
                    view = wait_until(redrawn, 30, interval=0.2)
                except TimeoutError:
                    view = self.graph(save_as=ARTIFACTS / f"graph-line-{low}-{high}.png")
                    self.fail(f"line points {[(p, view.pixel(*p)) for p in points]}")

                self.assertEqual(view.frame_faults(), [])
                self.assertEqual(view.foreign_colours(), [])
                self.assert_one_unbroken_line(view, low, high)

    def assert_one_unbroken_line(self, view, low, high):
        """One blue pixel a column, unless a dot covers it, climbing (or falling) by at most one row a
        column: the mapping's steepest slope is 119 levels over 461 steps."""
        rows = {}
        for x in INTERIOR_COLUMNS:
            blue = view.rows_of(x, BLUE)
            self.assertLessEqual(len(blue), 1, f"column {x} has the line on rows {blue}")
            if blue:
                rows[x] = blue[0]
            else:
                self.assertTrue(view.rows_of(x, RED), f"column {x} has no line and no dot over it")
        direction = (high > low) - (high < low)
        columns = sorted(rows)
        for left, right in zip(columns, columns[1:]):
            climb = rows[left] - rows[right]
            self.assertLessEqual(abs(climb), right - left, f"the line jumps between columns {left} and {right}")
            self.assertIn((climb > 0) - (climb < 0), (0, direction), f"the line turns at column {right}")


class NoFlickerTest(GraphTestCase):

    SPY = re.compile(r"spy_enter_message\s+\((0x[0-9a-f]+)\).*?\[[0-9a-f]{4}\] (WM_\w+) (?:dispatched|sent)")

    def start_ventora_with_message_trace(self):
        """Ventora with Wine's message spy on: every message its windows get, written to a file."""
        self.session.remove_settings()
        app = self.session.start(self.session.build / "ventora.exe", env={"WINEDEBUG": "+message"})
        self.addCleanup(self.session.end_ventora, app)
        return app, self.session.wait_for_window(app)

    def messages_to(self, app, window):
        return [name for handle, name in self.SPY.findall(app.stdout()) if int(handle, 16) == window]

    def test_tick_repaints_the_graph_without_erasing_the_background(self):
        app, window = self.start_ventora_with_message_trace()
        self.session.wait_for_log(lambda text: text != "")
        if "spy_enter_message" not in app.stdout():
            self.skipTest("this Wine build writes no message trace")
        self.show_window()

        def after_show():
            messages = self.messages_to(app, window)
            return messages[messages.index("WM_SHOWWINDOW"):] if "WM_SHOWWINDOW" in messages else []
        wait_until(lambda: after_show().count("WM_PAINT") >= 20, 60, interval=0.2,
                   message="the shown window was not repainted tick after tick")
        messages = after_show()

        # Showing a window erases it before its first paint: the trace does see erasing.
        self.assertIn("WM_ERASEBKGND", messages[:messages.index("WM_PAINT")])
        ticks = messages[messages.index("WM_PAINT") + 1:]
        self.assertGreaterEqual(ticks.count("WM_PAINT"), 19)
        self.assertEqual(ticks.count("WM_ERASEBKGND"), 0, "a tick's repaint erased the window first")


if __name__ == "__main__":
    unittest.main()
