"""Ventora at work without a game or a fan: runs the real ventora.exe under Wine, lets
publish_game drive a simulated lap, and puts the simulated board running the PWM fan firmware on
COM1 as the fan controller, printing its level, duty and power pin as they change. Ends with a
screenshot of the window. scripts/demo.sh builds and runs it.

    python3 scripts/demo.py [--build DIR] [--seconds N] [--screenshot PATH]
"""

import argparse
import os
import sys
import time
from pathlib import Path

REPO_ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO_ROOT))

# The Wine suites' harness gives the demo what it gives them: a display, a prefix and a wineserver
# of its own, fan controllers on pty pairs, and a clean-up that stops all of it.
from tests.wine.harness import HarnessError, Screenshot, Session  # noqa: E402
from tests.wine.rig import _EVENT as EVENT, RigBoard, connect_board, parse_line  # noqa: E402

TOP_LEVEL = 79
CAR, TRACK, LAYOUT = "Roadster", "Hillclimb", "Long"
LAP_SECONDS, LOW_KMH, HIGH_KMH = 12, 60, 240


def say(text):
    print(f"demo: {text}", flush=True)


def sides(line):
    """What a board that takes wind from the side prints of its two fans, from its left fan on;
    nothing from a board (or a simulated board) that prints one fan."""
    at = line.lower().find("left")
    return line[at:].strip() if at >= 0 else ""


def fan_line(state):
    # A board that prints both sides: its own words for them, since they say more than one bar.
    if sides(state.text):
        level = "-" if state.level is None else state.level
        return f"fan {state.seconds:7.2f} s  level {level:>3}  {sides(state.text)}"
    # 2.5 % of duty a block: full duty fills 40 columns.
    duty = 100.0 * state.count / state.top
    level = "-" if state.level is None else state.level
    silence = f"after {state.silence:.3f} s of silence" if state.silence else ""
    return (f"fan {state.seconds:7.2f} s  level {level:>3}  duty {duty:5.1f} %  power {'on ' if state.power else 'off'} "
            f"{'█' * round(duty / 2.5)}{silence}")


def crop(shot, left, top, right, bottom):
    left, top = max(left, 0), max(top, 0)
    right, bottom = min(right, shot.width), min(bottom, shot.height)
    rows = [shot.rgb[(y * shot.width + left) * 3:(y * shot.width + right) * 3] for y in range(top, bottom)]
    return Screenshot(right - left, bottom - top, b"".join(rows))


def run(session, seconds, screenshot_path):
    app = session.start_ventora()
    say("Ventora is running in the tray; clicking its icon to show the window")
    session.driver("tray", "lbuttondown")
    session.wait_visible(True)

    say(f"the game: publish_game writes Assetto Corsa's telemetry, a {CAR} lapping {TRACK} {LAYOUT}, "
        f"{LOW_KMH} up to {HIGH_KMH} km/h and back every {LAP_SECONDS} s, through a right-hand corner on "
        "the climb and a left-hand one on the way back")
    game = session.start_publisher("ac", "--car", CAR, "--track", TRACK, "--layout", LAYOUT,
                                   "--lap", LAP_SECONDS, LOW_KMH, HIGH_KMH)
    if game.read_line(60) != "ready":
        raise RuntimeError("publish_game did not start")

    say("the fan controller: the simulated board (an Uno: an ATmega328P with Optiboot and the PWM fan "
        "firmware) on COM1; Ventora opening the port resets it, and the firmware starts after the "
        f"bootloader's second. It prints the level it received (0 off, {TOP_LEVEL} full), the fans' "
        "25 kHz duty and the power pin as they change. Ventora learns the car's top speed on the first "
        "climb, so the fans stay at full until the car slows down")
    board = RigBoard()
    try:
        connect_board(session, 1, board)
        shown_states = watch(session, board, seconds)
        left, top, right, bottom = (int(v) for v in session.driver("style").split()[2:6])
        crop(session.screenshot(), left, top, right, bottom).save_png(screenshot_path)
        shown_path = (screenshot_path.relative_to(REPO_ROOT) if screenshot_path.is_relative_to(REPO_ROOT)
                      else screenshot_path)
        say(f"{shown_states} changes on the board; the window with its graph and log: {shown_path}")

        session.end_publisher(game)
        session.close_ventora(app)
        say("Ventora closed: it sends nothing more, and the board switches the fans off after 1 s of silence")
        off = board.wait_for(lambda state: not state.power, timeout=10, start=shown_states)
        for state in board.report()[shown_states:board.report().index(off) + 1]:
            print(fan_line(state), flush=True)
    finally:
        board.stop()


def watch(session, board, seconds):
    """Prints the board's changes and the log pane's new lines for the given time; returns how
    many of the board's changes it printed."""
    shown_states = shown_lines = shown_events = shown_board_lines = 0
    next_log_check = 0.0
    deadline = time.monotonic() + seconds
    try:
        while time.monotonic() < deadline:
            states = board.report()
            for state in states[shown_states:]:
                print(fan_line(state), flush=True)
            shown_states = len(states)
            events = list(board.events)
            for _, at, text in events[shown_events:]:
                print(f"board {at:6.2f} s  {text}", flush=True)
            shown_events = len(events)
            # A board line about the sides that is neither a change of level nor an event (say,
            # a line of its own per side) is shown as the board printed it.
            lines = list(board.lines)
            for line in lines[shown_board_lines:]:
                if sides(line) and not parse_line(line, 0) and not EVENT.match(line):
                    print(f"board {line.strip()}", flush=True)
            shown_board_lines = len(lines)
            if time.monotonic() >= next_log_check:
                try:
                    lines = session.log_lines()
                except HarnessError:
                    # A probe of the log that Wine failed to start; the next one, half a second on,
                    # shows the same lines.
                    lines = []
                for line in lines[shown_lines:]:
                    print(f"log {line}", flush=True)
                shown_lines = max(shown_lines, len(lines))
                next_log_check = time.monotonic() + 0.5
            time.sleep(0.05)
    except KeyboardInterrupt:
        print()
        say("stopped early")

    return shown_states


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.environ.get("VENTORA_WINDOWS_BUILD", REPO_ROOT / "build" / "windows"),
                        help="the Windows build holding ventora.exe (default build/windows)")
    parser.add_argument("--seconds", type=float, default=35, help="how long the fan runs (default 35)")
    parser.add_argument("--screenshot", type=Path, default=REPO_ROOT / "build" / "demo" / "ventora.png")
    args = parser.parse_args()

    say("starting Wine with a display, a prefix and a wineserver of its own "
        "(the first run prepares a Wine prefix, which takes a minute)")
    session = Session(args.build, require=("ventora.exe", "ventora_driver.exe", "publish_game.exe"))
    try:
        say(f"Wine runs on the virtual display :{session.display}")
        run(session, args.seconds, args.screenshot.resolve())
    finally:
        session.close()
        say("stopped and removed everything it started")


if __name__ == "__main__":
    main()
