"""An hour in the life of Ventora: a game going on and off, combos changing, the fan controller
unplugged and replugged every few minutes. Not part of the test run; reports what drifts.

    python3 -m tests.bench.soak [--minutes 60] [--replug-every 180]

Reports memory at the start and the end, open handles (the Linux descriptors behind the Windows
process's handles), the number of reconnects, whether bytes still flow and whether the newest log
line is still in view.
"""

import argparse
import os
import re
import time

from tests.bench.measure import unix_pid_of
from tests.wine.harness import Session, wait_until


def resident_kib(pid):
    return int(re.search(r"VmRSS:\s+(\d+) kB", open(f"/proc/{pid}/status").read()).group(1))


def open_descriptors(pid):
    return len(os.listdir(f"/proc/{pid}/fd"))


def snapshot(session, pid, server):
    return {"rss": resident_kib(pid), "fds": open_descriptors(pid), "server fds": open_descriptors(server),
            "log chars": len(session.log())}


def newest_line_in_view(session):
    lines, _, newest_top, line_height, view_height = map(int, session.driver("log-view").split())
    return 0 <= newest_top and newest_top + line_height <= view_height


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--minutes", type=float, default=60.0)
    parser.add_argument("--replug-every", type=float, default=180.0, help="seconds between unplugs")
    parser.add_argument("--game-toggle-every", type=float, default=30.0, help="seconds between game on/off")
    args = parser.parse_args()

    with Session(require=("ventora.exe", "ventora_driver.exe", "publish_game.exe")) as session:
        device = session.plug_port(1)
        publisher = session.start_publisher("ac", "--car", "Roadster", "--track", "Hillclimb", "--layout", "Long",
                                            "--lap", "25", "40", "260")
        assert publisher.read_line(60) == "ready"
        session.start_ventora()
        pid = unix_pid_of(session, "ventora.exe")
        server = unix_pid_of(session, "wineserver")
        session.wait_for_log_line("Connected to COM1", 60)
        device.wait_for_bytes(20, 60)
        start = snapshot(session, pid, server)
        print(f"start: {start}", flush=True)

        began = time.monotonic()
        next_replug = began + args.replug_every
        next_toggle = began + args.game_toggle_every
        live, combo, unplugs = True, 0, 0
        while time.monotonic() - began < args.minutes * 60:
            now = time.monotonic()
            if now >= next_toggle:
                live = not live
                if live:
                    combo += 1
                    publisher.send_line(f"car Roadster {combo % 5}")
                    assert publisher.read_line(30) == "ok"
                publisher.send_line(f"live {int(live)}")
                assert publisher.read_line(30) == "ok"
                next_toggle = now + args.game_toggle_every
            if now >= next_replug:
                device.unplug()
                unplugs += 1
                session.wait_for_log(lambda text: text.count("Disconnected from COM1") >= unplugs, 60)
                time.sleep(5)
                device.plug()
                session.wait_for_log(lambda text: text.count("Connected to COM1") >= unplugs + 1, 60)
                next_replug = time.monotonic() + args.replug_every
                print(f"{(time.monotonic() - began) / 60:5.1f} min: {snapshot(session, pid, server)}", flush=True)
            time.sleep(1)

        device.clear()
        flowing = len(device.wait_for_bytes(10, 60)) >= 10
        end = snapshot(session, pid, server)
        log = session.log()
        print(f"end: {end}")
        print(f"minutes {args.minutes:.0f}, unplugs {unplugs}, reconnects {log.count('Connected to COM1') - 1}, "
              f"disconnects {log.count('Disconnected from COM1')}, bytes flowing at the end {flowing}, "
              f"newest log line in view {newest_line_in_view(session)}")
        print(f"resident memory {start['rss']} KiB -> {end['rss']} KiB, "
              f"descriptors {start['fds']} -> {end['fds']}, wineserver descriptors "
              f"{start['server fds']} -> {end['server fds']}")
        session.end_publisher(publisher)


if __name__ == "__main__":
    main()
