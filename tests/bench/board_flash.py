"""Measures flashing the PWM fan firmware onto the simulated Uno and old-bootloader Nano, with
ventora-board.exe under Wine and with avrdude beside it, pair by pair on the same board in one run:
from the port's opening to the board left running the firmware, written and read back.

    python3 -m tests.bench.board_flash [ROUNDS]      (default 5 a bootloader)

Needs build/windows (ventora-board.exe), build/firmware and the simulated board (build/native).
Prints the figures kept in docs/performance.md.
"""

import re
import statistics
import subprocess
import sys
import time

from tests.wine.harness import HIGHEST_COM_PORT, Session
from tests.wine.rig import FIRMWARE_BUILD, RigBoard, connect_board

RATES = {"optiboot": 115200, "old-nano": 57600}
TOOL_SECONDS = re.compile(r"each read back equal, in ([\d.]+) s")


def flash_with_avrdude(board, rate):
    start = time.monotonic()
    subprocess.run(["avrdude", "-p", "atmega328p", "-c", "arduino", "-P", board.pty, "-b", str(rate), "-D",
                    "-U", f"flash:w:{FIRMWARE_BUILD / 'ventora-fan.hex'}:i"], check=True, capture_output=True,
                   timeout=120)
    return time.monotonic() - start


def flash_with_tool(session):
    start = time.monotonic()
    result = session.run([session.build / "ventora-board.exe", "flash", "COM3"], timeout=120, check=True)
    return time.monotonic() - start, float(TOOL_SECONDS.search(result.stdout)[1])


def summary(samples):
    return f"median {statistics.median(samples):.2f} s (min {min(samples):.2f}, max {max(samples):.2f})"


def main(argv):
    rounds = int(argv[0]) if argv else 5
    with Session(require=("ventora-board.exe",)) as session:
        for number in range(1, HIGHEST_COM_PORT + 1):
            session._make_port_absent(number)
        # One warm-up run: Wine's first program of a session starts its services.
        session.run(["cmd", "/c", "exit"], timeout=120)
        for bootloader, rate in RATES.items():
            board = RigBoard(None, bootloader=bootloader)
            try:
                connect_board(session, 3, board)
                avrdude, tool, tool_own = [], [], []
                for _ in range(rounds):
                    avrdude.append(flash_with_avrdude(board, rate))
                    wall, own = flash_with_tool(session)
                    tool.append(wall)
                    tool_own.append(own)
            finally:
                board.stop()
            print(f"{bootloader} at {rate}: avrdude {summary(avrdude)}; ventora-board {summary(tool)} "
                  f"as a process under Wine, {summary(tool_own)} by its own clock ({rounds} pairs)")


if __name__ == "__main__":
    main(sys.argv[1:])
