"""The application shell as a user meets it: the hidden start in the tray, the tray icon and the
window, the controls and their layout, the log pane, closing, a second start, a restarted shell,
and what the shown window puts on the screen."""

import subprocess
import unittest

from tests.wine.harness import DESKTOP_SIZE, REPO_ROOT, Session, wait_until

AUTOMATIC_LINE = "Automatic maximum car speed detection"
MANUAL_LINE = "Manual maximum car speed"

# Slider indices in creation order.
SPEED_OFF, SPEED_MIN, SPEED_MAX, MAX_CAR_SPEED = range(4)

WS_BORDER = 0x00800000
WS_VISIBLE = 0x10000000
WS_CLIPSIBLINGS = 0x04000000
ES_READONLY = 0x0800

# Every control as the window is designed: class, creation text, style word, x, y, width, height.
LAYOUT = [
    ("Static", "Port:", 0x50010002, 10, 20, 100, 20),
    ("Static", "Speed OFF:", 0x50010002, 10, 50, 100, 20),
    ("Static", "Speed MIN:", 0x50010002, 10, 80, 100, 20),
    ("Static", "Speed MAX:", 0x50010002, 10, 110, 100, 20),
    ("Static", "Max car speed:", 0x50010002, 10, 140, 100, 20),
    ("ComboBox", "", 0x50000203, 130, 15, 100, 30),
    ("msctls_trackbar32", "", 0x50000120, 120, 45, 350, 30),
    ("msctls_trackbar32", "", 0x50000120, 120, 75, 350, 30),
    ("msctls_trackbar32", "", 0x50000120, 120, 105, 350, 30),
    ("msctls_trackbar32", "", 0x50000120, 120, 135, 350, 30),
    ("Edit", "", 0x50A018C4, 10, 262, 465, 189),
]

# The log pane's documented bound, in characters (logPaneCapacity in app/log_pane.cpp).
LOG_CAPACITY = 30000

ARTIFACTS = REPO_ROOT / "build" / "wine-artifacts"

TRAY_MESSAGES_OTHER_THAN_LEFT_PRESS = [
    "mousemove", "lbuttonup", "lbuttondblclk", "rbuttondown", "rbuttonup", "rbuttondblclk",
    "mbuttondown", "mbuttonup", "contextmenu",
]


class VentoraTestCase(unittest.TestCase):
    """One Wine session for the class; each test starts its own Ventora from default settings."""

    @classmethod
    def setUpClass(cls):
        cls.session = Session()
        cls.addClassCleanup(cls.session.close)

    def start_ventora(self, keep_settings=False):
        if not keep_settings:
            self.session.remove_settings()
        app = self.session.start_ventora()
        self.addCleanup(self.session.end_ventora, app)
        # The first tick has run once its mode line is in the log.
        self.session.wait_for_log(lambda text: text != "")
        return app

    def driver(self, *args):
        return self.session.driver(*args)

    def state(self):
        """(visible, minimised, foreground) of the main window."""
        return tuple(field == "1" for field in self.driver("state").split())

    def show_window(self):
        self.driver("tray", "lbuttondown")
        self.session.wait_visible(True)


