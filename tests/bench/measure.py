"""Measures what Ventora costs and how well it keeps time, under Wine, with every part real.

    python3 -m tests.bench.measure [--seconds 60]

Prints the figures kept in docs/performance.md: CPU time and peak memory over a run with a game
live and with none, beside a program that only sleeps; the interval between bytes on the wire;
the latency from a speed change in a game page to the changed byte; the cost of one paint; the size
of the exe. The cross build must exist (VENTORA_WINDOWS_BUILD, default build/windows), with
paint_graph_bench.exe and idle_sleeper.exe beside ventora.exe.
"""

import argparse
import os
import re
import statistics
import time

from tests.wine.harness import Session, wait_until

CLOCK_TICKS = os.sysconf("SC_CLK_TCK")
MAX_CAR_SPEED_SLIDER = 3
LATENCY_SAMPLES = 20


def unix_pid_of(session, exe_name):
    """The Linux process that runs a Windows program of this session."""
    def find():
        for entry in os.listdir("/proc"):
            if not entry.isdigit():
                continue
            try:
                cmdline = open(f"/proc/{entry}/cmdline", "rb").read()
                environ = open(f"/proc/{entry}/environ", "rb").read()
            except OSError:
                continue
            if exe_name.encode() in cmdline.lower() and f"WINEPREFIX={session.prefix}".encode() in environ:
                return int(entry)
        return None
    return wait_until(find, 30, message=f"no process for {exe_name}")


def wineserver_pid(session):
    return unix_pid_of(session, "wineserver")


def cpu_seconds(pid):
    fields = open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / CLOCK_TICKS  # utime + stime


def peak_memory_kib(pid):
    status = open(f"/proc/{pid}/status").read()
    return int(re.search(r"VmHWM:\s+(\d+) kB", status).group(1))


def cpu_over(pids, seconds):
    """CPU time of each process over a wall-clock window, as a percentage of one core."""
    before = {pid: cpu_seconds(pid) for pid in pids}
    start = time.monotonic()
    time.sleep(seconds)
    wall = time.monotonic() - start
    return {pid: 100.0 * (cpu_seconds(pid) - before[pid]) / wall for pid in pids}


def percentile(values, fraction):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(fraction * len(ordered)))]


def measure_idle_baseline(session, seconds):
    session.start(session.build / "idle_sleeper.exe")
    pid = unix_pid_of(session, "idle_sleeper.exe")
    server = wineserver_pid(session)
    time.sleep(2)
    cpu = cpu_over([pid, server], seconds)
    return {"cpu": cpu[pid], "server": cpu[server], "peak": peak_memory_kib(pid)}


def measure_ventora(session, seconds, game_live, game="ac"):
    device = session.plug_port(1)
    publisher = None
    if game_live:
        publisher = session.start_publisher(game, "--car", "Roadster", "--track", "Hillclimb", "--layout", "Long",
                                            "--lap", "20", "60", "240")
        assert publisher.read_line(60) == "ready"
    app = session.start_ventora()
    pid = unix_pid_of(session, "ventora.exe")
    server = wineserver_pid(session)
    session.wait_for_log_line("Connected to COM1", 60)
    device.wait_for_bytes(10, 60)
    device.clear()
    cpu = cpu_over([pid, server], seconds)
    times = [moment for moment, _ in device.timed_bytes()]
    intervals = [1000.0 * (b - a) for a, b in zip(times, times[1:])]
    result = {"cpu": cpu[pid], "server": cpu[server], "peak": peak_memory_kib(pid), "intervals": intervals}
    if game_live:
        result["latency"] = measure_latency(session, publisher, device)
        session.end_publisher(publisher)
    session.close_ventora(app, 60)
    session.unmap_port(1)
    return result


def measure_latency(session, publisher, device):
    """From the moment the page holds a new speed to the first byte that carries its level."""
    session.driver("slider", MAX_CAR_SPEED_SLIDER, 200)   # manual 200 km/h: level = speed * 79 / 200
    latencies = []
    speeds = [(100, 40), (150, 59)]                      # (km/h, level)
    publisher.send_line("speed 100")
    assert publisher.read_line(30) == "ok"
    wait_until(lambda: device.bytes()[-1:] == bytes([40]), 30)
    for sample in range(LATENCY_SAMPLES):
        speed, level = speeds[(sample + 1) % 2]
        # Land the change at a varied moment within the tick.
        time.sleep(0.013 * (sample % 8))
        seen = len(device.timed_bytes())
        publisher.send_line(f"speed {speed}")
        assert publisher.read_line(30) == "ok"
        changed_at = time.monotonic()
        arrival = wait_until(lambda: next((t for t, b in device.timed_bytes()[seen:] if b == level), None), 30)
        latencies.append(1000.0 * max(0.0, arrival - changed_at))
    return latencies


def measure_paint(session):
    out = session.run([session.build / "paint_graph_bench.exe"], timeout=300, check=True).stdout
    return out.strip()


def describe(values):
    return (f"median {statistics.median(values):.1f} ms, 99th percentile {percentile(values, 0.99):.1f} ms, "
            f"max {max(values):.1f} ms ({len(values)} samples)")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seconds", type=float, default=60.0, help="length of each CPU window")
    parser.add_argument("--game", default="ac", help="the game publish_game plays in the game-live run")
    args = parser.parse_args()

    with Session(require=("ventora.exe", "ventora_driver.exe", "publish_game.exe", "paint_graph_bench.exe",
                          "idle_sleeper.exe")) as session:
        exe_size = (session.build / "ventora.exe").stat().st_size
        idle = measure_idle_baseline(session, args.seconds)
        for process in session.processes:
            process.kill()
        quiet = measure_ventora(session, args.seconds, game_live=False)
        live = measure_ventora(session, args.seconds, game_live=True, game=args.game)
        paint = measure_paint(session)

    print(f"ventora.exe size: {exe_size} bytes ({exe_size / 1024:.0f} KiB)")
    print(f"CPU over {args.seconds:.0f} s, % of one core (the process itself; wineserver on its behalf):")
    for name, run in (("idle sleeper", idle), ("Ventora, no game", quiet), ("Ventora, game live", live)):
        print(f"  {name:20s} {run['cpu']:6.3f} %   wineserver {run['server']:6.3f} %   peak memory {run['peak']} KiB")
    print(f"Ventora's own CPU beyond the sleeper: no game {quiet['cpu'] - idle['cpu']:.3f} %, "
          f"game live {live['cpu'] - idle['cpu']:.3f} %")
    print(f"Byte interval, no game:   {describe(quiet['intervals'])}")
    print(f"Byte interval, game live: {describe(live['intervals'])}")
    print(f"Speed change to byte:     {describe(live['latency'])}")
    print(paint)


if __name__ == "__main__":
    main()
