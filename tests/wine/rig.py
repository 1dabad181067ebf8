"""The simulated fan-controller board as the fan controller of a Wine session.

The board (tools/simulated_board, built in the native tree) runs in rig mode as an Uno would: the
real Optiboot in its boot section (the firmware preset builds it), a firmware in its application
flash, reset whenever its port is opened, its USART a pty paced to the wall clock that reads bytes
sent at another rate as noise. It prints each change of level, duty and power pin, and what it did
on its own (a reset, the firmware starting). connect_board points a COM port of the session's
prefix at that pty, so Ventora writes to the simulated chip exactly as to a real board.

    board = RigBoard()                  # ventora-fan.elf behind Optiboot by default
    connect_board(session, 1, board)    # COM1 is the board
    board.wait_for(lambda s: s.power)   # a RigState per report line
    board.wait_for_event("firmware started")
    board.stop()
"""

import os
import re
import signal
import subprocess
import threading
import time
from dataclasses import dataclass
from pathlib import Path

from tests.wine.harness import REPO_ROOT, HarnessError, wait_until

BOARD_PROGRAM = Path(os.environ.get("VENTORA_SIMULATED_BOARD",
                                    REPO_ROOT / "build" / "native" / "tools" / "simulated_board" / "simulated_board"))
FIRMWARE_BUILD = Path(os.environ.get("VENTORA_FIRMWARE_BUILD", REPO_ROOT / "build" / "firmware"))

_EVENT = re.compile(r"^\s*(?P<time>[\d.]+) s  (?P<text>(?:reset|firmware|flash)\b.*)$")
# A shield's line: each fan's share of full power and what its bridge does ("forward", "coast").
_SHIELD_LINE = re.compile(r"^\s*(?P<time>[\d.]+) s  level\s+(?P<level>-|\d+)  fan1\s+(?P<fan1>[\d.]+) % (?P<state1>\w+)"
                          r"\s+fan2\s+(?P<fan2>[\d.]+) % (?P<state2>\w+)")
_LINE = re.compile(r"^\s*(?P<time>[\d.]+) s  level\s+(?P<level>-|\d+)  (?:duty\s+(?P<duty>[\d.]+) % \((?P<count>\d+)/(?P<top>\d+)\)"
                   r"|pulse\s+(?P<pulse>\d+) us).*power (?P<power>on|off)(?:  after (?P<silence>[\d.]+) s of silence)?")


@dataclass
class RigState:
    """One report line: the board's simulated time, the last level it received (None before the
    first), the duty count and TOP (PWM) or the pulse in us (ESC), the power pin, and the silence
    on the line when the board changed its outputs on its own."""
    wall: float
    seconds: float
    level: object
    count: int
    top: int
    pulse: int
    power: bool
    silence: float
    released: bool
    text: str


def parse_line(line, wall):
    match = _LINE.match(line)
    if not match:
        return None
    number = lambda name, kind=int: kind(match[name]) if match[name] is not None else None  # noqa: E731
    return RigState(wall, float(match["time"]), None if match["level"] == "-" else int(match["level"]),
                    number("count"), number("top"), number("pulse"), match["power"] == "on",
                    number("silence", float), "released" in line, line)


class RigBoard:
    """The simulated board running a firmware in rig mode, with every report line it printed.
    bootloader is "optiboot" (Uno, new Nano), "old-nano", "atmega168" or None (the firmware alone,
    no reset on open); firmware None leaves the application flash erased; flash_file keeps the
    whole flash in that file (raw), rewritten whenever it changes and when the board stops; shield
    (an output kind: "l293d-shield", "motor-shield-v2", ...) puts that shield's chips on the board
    and reports its fans, read by shield_states; options are more of the board's command-line
    options (--corrupt-page N, say)."""

    def __init__(self, firmware="ventora-fan.elf", bootloader="optiboot", flash_file=None, rate_check=True,
                 shield=None, options=()):
        firmware_path = FIRMWARE_BUILD / firmware if firmware else None
        for path in (BOARD_PROGRAM, firmware_path):
            if path and not path.exists():
                raise HarnessError(f"{path} is missing: build the firmware and native presets first")
        command = [str(BOARD_PROGRAM), "rig"] + ([str(firmware_path)] if firmware_path else [])
        if bootloader:
            command += ["--bootloader", bootloader]
        if flash_file:
            command += ["--flash-file", str(flash_file)]
        if not rate_check:
            command.append("--no-rate-check")
        if shield:
            command += ["--shield", shield]
        command += list(options)
        self.process = subprocess.Popen(command,
                                        stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL, text=True, bufsize=1)
        first = self.process.stdout.readline().split()
        if len(first) != 2 or first[0] != "pty":
            self.stop()
            raise HarnessError(f"the simulated board did not name its pty: {first}")
        self.pty = first[1]
        self.states = []
        self.lines = []
        self.events = []
        self._lock = threading.Lock()
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()

    def _read(self):
        for line in self.process.stdout:
            now = time.monotonic()
            state = parse_line(line.rstrip("\n"), now)
            event = _EVENT.match(line.rstrip("\n"))
            with self._lock:
                self.lines.append(line.rstrip("\n"))
                if state:
                    self.states.append(state)
                if event:
                    self.events.append((now, float(event["time"]), event["text"]))

    def report(self):
        with self._lock:
            return list(self.states)

    def latest(self):
        with self._lock:
            return self.states[-1] if self.states else None

    def wait_for(self, predicate, timeout=30, start=0):
        """Waits for a report line from position start on that satisfies predicate; returns its state."""
        def found():
            return next((state for state in self.report()[start:] if predicate(state)), None)
        return wait_until(found, timeout, interval=0.02,
                          message=lambda: f"the board never reported that; its last lines: {self.lines[-8:]}")

    def shield_states(self):
        """Each shield report line so far as (level or None, fan1 %, fan1's state, fan2 %, fan2's state)."""
        with self._lock:
            lines = list(self.lines)
        matches = (_SHIELD_LINE.match(line) for line in lines)
        return [(None if m["level"] == "-" else int(m["level"]), float(m["fan1"]), m["state1"], float(m["fan2"]),
                 m["state2"]) for m in matches if m]

    def wait_for_event(self, beginning, timeout=30, start=0):
        """Waits for an event line from position start on whose text begins so ("reset",
        "firmware started"); returns (wall time, board seconds, text)."""
        def found():
            with self._lock:
                return next((event for event in self.events[start:] if event[2].startswith(beginning)), None)
        return wait_until(found, timeout, interval=0.02,
                          message=lambda: f"the board never said {beginning!r}; its last lines: {self.lines[-8:]}")

    def wait_until_simulated(self, seconds, timeout=60):
        """Waits until the board has run this many simulated seconds, which a busy host may take
        longer than the wall clock to reach."""
        def reached():
            self.process.send_signal(signal.SIGUSR1)
            time.sleep(0.2)
            with self._lock:
                times = [float(line.split()[0]) for line in self.lines if line.endswith(" s  time")]
            return times and times[-1] >= seconds
        wait_until(reached, timeout, message=lambda: f"the board never reached {seconds} s: {self.lines[-4:]}")

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process.stdout.close()


def connect_board(session, number, board):
    """Points COM<number> of the session's prefix at the board's pty; session.unmap_port(number)
    makes the port absent again."""
    place = session.prefix / "dosdevices" / f"com{number}"
    if place.is_symlink():
        place.unlink()
    elif place.is_dir():
        place.rmdir()
    place.symlink_to(board.pty)