class TrayAndWindowTest(VentoraTestCase):

    def test_ordinary_start_stays_hidden_with_tray_icon(self):
        self.start_ventora()
        self.assertFalse(self.session.visible())
        self.assertTrue(self.session.tray_present())

    def test_left_press_on_tray_icon_shows_the_window_and_the_next_hides_it(self):
        self.start_ventora()
        self.driver("tray", "lbuttondown")
        self.session.wait_visible(True)
        visible, minimised, foreground = self.state()
        self.assertFalse(minimised)
        self.assertTrue(foreground, "the window came up behind other windows")
        self.driver("tray", "lbuttondown")
        self.session.wait_visible(False)

    def test_other_tray_mouse_messages_leave_the_window_as_it_is(self):
        self.start_ventora()
        for message in TRAY_MESSAGES_OTHER_THAN_LEFT_PRESS:
            with self.subTest(message=message, window="hidden"):
                self.driver("tray", message)
                self.driver("sync")
                shown = self.session.visible()
                if shown:
                    # Hidden again, so that the next message starts from the same state.
                    self.driver("tray", "lbuttondown")
                    self.session.wait_visible(False)
                self.assertFalse(shown)
        self.show_window()
        self.driver("tray", *TRAY_MESSAGES_OTHER_THAN_LEFT_PRESS)
        self.driver("sync")
        self.assertTrue(self.session.visible())

    def test_minimise_hides_the_window_until_the_tray_icon_brings_it_back(self):
        self.start_ventora()
        self.show_window()
        self.driver("minimize")
        self.session.wait_visible(False)
        self.assertFalse(self.state()[1], "the window was minimised instead of hidden")
        self.driver("tray", "lbuttondown")
        self.session.wait_visible(True)
        self.assertEqual(self.state()[:2], (True, False))

    def test_closing_the_window_ends_with_code_zero_and_removes_the_tray_icon(self):
        app = self.start_ventora()
        window = self.session.wait_for_window()
        self.assertTrue(self.session.tray_present(window))
        self.assertEqual(self.session.close_ventora(app), 0)
        self.assertFalse(self.session.tray_present(window))

    def test_real_click_on_the_tray_icon_shows_the_window(self):
        self.start_ventora()
        icons = self.session.tray_icons()
        self.assertEqual(len(icons), 1, icons)
        # The mouse passes over the icon, presses and lets go: only the press acts.
        self.session.click(*icons[0])
        self.session.wait_visible(True)
        self.driver("sync")
        self.assertTrue(self.session.visible())

    def test_second_start_shows_the_running_window_and_leaves(self):
        first = self.start_ventora()
        window = self.session.wait_for_window()
        self.assertEqual(len(self.session.tray_icons()), 1)
        tray_before = self.tray_area()

        second = self.session.start(self.session.build / "ventora.exe", name="second")
        self.assertEqual(second.wait(30), 0)

        self.session.wait_visible(True)
        self.assertEqual(self.state(), (True, False, True))
        self.assertTrue(first.running())
        self.assertEqual(self.session.wait_for_window(), window)
        self.assertTrue(self.session.tray_present(window))
        self.assertEqual(len(self.session.tray_icons()), 1)
        self.assertEqual(self.tray_area(), tray_before, "the tray's icons changed")

    def test_second_start_brings_the_shown_window_from_behind_another_to_the_front(self):
        first = self.start_ventora()
        self.show_window()
        cover = self.session.start(self.session.build / "ventora_driver.exe", "cover", name="cover")
        self.addCleanup(cover.kill)
        cover.wait_for_output(r"0x[0-9a-f]+\n")
        self.assertEqual(self.state(), (True, False, False), "the other window did not come in front")

        second = self.session.start(self.session.build / "ventora.exe", name="second")
        self.assertEqual(second.wait(30), 0)
        wait_until(lambda: self.state() == (True, False, True), 30, interval=0.1,
                   message=lambda: f"(visible, minimised, foreground) stays {self.state()}")
        self.assertTrue(first.running())

    def test_tray_icon_comes_back_when_the_shell_restarts(self):
        self.start_ventora()
        self.driver("tray-remove")
        self.assertFalse(self.session.tray_present())
        self.driver("taskbar-created")
        wait_until(self.session.tray_present, 30, interval=0.1, message="the tray icon did not come back")
        wait_until(lambda: len(self.session.tray_icons()) == 1, 30, interval=0.2,
                   message=lambda: f"tray icons: {self.session.tray_icons()}")
        # It is the working icon: its click still reaches the window.
        self.driver("tray", "lbuttondown")
        self.session.wait_visible(True)

    def tray_area(self):
        """The right part of the desktop's taskbar, where the tray icons sit; window buttons stay left of it."""
        shot = self.session.screenshot()
        width, height = DESKTOP_SIZE
        return [shot.pixel(x, y) for y in range(height - 20, height) for x in range(width - 200, width)]


