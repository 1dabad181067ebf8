"""Measures the fan firmware on the simulated board in test mode (simulated time, deterministic):
byte-to-output latency and the share of time the chip is awake.

    python3 -m tests.bench.firmware

Needs build/firmware (the firmware preset) and the simulated board (build/native, target
simulated_board). Prints the figures kept in docs/performance.md.
"""

import re
import statistics
import subprocess

from tests.wine.rig import BOARD_PROGRAM, FIRMWARE_BUILD

CHANGE = re.compile(r"^\s*([\d.]+) s  (duty|pulse)")
BYTE = re.compile(r"^\s*([\d.]+) s  byte (\d+)")
AWAKE = re.compile(r"^awake ([\d.]+) %")


def run(firmware, feeds, until):
    argv = [str(BOARD_PROGRAM), "test", str(FIRMWARE_BUILD / firmware), "--until", str(until)]
    argv += [f"{at:.6f}={byte}" for at, byte in feeds]
    return subprocess.run(argv, check=True, capture_output=True, text=True).stdout.splitlines()


def latencies(lines):
    """From each fed byte to the next change of the drive (duty or pulse), in microseconds."""
    result, fed = [], None
    for line in lines:
        if match := BYTE.match(line):
            fed = float(match[1])
        elif (match := CHANGE.match(line)) and fed is not None:
            result.append((float(match[1]) - fed) * 1e6)
            fed = None
    return result


def awake(lines):
    return next(float(match[1]) for line in lines if (match := AWAKE.match(line)))


def main():
    # 200 bytes, a level that always changes, at phases spread over the firmware's 1 ms clock.
    feeds = [(0.1 + 0.1 * i + (i * 37 % 100) * 1e-5, 30 + (i % 2) * 30) for i in range(200)]
    samples = latencies(run("ventora-fan.elf", feeds, 21.0))
    print(f"PWM: byte fed to duty written, {len(samples)} bytes: median {statistics.median(samples):.1f} us, "
          f"min {min(samples):.1f} us, max {max(samples):.1f} us")
    print(f"PWM: awake {awake(run('ventora-fan.elf', feeds, 21.0)):.3f} % with a byte every 100 ms for 20 s")
    print(f"PWM: awake {awake(run('ventora-fan.elf', [], 20.0)):.3f} % in failsafe (no bytes) for 20 s")
    print(f"ESC: awake {awake(run('ventora-fan-esc.elf', feeds, 21.0)):.3f} % with a byte every 100 ms for 20 s")


if __name__ == "__main__":
    main()
