"""Measures the simulated board behind the Arduino bootloaders, in rig mode (paced to the wall
clock): how soon after Ventora opens the port the firmware runs and drives the fans, and how long
Debian's avrdude takes to write and verify the PWM firmware.

    python3 -m tests.bench.bootloaders [RUNS]

Needs build/firmware (the firmware preset, with the bootloaders) and the simulated board
(build/native). Prints the figures kept in docs/performance.md.
"""

import os
import re
import subprocess
import sys
import termios
import time

from tests.wine.rig import FIRMWARE_BUILD, RigBoard

BOOTLOADERS = (("optiboot", 115200), ("old-nano", 57600))


def open_as_ventora(board):
    """Opens the port as Ventora does and sends level 40 every 100 ms until the fans run; returns
    (firmware running, first level driven, bytes the bootloader read), from the reset on."""
    port = os.open(board.pty, os.O_RDWR | os.O_NOCTTY)
    try:
        attributes = termios.tcgetattr(port)
        attributes[4] = attributes[5] = termios.B9600
        termios.tcsetattr(port, termios.TCSANOW, attributes)
        events, states = len(board.events), len(board.report())
        for _ in range(50):
            os.write(port, bytes([40]))
            time.sleep(0.1)
            driven = [state for state in board.report()[states:] if state.level == 40 and state.power]
            if driven:
                break
        reset = board.wait_for_event("reset", start=events)
        started = board.wait_for_event("firmware started", start=events)
        heard = int(re.search(r"read (\d+) bytes", started[2])[1])
        return started[1] - reset[1], driven[0].seconds - reset[1], heard
    finally:
        os.close(port)


def flash_with_avrdude(board, baud):
    """avrdude's whole run, and its own write and verify times, in seconds."""
    start = time.monotonic()
    done = subprocess.run(["avrdude", "-p", "atmega328p", "-c", "arduino", "-P", board.pty, "-b", str(baud), "-D",
                           "-U", f"flash:w:{FIRMWARE_BUILD / 'ventora-fan.hex'}:i"],
                          capture_output=True, text=True, check=True)
    took = time.monotonic() - start
    write, verify = (float(re.search(rf"{phase} \| #+ \| 100% ([\d.]+)s", done.stderr)[1])
                     for phase in ("Writing", "Reading"))
    return took, write, verify


def main():
    runs = int(sys.argv[1]) if len(sys.argv) > 1 else 3
    for bootloader, baud in BOOTLOADERS:
        for _ in range(runs):
            board = RigBoard(bootloader=bootloader)
            try:
                running, driven, heard = open_as_ventora(board)
            finally:
                board.stop()
            print(f"{bootloader}: port opened to firmware running {running:.3f} s, to level 40 driven "
                  f"{driven:.3f} s; the bootloader read {heard} bytes")
        for _ in range(runs):
            board = RigBoard(firmware=None, bootloader=bootloader)
            try:
                took, write, verify = flash_with_avrdude(board, baud)
            finally:
                board.stop()
            print(f"{bootloader}: avrdude {took:.2f} s in all, writing {write:.2f} s, verifying {verify:.2f} s")


if __name__ == "__main__":
    main()
