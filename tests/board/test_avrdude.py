"""Debian's avrdude, the reference flashing tool, writes and verifies a firmware on the simulated
board through its pty, behind either Arduino bootloader, and the board then runs it: the board
speaks STK500 as an Uno or a Nano does."""

import os
import subprocess
import tempfile
import termios
import time
import unittest
from pathlib import Path

from tests.wine.rig import FIRMWARE_BUILD, RigBoard

FLASH_SIZE = 32768


def intel_hex_image(path, size):
    """The flash an Intel HEX file describes, over an erased chip."""
    image = bytearray(b"\xff" * size)
    base = 0
    for line in Path(path).read_text().split():
        record = bytes.fromhex(line[1:])
        assert sum(record) & 0xFF == 0, f"bad checksum in {line}"
        count, address, kind, data = record[0], record[1] << 8 | record[2], record[3], record[4:-1]
        assert len(data) == count
        if kind == 0:
            image[base + address:base + address + count] = data
        elif kind == 2:
            base = (data[0] << 8 | data[1]) << 4
    return bytes(image)


def send_levels(pty, level, count):
    """Sends a level as Ventora does: 9600 baud, a byte every 100 ms."""
    port = os.open(pty, os.O_RDWR | os.O_NOCTTY)
    try:
        attributes = termios.tcgetattr(port)
        attributes[4] = attributes[5] = termios.B9600
        termios.tcsetattr(port, termios.TCSANOW, attributes)
        for _ in range(count):
            os.write(port, bytes([level]))
            time.sleep(0.1)
    finally:
        os.close(port)


class AvrdudeTest(unittest.TestCase):

    def test_avrdude_writes_and_verifies_the_firmware_and_the_board_runs_it(self):
        hex_file = FIRMWARE_BUILD / "ventora-fan.hex"
        expected = intel_hex_image(hex_file, FLASH_SIZE)
        for bootloader, baud in (("optiboot", 115200), ("old-nano", 57600)):
            with self.subTest(bootloader), tempfile.TemporaryDirectory() as folder:
                flash_file = Path(folder) / "flash.bin"
                board = RigBoard(firmware=None, bootloader=bootloader, flash_file=flash_file)
                self.addCleanup(board.stop)
                done = subprocess.run(["avrdude", "-p", "atmega328p", "-c", "arduino", "-P", board.pty, "-b",
                                       str(baud), "-D", "-U", f"flash:w:{hex_file}:i"],
                                      capture_output=True, text=True, timeout=120)
                self.assertEqual(done.returncode, 0, done.stderr)
                self.assertIn("bytes of flash verified", done.stderr)

                board.wait_for_event("firmware started", timeout=10)
                events = len(board.events)
                levels = board.report()
                # Opening the port resets the board: the levels of the bootloader's second are lost.
                send_levels(board.pty, 40, 30)
                board.wait_for(lambda state: state.count == 208 and state.power, timeout=10, start=len(levels))
                board.wait_for_event("reset", start=events)
                board.stop()

                flash = flash_file.read_bytes()
                self.assertEqual(len(flash), FLASH_SIZE)
                boot = 0x7E00 if bootloader == "optiboot" else 0x7800
                self.assertEqual(flash[:boot], expected[:boot])


if __name__ == "__main__":
    unittest.main()
