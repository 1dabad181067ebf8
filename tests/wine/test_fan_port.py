"""The fan port link as the fan controller sees it: a pty pair mapped as a COM port, the bytes that
reach its far end, the line settings on Wine's end, the connection lines in the log and the error
messages on standard output, through plugging, unplugging, port changes and a stalled line."""

import os
import re
import subprocess
import time
import unittest

from tests.wine.harness import Session, wait_until

AUTOMATIC_LINE = "Automatic maximum car speed detection"
SPEED_OFF_SLIDER = 0
DEFAULT_SPEED_OFF = 26

# What a missing port prints each tick, as the bytes land in a redirected stdout (text mode adds CR).
NOT_AVAILABLE = b"ERROR: Handle was not attached. Reason: \\\\.\\COM%d not available.\r\n"

# What a board that takes wind from the side says after each reset, and what Ventora logs once it
# has heard it; the corner byte of a straight (no game is live in these tests).
SIDES = b"Ventora fan board: sides\r\n"
SIDES_LINE = "Fan board: wind from the side"
STRAIGHT = 0x80

# Software flow control characters a controller sends to pause and resume the line.
XOFF, XON = b"\x13", b"\x11"

# Enough ticks to tell a message that repeats from one printed once.
REPEATS = 3

UNPLUG_CYCLES = 20

# The rhythm, counted over enough ticks that the harness's polling hardly shows. A byte a tick is
# ten a second. On a stalled line each tick's work waits out the 100 ms write time-out and the
# 100 ms pause comes after it, so five reconnect cycles a second. The bounds tell these from a tick
# of 200 ms (five bytes, three and a third cycles) and from a pause counted from the start of the
# tick (ten cycles), and leave a busy machine room to be slow.
RHYTHM_BYTES = 40
BYTES_PER_SECOND = (6.5, 14.0)
RHYTHM_CYCLES = 20
STALLED_CYCLES_PER_SECOND = (3.6, 7.0)


def open_files(pid):
    """The Linux paths behind a process's open descriptors."""
    paths = []
    for fd in os.listdir(f"/proc/{pid}/fd"):
        try:
            paths.append(os.readlink(f"/proc/{pid}/fd/{fd}"))
        except OSError:
            pass  # closed while we looked
    return paths


def terminal_files(pid):
    return sorted(path for path in open_files(pid) if path.startswith("/dev/pts/"))


def line_settings(device):
    """The words of `stty -a` for Wine's end of the pair: 'speed', '9600', 'cs8', '-parenb', ..."""
    out = subprocess.run(["stty", "-a", "-F", str(device.port_link)], capture_output=True, text=True, check=True)
    return set(re.split(r"[\s;]+", out.stdout))