class LayoutTest(VentoraTestCase):
    """Checks that only read the window share one running Ventora."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.session.remove_settings()
        cls.app = cls.session.start_ventora()
        cls.session.wait_for_log(lambda text: text != "")

        def end():
            if cls.app.running():
                cls.session.driver_result("close")
                try:
                    cls.app.wait(15)
                except subprocess.TimeoutExpired:
                    pass
            cls.app.kill()
        cls.addClassCleanup(end)

    def test_controls_stand_where_the_window_places_them(self):
        rows = [line.split("\t") for line in self.driver("controls").splitlines()]
        self.assertEqual(len(rows), len(LAYOUT), rows)
        for row, expected in zip(rows, LAYOUT):
            name, text, style, x, y, width, height = expected
            with self.subTest(control=text or name, index=LAYOUT.index(expected)):
                self.assertEqual(row[0].lower(), name.lower())
                self.assertEqual(row[1], text)
                actual_style = int(row[2], 16)
                if name == "Edit":
                    # The edit control takes WS_BORDER out of its style and draws the border itself.
                    actual_style |= WS_BORDER
                self.assertEqual(hex(actual_style), hex(style))
                self.assertEqual([int(v) for v in row[3:6]], [x, y, width])
                if name != "ComboBox":
                    # A drop-down list's window is only its selection field, whatever the list's height.
                    self.assertEqual(int(row[6]), height)

    def test_main_window_is_a_fixed_500_by_500_frame(self):
        style, ex_style, left, top, right, bottom, _, _ = self.driver("style").split()
        # The system adds WS_CLIPSIBLINGS to every top-level window.
        self.assertEqual(hex(int(style, 16) & ~(WS_CLIPSIBLINGS | WS_VISIBLE)), hex(0x00CA0000))
        self.assertEqual((int(right) - int(left), int(bottom) - int(top)), (500, 500))

    def test_slider_ranges_and_selection_bands(self):
        expected = {
            SPEED_OFF: ((0, 79), None),
            SPEED_MIN: ((-20, 79), (0, 79)),
            SPEED_MAX: ((0, 99), (0, 79)),
            MAX_CAR_SPEED: ((0, 400), None),
        }
        for index, (limits, band) in expected.items():
            with self.subTest(slider=index):
                low, high, band_start, band_end = map(int, self.driver("slider-info", index).split())
                self.assertEqual((low, high), limits)
                if band:
                    self.assertEqual((band_start, band_end), band)
                else:
                    self.assertEqual(band_start, band_end, "a selection band shows on a slider without one")

    def test_sliders_reach_past_the_fan_levels_where_the_mapping_needs_it(self):
        self.addCleanup(self.driver, "slider", SPEED_MIN, 0)
        self.addCleanup(self.driver, "slider", SPEED_MAX, 79)
        self.addCleanup(self.driver, "slider", MAX_CAR_SPEED, 0)
        for index, position in ((SPEED_MIN, -20), (SPEED_MAX, 99), (MAX_CAR_SPEED, 400)):
            with self.subTest(slider=index, position=position):
                self.assertEqual(int(self.driver("slider", index, position)), position)
                beyond = position - 1 if position < 0 else position + 1
                self.assertEqual(int(self.driver("slider", index, beyond)), position)

    def test_port_list_offers_com1_to_com9(self):
        self.assertEqual(self.driver("port-items").split(), [f"COM{n}" for n in range(1, 10)])


class LogPaneTest(VentoraTestCase):

    def test_first_line_announces_automatic_speed_detection(self):
        self.start_ventora()
        self.assertTrue(self.session.log().startswith(AUTOMATIC_LINE + "\r\n"), self.session.log())

    def test_user_cannot_type_into_the_log(self):
        self.start_ventora()
        edit_style = int(self.driver("controls").splitlines()[-1].split("\t")[2], 16)
        self.assertTrue(edit_style & ES_READONLY)
        before = self.session.log()
        self.driver("select-log", 0, 4)
        self.driver("type-log", "typed\bX\r")
        self.assertEqual(self.session.log(), before)

    def test_new_line_lands_at_the_end_even_when_the_user_has_selected_text(self):
        self.start_ventora()
        before = self.session.log()
        self.driver("select-log", 0, 9)
        self.driver("slider", MAX_CAR_SPEED, 200)
        after = self.session.wait_for_log(lambda text: text != before)
        self.assertEqual(after, before + MANUAL_LINE + "\r\n")
        self.assertEqual(self.driver("log-selection").split(), [str(len(after))] * 2,
                         "the user's selection survived the append")

    def test_log_drops_oldest_whole_lines_and_keeps_the_newest_in_view(self):
        self.start_ventora()
        # Lines written over a long run, standing in for days of events: just under the bound.
        filler = "earlier event "
        line_length = len(filler) + 6 + 2
        count = (LOG_CAPACITY - len(self.session.log()) - 100) // line_length
        self.driver("fill-log", filler, count)
        # Then real events: each move of the maximum-speed slider between 0 and 200 writes a mode line.
        moves = 40
        # Each move waits for Ventora's next ticks; the guard only stops a hang, so it allows every
        # move its own 10 s before giving up.
        sweep = self.session.driver_result("sweep-slider", MAX_CAR_SPEED, moves, 10000, 200, 0,
                                           timeout=moves * 10 + 60)
        self.assertEqual(sweep.returncode, 0,
                         f"only {sweep.stdout.strip()} of {moves} slider moves showed a new line: the log is full")

        text = self.session.log()
        self.assertLessEqual(len(text), LOG_CAPACITY)
        self.assertGreater(len(text), LOG_CAPACITY - 200, "far more was dropped than needed")
        lines = text.split("\r\n")
        self.assertEqual(lines[-1], "", "the log does not end with a line break")
        newest = lines[-1 - moves:-1]
        self.assertEqual(newest, [MANUAL_LINE, AUTOMATIC_LINE] * (moves // 2))
        kept = lines[:-1 - moves]
        # What is left of the old text starts at a line's beginning and runs on without a gap.
        self.assertRegex(kept[0], rf"^{filler}\d{{6}}$")
        first = int(kept[0][len(filler):])
        self.assertGreater(first, 0, "nothing was dropped")
        self.assertEqual(kept, [f"{filler}{n:06d}" for n in range(first, count)])

        line_count, _, newest_top, line_height, view_height = map(int, self.driver("log-view").split())
        self.assertEqual(line_count, len(lines))
        self.assertGreaterEqual(newest_top, 0)
        self.assertLessEqual(newest_top + line_height, view_height, "the newest line is out of view")


class ClosingTest(VentoraTestCase):

    def test_closing_saves_the_settings_that_the_next_start_shows(self):
        app = self.start_ventora()
        device = self.session.plug_port(2)
        self.addCleanup(self.session.unmap_port, 2)
        self.driver("port", 1)
        self.session.wait_for_log_line("Connected to COM2")
        device.wait_for_bytes(1)
        self.driver("slider", SPEED_OFF, 40)
        self.driver("slider", SPEED_MIN, -5)
        self.driver("slider", SPEED_MAX, 90)
        self.driver("slider", MAX_CAR_SPEED, 250)
        # The mode line shows that a tick has read the sliders back.
        self.session.wait_for_log_line(MANUAL_LINE)
        self.assertEqual(self.session.close_ventora(app), 0)
        self.assertEqual(self.session.read_settings(), (1, 40, -5, 90, 250))

        self.start_ventora(keep_settings=True)
        self.assertEqual([int(self.driver("slider", i)) for i in range(4)], [40, -5, 90, 250])
        self.assertEqual(int(self.driver("port")), 1)
        self.assertTrue(self.session.log().startswith(MANUAL_LINE + "\r\n"), self.session.log())


class ScreenshotTest(VentoraTestCase):

    def test_shown_window_draws_the_graph_over_the_button_face(self):
        self.start_ventora()
        self.show_window()
        ox, oy = self.session.client_origin()
        frame_corners = [(10, 170), (473, 170), (10, 251), (473, 251)]

        def shot_with_graph():
            shot = self.session.screenshot()
            return shot if all(shot.pixel(ox + x, oy + y) == (0, 0, 0) for x, y in frame_corners) else None
        shot = wait_until(shot_with_graph, 30, interval=0.2, message="the graph's frame never showed")
        shot.desktop().save_png(ARTIFACTS / "shell-window.png")

        black, white, blue, red = (0, 0, 0), (255, 255, 255), (0, 0, 255), (255, 0, 0)
        button_face = tuple(map(int, self.driver("sys-color", 15).split()))
        expected = {
            # Frame edges between the corners.
            (241, 170): black, (10, 211): black, (473, 211): black, (241, 251): black,
            # Interior away from the line and the dots.
            (12, 172): white, (300, 240): white, (60, 180): white,
            # The mapping line of the default settings (0 to 79): its ends and its middle.
            (11, 250): blue, (472, 171): blue, (241, 211): blue,
            # The newest output, speed OFF (26) while no game runs, at the right edge.
            (472, 250 - 26): red,
            # The window's background outside the controls and the graph.
            (5, 5): button_face, (5, 160): button_face, (480, 200): button_face,
        }
        for (x, y), colour in expected.items():
            with self.subTest(client=(x, y)):
                self.assertEqual(shot.pixel(ox + x, oy + y), colour)


if __name__ == "__main__":
    unittest.main()
