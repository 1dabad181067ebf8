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


def send_udp_games_at_highest_rates(session, stop):
    """F1 at 60 Hz (Motion, Lap Data, Car Telemetry, Car Status, Motion Ex and one slower packet a
    frame: 360 a second), Forza's Data Out at 60 Hz and OutGauge at 100 Hz, all live, to the
    session's UDP ports, until `stop` is set."""
    import socket
    import struct
    f1_port, forza_port, out_gauge_port, *_ = session.udp_ports
    f1 = []
    for size, packet_id in ((1349, 0), (1285, 2), (1352, 6), (1239, 7), (273, 13), (753, 1)):
        packet = bytearray(size)
        struct.pack_into("<HB", packet, 0, 2025, 25)
        packet[6] = packet_id
        struct.pack_into("<H", packet, 29, 150)
        f1.append(bytes(packet))
    forza = bytearray(331)
    struct.pack_into("<iif", forza, 0, 1, 0, 0.0)
    struct.pack_into("<f", forza, 244, 40.0)
    out_gauge = bytearray(96)
    out_gauge[4:7] = b"XRT"
    sender = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    frame, start = 0, time.monotonic()
    while not stop.is_set():
        for packet in f1:
            sender.sendto(packet, ("127.0.0.1", f1_port))
        sender.sendto(forza, ("127.0.0.1", forza_port))
        for _ in range(2 if frame % 3 else 1):  # 5 every 3 frames: 100 a second
            sender.sendto(out_gauge, ("127.0.0.1", out_gauge_port))
        frame += 1
        time.sleep(max(0.0, start + frame / 60 - time.monotonic()))
    sender.close()


def measure_ventora(session, seconds, game_live, udp_games=False, game="ac"):
    device = session.plug_port(1)
    publisher = None
    if udp_games:
        import threading
        stop_udp = threading.Event()
        udp = threading.Thread(target=send_udp_games_at_highest_rates, args=(session, stop_udp), daemon=True)
        udp.start()
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
    if udp_games:
        stop_udp.set()
        udp.join()
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
                          "idle_sleeper.exe", "udp_drain_bench.exe")) as session:
        exe_size = (session.build / "ventora.exe").stat().st_size
        idle = measure_idle_baseline(session, args.seconds)
        for process in session.processes:
            process.kill()
        quiet = measure_ventora(session, args.seconds, game_live=False)
        live = measure_ventora(session, args.seconds, game_live=True, game=args.game)
        udp = measure_ventora(session, args.seconds, game_live=False, udp_games=True)
        paint = measure_paint(session)
        drain = session.run([session.build / "udp_drain_bench.exe"], timeout=300, check=True).stdout.strip()

    print(f"ventora.exe size: {exe_size} bytes ({exe_size / 1024:.0f} KiB)")
    print(f"CPU over {args.seconds:.0f} s, % of one core (the process itself; wineserver on its behalf):")
    for name, run in (("idle sleeper", idle), ("Ventora, no game", quiet), ("Ventora, game live", live),
                      ("Ventora, UDP games", udp)):
        print(f"  {name:20s} {run['cpu']:6.3f} %   wineserver {run['server']:6.3f} %   peak memory {run['peak']} KiB")
    print(f"Ventora's own CPU beyond the sleeper: no game {quiet['cpu'] - idle['cpu']:.3f} %, "
          f"game live {live['cpu'] - idle['cpu']:.3f} %")
    print(f"Byte interval, no game:   {describe(quiet['intervals'])}")
    print(f"Byte interval, game live: {describe(live['intervals'])}")
    print(f"Byte interval, UDP games: {describe(udp['intervals'])}")
    print(f"UDP games at their highest rates (F1, Forza and OutGauge all live, 52 datagrams a tick) cost "
          f"{udp['cpu'] - quiet['cpu']:.3f} % of one core beyond no game")
    print(f"Speed change to byte:     {describe(live['latency'])}")
    print(paint)
    print(drain)


if __name__ == "__main__":
    main()
