"""What a console game costs Ventora under Wine, beside a UDP game at the same rate, on a home
network of its own (the consoles suite's namespaces, stand-in PlayStation and senders):

    python3 -m tests.bench.consoles_measure [--seconds 30] [--rounds 2]

One Ventora, listening on the home network, hidden in the tray with a controller on COM1. Windows
of `--seconds` each, in turn, `--rounds` times, so that every case sees the same machine load:
no game (the console's probe every 10 s only); Forza's Data Out at 60 Hz from the console's side;
Gran Turismo 7 at 60 Hz from the stand-in PlayStation, driven. Prints Ventora's and the
wineserver's CPU over each window, as a percentage of one core, and the median byte interval.
"""

import argparse
import statistics
import subprocess
import time

from tests.bench.measure import cpu_over, unix_pid_of, wineserver_pid
from tests.wine.harness import Session
from tests.wine.home_network import HomeNetwork
from tests.wine.test_consoles import COMBO, DEBIAN_PYTHON, SENDER, STAND_IN
from tests.wine.test_udp_games import forza_horizon_dash

# The consoles suite's sender sends 20 times a second; three copies a round make Forza's 60.
FORZA_AT_60_HZ = forza_horizon_dash(41.5) * 3


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--seconds", type=float, default=30)
    parser.add_argument("--rounds", type=int, default=2)
    args = parser.parse_args()
    with HomeNetwork() as network, Session(network=network) as session:
        device = session.plug_port(1)
        session.settings_path.parent.mkdir(parents=True, exist_ok=True)
        session.settings_path.with_name("network.txt").write_text("listen=home-network\n")
        session.start_ventora()
        ventora, server = unix_pid_of(session, "ventora.exe"), wineserver_pid(session)
        session.wait_for_log_line("Connected to COM1", 60)

        def forza():
            return network.start_on_console([DEBIAN_PYTHON, "-c", SENDER, network.pc_address, 5607,
                                             *(d.hex() for d in FORZA_AT_60_HZ)], stdin=subprocess.PIPE)

        def gran_turismo():
            console = network.start_on_console([DEBIAN_PYTHON, STAND_IN, "--speed", "41.5"], stdin=subprocess.PIPE,
                                               stdout=subprocess.DEVNULL)
            session.wait_for_log_line("New combo: " + COMBO, 60)
            return console

        cases = (("no game", None), ("Forza, 60 Hz from the console", forza),
                 ("Gran Turismo 7, 60 Hz", gran_turismo))
        for round_number in range(args.rounds):
            for name, start in cases:
                game = start() if start else None
                time.sleep(2)
                device.clear()
                cpu = cpu_over([ventora, server], args.seconds)
                times = [moment for moment, _ in device.timed_bytes()]
                interval = statistics.median(1000.0 * (b - a) for a, b in zip(times, times[1:]))
                print(f"round {round_number + 1}, {name}: Ventora {cpu[ventora]:.3f} %, wineserver "
                      f"{cpu[server]:.3f} %, byte interval median {interval:.1f} ms", flush=True)
                if game:
                    game.kill()
                    game.wait(10)


if __name__ == "__main__":
    main()
