"""ventora-board.exe under Wine against the simulated Uno with the Adafruit Motor Shield v2's PCA9685:
a flash stopped once page 0 is the idle page leaves every channel of that chip off, although the chip
kept driving the fans through the reset."""

import os
import termios
import threading
import tty
import unittest

from tests.wine.harness import wait_until
from tests.wine.rig import FIRMWARE_BUILD, RigBoard, connect_board
from tests.wine.test_board_setup import board_tool_session, hex_file, image_of

V2_HEX = FIRMWARE_BUILD / "ventora-fan-motor-shield-v2.hex"
# The longest failsafe a block allows: the firmware keeps the fans at the last level this long after
# the last byte, so the tool reaches the board while the chip still drives them.
LONGEST_FAILSAFE_MS = 5000
FAILSAFE_OFFSET = 18  # in the tunables block


def firmware_with_failsafe(path, failsafe_ms):
    image = image_of(path.read_text())
    data = bytearray(image.get(address, 0xFF) for address in range(max(image) + 1))
    at = data.index(b"VENTORA\0") + FAILSAFE_OFFSET
    data[at:at + 2] = failsafe_ms.to_bytes(2, "little")
    return bytes(data)


class LevelSender:
    """Sends a level every 100 ms at 9600 baud straight into the board's pty, as Ventora would, until
    stopped. Opening the pty resets the board once, as Ventora's open does."""

    def __init__(self, pty, level):
        self.fd = os.open(pty, os.O_RDWR | os.O_NOCTTY)
        tty.setraw(self.fd)
        settings = termios.tcgetattr(self.fd)
        settings[4] = settings[5] = termios.B9600
        termios.tcsetattr(self.fd, termios.TCSANOW, settings)
        self.level = level
        self.stopping = threading.Event()
        self.thread = threading.Thread(target=self._send, daemon=True)
        self.thread.start()

    def _send(self):
        while not self.stopping.wait(0.1):
            os.write(self.fd, bytes([self.level]))

    def stop(self):
        if not self.stopping.is_set():
            self.stopping.set()
            self.thread.join()
            os.close(self.fd)


class BoardIdlePageTest(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        cls.session = board_tool_session(cls, "ventora-board.exe")

    def test_a_v2_shield_driven_at_79_has_every_channel_off_once_a_flash_stops_after_the_idle_page(self):
        session = self.session
        firmware = firmware_with_failsafe(V2_HEX, LONGEST_FAILSAFE_MS)
        on_board = session.tmp / "v2-longest-failsafe.hex"
        on_board.write_text(hex_file([(0, firmware)]))
        # Filler far above the firmware, never run, so that the write lasts seconds.
        longer = session.tmp / "v2-and-filler.hex"
        longer.write_text(hex_file([(0, firmware), (0x2000, bytes(0x2000))]))
        flash = session.tmp / "v2.bin"
        board = RigBoard(str(on_board), bootloader="optiboot", flash_file=flash, shield="motor-shield-v2")
        self.addCleanup(board.stop)
        sender = LevelSender(board.pty, 79)
        self.addCleanup(sender.stop)
        wait_until(lambda: any(s[0] == 79 and s[1] == s[3] == 100.0 and s[2] == s[4] == "forward"
                               for s in board.shield_states()), 60,
                   message=lambda: f"the shield never ran at 79: {board.lines[-5:]}")
        sender.stop()

        connect_board(session, 5, board)
        self.addCleanup(session.unmap_port, 5)
        events = len(board.events)
        flashing = session.start(session.build / "ventora-board.exe", "flash", "COM5", "--hex", longer)
        self.addCleanup(flashing.kill)
        # The idle page is the first page the bootloader writes: the tool ends right after it, as
        # when Windows ends it.
        board.wait_for_event("flash written", timeout=60, start=events)
        flashing.kill()
        if board.shield_states()[-1][1:] != (100.0, "forward", 100.0, "forward"):
            self.skipTest("the board's failsafe came before the tool reached it: the machine stalled for seconds")

        # The bootloader gives up within its second, and the idle page resets the chip.
        wait_until(lambda: board.shield_states()[-1][1:] == (0.0, "coast", 0.0, "coast"), 30,
                   message=lambda: f"the shield's fans never stopped: {board.lines[-6:]}")
        board.stop()
        idle = (FIRMWARE_BUILD / "idle-page.bin").read_bytes()
        self.assertEqual(flash.read_bytes()[:len(idle)], idle, "page 0 is the idle page")


if __name__ == "__main__":
    unittest.main()