class FanPortTest(unittest.TestCase):
    """One Wine session for the suite; each test maps its own ports and starts its own Ventora."""

    @classmethod
    def setUpClass(cls):
        cls.session = Session()
        cls.addClassCleanup(cls.session.close)

    # --- helpers -----------------------------------------------------------------------------

    def plug(self, number):
        device = self.session.plug_port(number)
        self.addCleanup(self.session.unmap_port, number)
        return device

    def map_port(self, number, target):
        """Points COM<number> at any Linux path: a missing one, a directory, a regular file."""
        place = self.session.prefix / "dosdevices" / f"com{number}"
        self.addCleanup(self.session.unmap_port, number)
        if place.is_symlink():
            place.unlink()
        elif place.is_dir():
            place.rmdir()
        place.symlink_to(target)

    def start_ventora(self, port_index=0):
        self.session.write_settings(port_index=port_index)
        app = self.session.start_ventora()
        self.addCleanup(self.session.end_ventora, app)
        return app

    def wait_for_line_count(self, line, count, exactly=True):
        """Waits until the log holds line as a whole line count times (or more, unless exactly);
        returns the log's lines."""
        lines = []

        def reached():
            lines[:] = self.session.log_lines()
            return lines.count(line) >= count
        try:
            wait_until(reached, interval=0.1)
        except TimeoutError:
            raise TimeoutError(f"{line!r} not seen {count} times; log: {lines[-10:]}") from None
        if exactly:
            self.assertEqual(lines.count(line), count, lines[-10:])
        return lines

    def wait_for_messages(self, app, count):
        """Waits until the raw stdout holds count of the link's console messages, whichever they
        are, so that a wrong message fails the test's check instead of its guard; returns it."""
        messages = re.compile(rb"ERROR: Handle was not attached\. Reason: .*? not available\.\r?\n|ERROR!!!|"
                              rb"failed to get current serial parameters!|ALERT: Could not set Serial Port parameters")
        return wait_until(lambda: len(messages.findall(out := app.stdout_path.read_bytes())) >= count and out,
                          message=lambda: f"{count} messages not printed: {app.stdout_path.read_bytes()[-300:]!r}")

    def assert_levels_flow(self, device, level, count=5):
        """Bytes keep arriving from now on, each one the tick's level."""
        device.clear()
        self.assertEqual(device.wait_for_bytes(count), bytes([level]) * len(device.bytes()))

    def wineserver_pid(self):
        """The prefix's own wineserver, which works in a directory named after the prefix's inode."""
        st = os.stat(self.session.prefix)
        directory = f"server-{st.st_dev:x}-{st.st_ino:x}"
        for entry in os.listdir("/proc"):
            try:
                if entry.isdigit() and os.readlink(f"/proc/{entry}/cwd").endswith("/" + directory) and \
                        "wineserver" in os.readlink(f"/proc/{entry}/exe"):
                    return int(entry)
            except OSError:
                pass
        self.fail("the prefix's wineserver was not found")

    # --- a controller present ----------------------------------------------------------------

    def test_present_device_connects_on_first_tick_and_receives_each_level_at_9600_8n1(self):
        device = self.plug(1)
        # Start from other line settings, so that Ventora's changes show; flow control is not
        # Ventora's to change and must survive. (A pty refuses anything but 8 bits and no parity,
        # so only the speed and the stop bits can show Ventora's choice.)
        subprocess.run(["stty", "-F", str(device.port_link), "19200", "cstopb", "ixon"], check=True)
        app = self.start_ventora()

        # The first tick's lines are written together, so the first log seen holds them all.
        first = self.session.wait_for_log(lambda text: text != "")
        self.assertEqual(first, f"{AUTOMATIC_LINE}\r\nConnected to COM1\r\n")

        self.assert_levels_flow(device, DEFAULT_SPEED_OFF, count=20)
        settings = line_settings(device)
        self.assertTrue({"9600", "-cstopb", "ixon"} <= settings, sorted(settings))
        self.assertEqual(app.stdout_path.read_bytes(), b"")

    # --- ports that cannot be used -----------------------------------------------------------

    def test_absent_port_prints_not_available_every_tick_and_logs_no_connection(self):
        self.map_port(1, self.session.tmp / "nothing-here")
        app = self.start_ventora()
        out = self.wait_for_messages(app, REPEATS)
        self.assertEqual(out, NOT_AVAILABLE % 1 * out.count(NOT_AVAILABLE % 1))
        self.assertEqual(self.session.log_lines(), [AUTOMATIC_LINE])

    def test_port_that_is_not_a_device_prints_bare_error_every_tick(self):
        # A directory opens with access denied under Wine: an open error other than a missing port.
        directory = self.session.tmp / "a-directory"
        directory.mkdir(exist_ok=True)
        self.map_port(1, directory)
        app = self.start_ventora()
        out = self.wait_for_messages(app, REPEATS)
        self.assertRegex(out, rb"^(ERROR!!!)+$")
        self.assertEqual(self.session.log_lines(), [AUTOMATIC_LINE])

    def test_port_whose_settings_cannot_be_read_is_closed_each_tick_until_a_device_answers(self):
        # A regular file opens, but has no serial settings to read.
        plain = self.session.tmp / "a-plain-file"
        plain.write_bytes(b"")
        self.map_port(1, plain)
        app = self.start_ventora()
        out = self.wait_for_messages(app, 4 * REPEATS)
        self.assertRegex(out, rb"^(failed to get current serial parameters!)+$")
        self.assertEqual(self.session.log_lines(), [AUTOMATIC_LINE])

        # Each failed attempt's handle is closed before the next: at most the latest one is open.
        for pid in (app.popen.pid, self.wineserver_pid()):
            with self.subTest(process=pid):
                self.assertLessEqual(open_files(pid).count(os.path.realpath(plain)), 1)

        device = self.plug(1)
        self.session.wait_for_log_line("Connected to COM1")
        self.assert_levels_flow(device, DEFAULT_SPEED_OFF)

    # --- losing and changing the port --------------------------------------------------------

    def test_unplug_logs_disconnect_then_fails_quietly_and_replug_reconnects(self):
        device = self.plug(1)
        app = self.start_ventora()
        self.session.wait_for_log_line("Connected to COM1")
        device.wait_for_bytes(1)

        device.unplug()
        self.wait_for_line_count("Disconnected from COM1", 1)
        out = self.wait_for_messages(app, REPEATS)
        self.assertEqual(out, NOT_AVAILABLE % 1 * out.count(NOT_AVAILABLE % 1))
        self.assertEqual(self.session.log_lines(), [AUTOMATIC_LINE, "Connected to COM1", "Disconnected from COM1"])

        self.session.plug_port(1)
        self.assertEqual(self.wait_for_line_count("Connected to COM1", 2)[-2:],
                         ["Disconnected from COM1", "Connected to COM1"])
        self.assert_levels_flow(device, DEFAULT_SPEED_OFF)

    def test_choosing_another_port_moves_the_bytes_there_without_a_disconnect_line(self):
        first, fourth = self.plug(1), self.plug(4)
        app = self.start_ventora()
        self.session.wait_for_log_line("Connected to COM1")
        first.wait_for_bytes(1)

        self.assertEqual(self.session.driver("port", 3).strip(), "3")
        self.assertEqual(self.wait_for_line_count("Connected to COM4", 1),
                         [AUTOMATIC_LINE, "Connected to COM1", "Connected to COM4"])
        self.assertEqual(terminal_files(app.popen.pid), [os.path.realpath(fourth.port_link)],
                         "COM1 was left open")
        self.assert_levels_flow(fourth, DEFAULT_SPEED_OFF)
        first.clear()
        self.assert_levels_flow(fourth, DEFAULT_SPEED_OFF)
        self.assertEqual(first.bytes(), b"", "bytes still went to COM1")

    def test_port_index_from_the_settings_file_names_the_port_beyond_the_list(self):
        self.map_port(13, self.session.tmp / "nothing-here")
        app = self.start_ventora(port_index=12)
        self.assertEqual(self.wait_for_messages(app, 1)[:len(NOT_AVAILABLE % 13)], NOT_AVAILABLE % 13)

        device = self.plug(13)
        self.session.wait_for_log_line("Connected to COM13")
        self.assert_levels_flow(device, DEFAULT_SPEED_OFF)

    def test_repeated_unplug_and_replug_ends_connected_every_time_without_leaking(self):
        device = self.plug(1)
        app = self.start_ventora()
        self.session.wait_for_log_line("Connected to COM1")
        device.wait_for_bytes(1)
        descriptors_before = len(open_files(app.popen.pid))

        for cycle in range(1, UNPLUG_CYCLES + 1):
            with self.subTest(cycle=cycle):
                device.unplug()
                self.wait_for_line_count("Disconnected from COM1", cycle)
                self.session.plug_port(1)
                self.wait_for_line_count("Connected to COM1", cycle + 1)
                self.assert_levels_flow(device, DEFAULT_SPEED_OFF, count=2)

        # Only the live port is open, in Ventora and in the wineserver that backs its handles.
        port = os.path.realpath(device.port_link)
        self.assertEqual(terminal_files(app.popen.pid), [port])
        self.assertEqual(terminal_files(self.wineserver_pid()), [port])
        self.assertLessEqual(len(open_files(app.popen.pid)), descriptors_before + 2)

    # --- wind from the side --------------------------------------------------------------------

    def assert_pairs_flow(self, device, level, count=5):
        """From now on every tick brings the corner byte, then the level byte: nothing else."""
        device.clear()
        wait_until(lambda: device.bytes().count(bytes([STRAIGHT, level])) >= count,
                   message=lambda: f"no pairs: {device.bytes()[-12:]!r}")
        stream = device.bytes()
        stream = stream[stream.index(STRAIGHT):]
        stream = stream[:len(stream) // 2 * 2]
        self.assertEqual(stream, bytes([STRAIGHT, level]) * (len(stream) // 2))

    def test_a_board_announcing_sides_gets_corner_and_level_pairs_logged_once_a_connection(self):
        device = self.plug(1)
        self.start_ventora()
        self.session.wait_for_log_line("Connected to COM1")
        device.wait_for_bytes(1)
        # Silence, and what boards others built (or a bootloader) may say: none of it is the line,
        # and such a board gets exactly one level byte a tick.
        for said in (b"", b"\x00boot\r\n", SIDES[:-3] + b"\r\n", SIDES.lower(), XON):
            device.write(said)
            self.assert_levels_flow(device, DEFAULT_SPEED_OFF, count=10)
            self.assertNotIn(SIDES_LINE, self.session.log_lines(), said)
        # A game cornering hard changes nothing for it: its level alone, byte for byte (at a steady
        # speed that is also the learned top speed, 79).
        game = self.session.start_publisher("ac", "--speed", "120", "--corner", "1.5")
        self.assertEqual(game.read_line(60), "ready")
        self.session.wait_for_log_line("New max speed: 120.000000")
        self.assert_levels_flow(device, 79, count=10)
        self.session.end_publisher(game)
        self.assert_levels_flow(device, DEFAULT_SPEED_OFF)
        # The announcement arrives in two pieces, ticks apart.
        device.write(SIDES[:10])
        device.clear()
        device.wait_for_bytes(3)
        device.write(SIDES[10:])
        self.session.wait_for_log_line(SIDES_LINE)
        self.assert_pairs_flow(device, DEFAULT_SPEED_OFF)
        # Said again (the board's failsafe tripped and it came back): no second line.
        device.write(SIDES)
        self.assert_pairs_flow(device, DEFAULT_SPEED_OFF)
        self.wait_for_line_count(SIDES_LINE, 1)
        # Every reconnect starts without sides and listens again.
        device.unplug()
        self.wait_for_line_count("Disconnected from COM1", 1)
        self.session.plug_port(1)
        self.wait_for_line_count("Connected to COM1", 2)
        self.assert_levels_flow(device, DEFAULT_SPEED_OFF)
        device.write(SIDES)
        self.wait_for_line_count(SIDES_LINE, 2)
        self.assert_pairs_flow(device, DEFAULT_SPEED_OFF)

    def test_corners_from_each_stand_in_game_reach_a_board_that_takes_sides(self):
        """publish_game writes a corner in each game's own convention: a right-hand one gives the
        left fan more (the corner byte's 0x40), a left-hand one the right fan; a game whose sign
        is not known stays straight."""
        f1, forza, out_gauge, *_ = self.session.udp_ports
        ports = {"f1": f1, "dirt": f1, "wrc": f1, "forza": forza, "outgauge": out_gauge}
        device = self.plug(1)
        self.start_ventora()
        self.session.wait_for_log_line("Connected to COM1")
        device.write(SIDES)
        self.session.wait_for_log_line(SIDES_LINE)

        def corners(since):
            """The corner bytes of the pairs that came with a live game's level (not speed OFF)."""
            stream = device.bytes()[since:]
            return [c for c, level in zip(stream, stream[1:]) if c >= 0x80 and level != DEFAULT_SPEED_OFF]

        for game in ("ac", "pcars2", "r3e", "rf2", "lmu", "ets2", "f1", "dirt", "wrc", "forza",
                     "iracing", "acevo", "krp", "outgauge"):
            with self.subTest(game=game):
                options = ("--port", str(ports[game])) if game in ports else ()
                publisher = self.session.start_publisher(game, *options, "--speed", "120", "--corner", "1")
                self.assertEqual(publisher.read_line(60), "ready")
                since = len(device.bytes())
                if game not in ("iracing", "acevo", "krp", "outgauge"):
                    # At least 0.75 g toward the car's right, then toward its left.
                    wait_until(lambda: any(c >= 0xC0 + 15 for c in corners(since)),
                               message=lambda: f"no right-hand corner: {corners(since)[-8:]}")
                    publisher.send_line("corner -1")
                    since = len(device.bytes())
                    wait_until(lambda: any(0x80 + 15 <= c < 0xC0 for c in corners(since)),
                               message=lambda: f"no left-hand corner: {corners(since)[-8:]}")
                else:
                    wait_until(lambda: len(corners(since)) >= 10, message=f"{game} was not driven")
                    self.assertEqual(set(corners(since)), {STRAIGHT})
                self.session.end_publisher(publisher)
                # The game gone (a UDP game after its second of silence), the next one starts clean.
                since = len(device.bytes())
                wait_until(lambda: device.bytes()[since:].endswith(bytes([STRAIGHT, DEFAULT_SPEED_OFF]) * 3))

    # --- the rhythm on the wire ----------------------------------------------------------------

    def test_about_ten_levels_a_second_reach_the_controller(self):
        device = self.plug(1)
        self.start_ventora()
        device.wait_for_bytes(1)
        device.clear()
        device.wait_for_bytes(RHYTHM_BYTES + 1, timeout=60)
        times = [arrival for arrival, _ in device.timed_bytes()][:RHYTHM_BYTES + 1]
        # The rhythm of most ticks: a busy machine may hold a few of them back, which the median
        # leaves alone.
        gaps = sorted(later - earlier for earlier, later in zip(times, times[1:]))
        rate = 1 / max(gaps[len(gaps) // 2], 1e-6)
        low, high = BYTES_PER_SECOND
        self.assertTrue(low <= rate <= high, f"{rate:.1f} bytes a second at the median; longest gaps {gaps[-3:]}")

    def test_stalled_line_reconnects_about_five_times_a_second(self):
        device = self.plug(1)
        subprocess.run(["stty", "-F", str(device.port_link), "ixon"], check=True)
        self.start_ventora()
        self.session.wait_for_log_line("Connected to COM1")
        device.wait_for_bytes(1)

        device.write(XOFF)
        cycles = lambda: self.session.log_lines().count("Disconnected from COM1")
        first = wait_until(cycles, message="the stalled line took no failed-write path")
        start = time.monotonic()
        last = wait_until(lambda: (n := cycles()) >= first + RHYTHM_CYCLES and n, timeout=60)
        rate = (last - first) / (time.monotonic() - start)
        low, high = STALLED_CYCLES_PER_SECOND
        self.assertTrue(low <= rate <= high, f"{rate:.1f} reconnect cycles a second")

    # --- a stalled line ----------------------------------------------------------------------

    def test_stalled_line_times_out_into_reconnects_and_the_window_still_answers(self):
        device = self.plug(1)
        # Software flow control on Wine's end: the controller's XOFF stops the line, so a write
        # cannot complete until XON.
        subprocess.run(["stty", "-F", str(device.port_link), "ixon"], check=True)
        app = self.start_ventora()
        self.session.wait_for_log_line("Connected to COM1")
        device.wait_for_bytes(1)

        device.write(XOFF)
        lines = self.wait_for_line_count("Disconnected from COM1", 2, exactly=False)
        # Each timed-out write takes the failed-write path: a disconnection, then a reconnection
        # in the same tick, since the port itself is still there.
        self.assertEqual(lines[1:6], ["Connected to COM1", "Disconnected from COM1"] * 2 + ["Connected to COM1"])

        # The window still answers while the line is stopped: it takes a setting and sends it
        # once the controller lets the line go again.
        self.assertEqual(self.session.driver("slider", SPEED_OFF_SLIDER, 40).strip(), "40")
        device.write(XON)
        device.clear()
        wait_until(lambda: 40 in device.bytes(), message="no byte came after XON")
        self.assert_levels_flow(device, 40)

        # And it can be closed, saving that setting.
        stalls = self.session.log_lines().count("Disconnected from COM1")
        device.write(XOFF)
        self.wait_for_line_count("Disconnected from COM1", stalls + 1, exactly=False)
        self.assertEqual(self.session.close_ventora(app), 0)
        self.assertEqual(self.session.read_settings()[1], 40)


if __name__ == "__main__":
    unittest.main()
