"""Ventora through a corner-heavy lap under Wine, for comparing one ventora.exe with another.

    python3 -m tests.bench.corner_lap [--ventora PATH] [--seconds 20] [--sides]

publish_game (from the cross build) plays Assetto Corsa's lap, which corners right and left at up
to 1.2 g the whole way round; a fan controller (a pty pair) on COM1 says it takes wind from the
side when --sides is given. Prints Ventora's own CPU over the window, as a percentage of one core,
and what reached the wire. Run the whole command under a process timer to compare two builds
(the older one simply ignores the board's line).
"""

import argparse
import time

from tests.bench.measure import cpu_over, unix_pid_of
from tests.wine.harness import Session

SIDES = b"Ventora fan board: sides\r\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--ventora", help="the ventora.exe to run (default: the cross build's)")
    parser.add_argument("--seconds", type=float, default=20)
    parser.add_argument("--sides", action="store_true", help="the board announces wind from the side")
    args = parser.parse_args()

    with Session(require=("ventora.exe", "publish_game.exe")) as session:
        device = session.plug_port(1)
        session.write_settings(port_index=0)
        app = session.start(args.ventora or session.build / "ventora.exe")
        game = session.start_publisher("ac", "--car", "Roadster", "--track", "Hillclimb", "--layout", "Long",
                                       "--lap", "12", "60", "240")
        if game.read_line(60) != "ready":
            raise RuntimeError("publish_game did not start")
        device.wait_for_bytes(1)
        if args.sides:
            device.write(SIDES)
        time.sleep(2)  # past the first ticks of the connection and of the game
        device.clear()
        pid = unix_pid_of(session, "ventora.exe")
        cpu = cpu_over([pid], args.seconds)[pid]
        stream = device.bytes()
        corners = sum(1 for byte in stream if byte >= 0x80)
        print(f"ventora.exe's own CPU {cpu:.3f} % of one core over {args.seconds:.0f} s; "
              f"{len(stream)} bytes on the wire, {corners} of them corner bytes", flush=True)
        session.end_publisher(game)
        session.end_ventora(app)


if __name__ == "__main__":
    main()
