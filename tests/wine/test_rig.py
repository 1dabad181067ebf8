"""The whole rig simulated: ventora.exe under Wine, publish_game as the game, and the simulated
board running the PWM fan firmware behind Optiboot as the fan controller on COM1, through a pty as
a real Uno would be reached through its USB serial port, resetting when Ventora opens it."""

import re
import time
import unittest

from tests.wine.harness import Session
from tests.wine.rig import RigBoard, connect_board

TOP_SPEED_KMH = 240


def duty_of_level(level):
    """The firmware's rule, worked out here on its own: level 0 is off, level 1 is 30 % of 320
    counts, level 79 (and above) is all 320, linear between, to the nearest count."""
    level = min(level, 79)
    return 0 if level == 0 else int(96 + (level - 1) * (320 - 96) / 78 + 0.5)


class RigTest(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        cls.session = Session(require=("ventora.exe", "ventora_driver.exe", "publish_game.exe"))
        cls.addClassCleanup(cls.session.close)
        cls.board = RigBoard()
        cls.addClassCleanup(cls.board.stop)

    def steady_state(self, speed, game):
        """Sets the car's speed and returns the board's state once the level has held for a
        second, the duty having had time to follow (a kick-start lasts half of one)."""
        game.send_line(f"speed {speed}")
        self.assertEqual(game.read_line(), "ok")
        previous = None
        for _ in range(30):
            time.sleep(1.0)
            state = self.board.latest()
            if previous and state.level == previous.level and state.count == duty_of_level(state.level):
                return state
            previous = state
        self.fail(f"the board did not settle at {speed} km/h: {self.board.lines[-8:]}")

    def test_duty_follows_the_car_speed_and_the_fans_stop_when_ventora_is_closed(self):
        session = self.session
        # COM1, OFF 0, MIN 0, MAX 79, a manual top speed: no learning lap needed.
        session.write_settings(0, 0, 0, 79, TOP_SPEED_KMH)
        connect_board(session, 1, self.board)
        self.addCleanup(session.unmap_port, 1)
        # Straight all the way: this is about the level following the speed, which both fans then
        # show alike (the split through corners has its own cases).
        game = session.start_publisher("ac", "--car", "Roadster", "--track", "Hillclimb", "--layout", "Long",
                                       "--speed", "0", "--corner", "0")
        self.addCleanup(session.end_publisher, game)
        self.assertEqual(game.read_line(60), "ready")
        events_before = len(self.board.events)
        app = session.start_ventora()
        self.addCleanup(session.end_ventora, app)

        # Ventora opens the port and the board resets; the bootloader reads Ventora's first levels
        # (at 9600 baud, noise to it) and starts the firmware, which then follows Ventora.
        reset_wall, _, _ = self.board.wait_for_event("reset", timeout=90, start=events_before)
        _, _, started = self.board.wait_for_event("firmware started", timeout=10, start=events_before)
        self.assertGreater(int(re.search(r"read (\d+) bytes", started)[1]), 0, started)
        first = self.board.wait_for(lambda state: state.level is not None, timeout=10)
        self.assertLess(first.wall - reset_wall, 2.5, self.board.lines[-8:])

        slow = self.steady_state(60, game)
        full = self.steady_state(TOP_SPEED_KMH, game)
        middle = self.steady_state(120, game)
        self.assertEqual((full.level, full.count), (79, 320))
        self.assertLess(0, slow.level)
        self.assertLess(slow.level, middle.level)
        self.assertLess(middle.level, full.level)
        self.assertTrue(slow.power and middle.power and full.power)

        # A lap: the duty rises and falls with the car's speed, from 60 km/h to the top and back.
        lap_start = len(self.board.report())
        game.send_line(f"lap 4 60 {TOP_SPEED_KMH}")
        self.assertEqual(game.read_line(), "ok")
        # A byte every 100 ms samples the lap in steps of about 3 levels, missing its ends by up to 5.
        for _ in range(2):
            low = self.board.wait_for(lambda state: state.level <= slow.level + 5, start=lap_start)
            high = self.board.wait_for(lambda state: state.level >= 74, start=self.board.report().index(low))
            lap_start = self.board.report().index(high)

        # Every line's duty is its level's, but for the half second of a kick-start at full duty,
        # and for a line that shows a new level a moment before its duty (the board can print
        # between a byte's arrival and the firmware acting on it when the host is busy): the next
        # line, a few milliseconds on, must then show that level's duty.
        powered_at = None
        report = self.board.report()
        for index, state in enumerate(report):
            if state.level is None:
                continue
            powered_at = (powered_at if powered_at is not None else state.seconds) if state.power else None
            if state.count == 320 and powered_at is not None and state.seconds - powered_at <= 0.55:
                continue
            following = report[index + 1] if index + 1 < len(report) else None
            if (following and following.level == state.level and following.seconds - state.seconds <= 0.02
                    and following.count == duty_of_level(state.level)):
                continue
            self.assertEqual(state.count, duty_of_level(state.level), state.text)

        start = len(self.board.report())
        self.assertEqual(session.close_ventora(app), 0)
        off = self.board.wait_for(lambda state: not state.power, timeout=15, start=start)
        self.assertEqual(off.count, 0)
        self.assertTrue(off.released, off.text)
        # The board heard the last byte before Ventora ended and switched off 1 s after it.
        self.assertIsNotNone(off.silence, off.text)
        self.assertGreaterEqual(off.silence, 1.0)
        self.assertLessEqual(off.silence, 1.2)


if __name__ == "__main__":
    unittest.main()
