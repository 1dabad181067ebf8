"""ventora-board.exe under Wine, against the simulated Uno (Optiboot, 115200) and old-bootloader
Nano (ATmegaBOOT, 57600) on COM ports, each the real bootloader in its boot section and reset when
its port is opened: the wizard end to end, a flash with tunables, list, a running Ventora on the
port, the bad inputs, a board unplugged mid-flash, a write cut short or read back wrong followed by a
power-on, and the same flash as avrdude leaves."""

import random
import re
import subprocess
import unittest

from tests.wine.harness import HIGHEST_COM_PORT, Session, WindowsProcess, wait_until
from tests.wine.rig import FIRMWARE_BUILD, RigBoard, connect_board
from tests.wine.test_install import VERSION

RATES = {"optiboot": 115200, "old-nano": 57600}
PWM_HEX = FIRMWARE_BUILD / "ventora-fan.hex"
# The first byte of the boot section of each, which no image may reach.
BOOT_SECTION = {"optiboot": 0x7E00, "old-nano": 0x7800}
DEFAULT_TUNABLES_PWM = "--min-duty 30 --kick-below 50 --kick-ms 500 --failsafe-ms 1000 --side-wind 50 --left-fan 1"
# A board's earlier program whose code from page 2 on drives D8, D9 and D10 high: page 0 `jmp 0x100`;
# at 0x100 `sbi DDRB,0 ; sbi PORTB,0 ; sbi DDRB,1 ; sbi PORTB,1 ; sbi DDRB,2 ; sbi PORTB,2 ; rjmp .`.
OLD_PROGRAM = ((0, bytes.fromhex("0C948000")), (0x100, bytes.fromhex("209A289A219A299A229A2A9AFFCF")))
# How long a board powered on after a write that did not finish is watched, on its own clock.
WATCH_SECONDS = 3.0
PAGE = 128


def hex_record(kind, address, data):
    body = bytes([len(data), address >> 8, address & 0xFF, kind]) + bytes(data)
    return ":" + (body + bytes([-sum(body) & 0xFF])).hex().upper() + "\n"


def hex_file(chunks):
    """Intel HEX text of (address, data) chunks, 16 bytes a record, as avr-objcopy writes it."""
    lines = [hex_record(0, address + at, data[at:at + 16]) for address, data in chunks for at in range(0, len(data), 16)]
    return "".join(lines) + hex_record(1, 0, b"")


def image_of(text):
    """{address: byte} of an Intel HEX file's data records (addresses below 64 KB)."""
    image = {}
    for line in text.splitlines():
        record = bytes.fromhex(line.strip()[1:])
        if record[3] == 0:
            address = record[1] << 8 | record[2]
            image.update((address + i, byte) for i, byte in enumerate(record[4:4 + record[0]]))
    return image


def firmware_with(failsafe_ms):
    """The PWM fan firmware's bytes with another failsafe time in its tunables block."""
    image = image_of(PWM_HEX.read_text())
    data = bytearray(image.get(address, 0xFF) for address in range(max(image) + 1))
    at = data.index(b"VENTORA\0") + 18  # the failsafe's offset in the block
    data[at:at + 2] = failsafe_ms.to_bytes(2, "little")
    return bytes(data)


def board_tool_session(test_class, *programs):
    """A Wine session for a board set-up suite, closed with its class: every COM port absent, as on
    a PC without them, so that the tool finds only the boards a test puts there."""
    session = Session(require=programs)
    test_class.addClassCleanup(session.close)
    for number in range(1, HIGHEST_COM_PORT + 1):
        session._make_port_absent(number)
    return session


class BoardSetupTest(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        cls.session = board_tool_session(cls, "ventora.exe", "ventora_driver.exe", "ventora-board.exe", "publish_game.exe")

    def board(self, bootloader, port, firmware=None, shield=None):
        """A simulated board on COM<port> whose whole flash is kept in a file of the session."""
        flash = self.session.tmp / f"flash-{bootloader}-com{port}-{len(self.session.processes)}-{random.random()}.bin"
        board = RigBoard(firmware, bootloader=bootloader, flash_file=flash, shield=shield)
        board.flash_file = flash
        self.addCleanup(board.stop)
        if port:
            connect_board(self.session, port, board)
            self.addCleanup(self.session.unmap_port, port)
        return board

    def flash_of(self, board):
        """The board's flash, as the board itself writes it on its way out."""
        board.stop()
        return board.flash_file.read_bytes()

    def tool(self, *args, input=None, timeout=240):
        result = self.session.run([self.session.build / "ventora-board.exe", *args], timeout=timeout, input=input)
        result.text = (result.stdout + result.stderr).replace("\r\n", "\n")
        return result

    def end_ventora(self):
        """Closes whatever Ventora runs, however it was started (the tool starts it detached)."""
        if self.session.driver_result("find").returncode == 0:
            self.session.driver_result("close")
            wait_until(lambda: self.session.driver_result("find").returncode != 0, 30,
                       message="a Ventora outlived WM_CLOSE")

    def assert_holds_image(self, flash, image):
        wrong = [address for address, byte in image.items() if flash[address] != byte]
        self.assertEqual(wrong[:5], [], f"{len(wrong)} bytes differ from the image")

    def test_the_wizard_finds_flashes_tests_and_sets_the_port_and_ventora_then_drives_the_board(self):
        # Plugged in while the wizard waits, beside a board it leaves alone; then picked among the
        # boards that answer on every port, each shown with what it holds.
        for bootloader, port, settings, plugged in (("optiboot", 12, (0, 30, 5, 70, 200), True),
                                                    ("old-nano", 3, None, False)):
            with self.subTest(bootloader=bootloader, plugged=plugged):
                session = self.session
                if settings:
                    session.write_settings(*settings)
                else:
                    session.remove_settings()
                # Each from a Ventora of its own, which the wizard closes and starts again.
                app = session.start_ventora()
                try:
                    self.run_wizard(bootloader, port, settings, plugged)
                finally:
                    self.end_ventora()
                    session.end_ventora(app)
                    for number in (port, 9):
                        session.unmap_port(number)

    def run_wizard(self, bootloader, port, settings, plugged):
        session = self.session
        other = self.board("optiboot", 9, firmware="ventora-fan.hex")
        board = self.board(bootloader, None if plugged else port)
        wizard = start_wizard(session)
        try:
            self.check_wizard(wizard, other, board, bootloader, port, settings, plugged)
        finally:
            # Nothing of this subtest runs on into the next.
            wizard.kill()
            other.stop()
            board.stop()

    def check_wizard(self, wizard, other, board, bootloader, port, settings, plugged):
        session = self.session
        wizard.wait_for_output(r"Waiting up to 30 s")
        if plugged:
            connect_board(session, port, board)
            wizard.wait_for_output(rf"COM{port} appeared\.")
        else:
            wizard.send_line("")
            wizard.wait_for_output(r"Which is the fan board\? Enter 1 to 3: ")
            wizard.send_line("3")
            wizard.wait_for_output(r"Which board drives the fans\? Enter 1 to 2: ")
            wizard.send_line("1")
        wizard.wait_for_output(r"What does the board on COM\d+ drive\?(.|\n)*Enter 1 to 7: ")
        wizard.send_line("1")  # PWM fans
        # The side test: D9 alone, then D10 alone (the left fan on output 1 as flashed); the fan on
        # the right blew first, so the board is flashed again with the left fan on output 2.
        wizard.wait_for_output(r"Which fan blew first: the left one or the right one\? Type l or r and Enter: ",
                               timeout=240)
        sides = [(float(m[1]), float(m[2])) for m in (re.search(r"level\s+60 .*left\s+([\d.]+) %  right\s+([\d.]+) %", line)
                                                      for line in list(board.lines)) if m]
        alone = [("left" if l > 0 else "right") for l, r in sides if (l > 0) != (r > 0)]
        self.assertEqual([k for i, k in enumerate(alone) if i == 0 or alone[i - 1] != k], ["left", "right"], sides)
        wizard.send_line("r")
        # Enter is no. A yes would look for PlayStations, which must never happen outside a
        # home network of the test's own.
        wizard.wait_for_output(r"Do you race on a PlayStation or an Xbox\? \[y/N\] ", timeout=240)
        wizard.send_line("")
        wizard.wait_for_output(r"Press Enter to close")
        wizard.send_line("")
        self.assertEqual(wizard.wait(60), 0, wizard.stdout())
        text = wizard.stdout()
        self.assertRegex(text, r"Ventora is running.*: closing it")
        if plugged:
            self.assertEqual(port_opens(other), [])
        else:
            self.assertRegex(text, r"The COM ports on this PC:\n  1  COM3  \(Windows gives no name\)\n"
                             r"  2  COM9  \(Windows gives no name\)\n  3  look for an Uno or Nano on every port")
            self.assertRegex(text, r"Boards found:\n  1  COM3  ATmega328P .*the old bootloader at 57600 baud.*\n"
                             r" +no program: the flash is empty\n  2  COM9  ATmega328P .*Optiboot at 115200 baud.*\n"
                             rf" +Ventora firmware {re.escape(VERSION)} for PWM fans")
        self.assertIn(f"Found an ATmega328P, {'Optiboot' if bootloader == 'optiboot' else 'the old bootloader'} "
                      f"at {RATES[bootloader]} baud", text)
        self.assertIn(f"Wrote Ventora firmware {VERSION} for PWM fans to COM{port}", text)
        self.assertIn(f"Ventora is set to COM{port}.", text)
        self.assertIn("The left fan is on output 2: writing that to the board.", text)
        self.assertRegex(text, r"Tunables: .*--side-wind 50 --left-fan 2\n")
        self.assertNotIn("Looking for PlayStations", text)
        self.assertFalse((session.settings_path.parent / "network.txt").exists())
        self.assertTrue(text.rstrip().endswith("Press Enter to close"), text[-300:])
        expected = (port - 1, *(settings[1:] if settings else (26, 0, 79, 0)))
        self.assertEqual(session.read_settings(), expected)

        # The fan test reached full duty on the new firmware, and went back to off.
        full = board.wait_for(lambda state: state.level == 79 and state.count == state.top)
        off = board.wait_for(lambda state: state.level == 0, start=board.report().index(full))

        # The wizard started Ventora again, which now sends its OFF level to the board.
        session.wait_for_window()
        board.wait_for(lambda state: state.level == expected[1] and state.power, start=board.report().index(off))

    def test_a_flash_with_tunables_tunes_the_board_and_list_reads_variant_version_and_tunables_back(self):
        session = self.session
        uno = self.board("optiboot", 4)
        nano = self.board("old-nano", 15)
        result = self.tool("flash", "COM4", "--min-duty", "40", "--kick-below=0")
        self.assertEqual(result.returncode, 0, result.text)
        # Opening a port resets its board: a flash of another port leaves this one alone.
        self.assertFalse([line for line in nano.lines if "reset" in line], nano.lines)
        self.assertIn("Tunables: --min-duty 40 --kick-below 0 --kick-ms 500 --failsafe-ms 1000 --side-wind 50", result.text)
        result = self.tool("flash", "COM15", "--esc", "--failsafe-ms", "2500", "--esc-full-us", "1900")
        self.assertEqual(result.returncode, 0, result.text)

        listed = self.tool("list")
        self.assertEqual(listed.returncode, 0, listed.text)
        self.assertRegex(listed.text, r"COM4\n +ATmega328P \(signature 1E 95 0F\), Optiboot at 115200 baud.*\n"
                         rf" +Ventora firmware {re.escape(VERSION)} for PWM fans; tunables --min-duty 40 --kick-below 0 "
                         r"--kick-ms 500 --failsafe-ms 1000 --side-wind 50 --left-fan 1\n")
        self.assertRegex(listed.text, r"COM15\n +ATmega328P \(signature 1E 95 0F\), the old bootloader at 57600 baud.*\n"
                         rf" +Ventora firmware {re.escape(VERSION)} for ESCs; tunables --failsafe-ms 2500 --arming-ms 2000 "
                         r"--esc-off-us 1000 --esc-full-us 1900 --side-wind 50 --left-fan 1\n")
        self.assertEqual(re.findall(r"^COM\d+", listed.text, re.M), ["COM4", "COM15"])

        # Level 1 (Ventora's OFF level here, with no game) drives the tuned minimum: 40 % of TOP.
        session.write_settings(3, 1, 0, 79, 0)
        app = session.start_ventora()
        self.addCleanup(session.end_ventora, app)
        state = uno.wait_for(lambda state: state.level == 1 and state.power and state.count)
        self.assertAlmostEqual(state.count / state.top, 0.40, delta=1 / state.top, msg=state.text)

    def test_a_shield_flashed_with_output_follows_ventoras_levels_and_coasts_when_ventora_closes(self):
        board = self.board("optiboot", 3, shield="l293d-shield")
        result = self.tool("flash", "COM3", "--output", "l293d-shield")
        self.assertEqual(result.returncode, 0, result.text)
        self.assertIn(f"Wrote Ventora firmware {VERSION} for the L293D motor shield to COM3", result.text)

        # COM3, OFF 40, MIN 0, MAX 79, a manual top of 240 km/h: level 40 with no game, 79 at 240.
        self.session.write_settings(2, 40, 0, 79, 240)
        app = self.session.start_ventora()
        self.addCleanup(self.end_ventora)
        # Level 1 is 30 % and 79 is 100 %, linear between, on both fans, both bridges forward.
        share = lambda level: 30 + 70 * (level - 1) / 78  # noqa: E731

        def running_at(level):
            def seen():
                return next((s for s in board.shield_states() if s[0] == level and s[2] == s[4] == "forward"
                             and abs(s[1] - share(level)) < 1.5 and abs(s[3] - share(level)) < 1.5), None)
            return wait_until(seen, 60, message=lambda: f"the shield never ran at level {level}: {board.lines[-6:]}")

        running_at(40)
        game = self.session.start_publisher("ac", "--car", "Roadster", "--track", "Hillclimb", "--layout", "Long",
                                            "--speed", "240")
        self.addCleanup(self.session.end_publisher, game)
        self.assertEqual(game.read_line(60), "ready")
        running_at(79)
        before = len(board.shield_states())
        self.assertEqual(self.session.close_ventora(app), 0)
        wait_until(lambda: any(s[1] == s[3] == 0.0 and s[2] == s[4] == "coast" for s in board.shield_states()[before:]),
                   15, message=lambda: f"the shield's fans never coasted: {board.lines[-6:]}")

    def test_a_ventora_holding_the_port_is_closed_for_the_flash_and_started_again_with_its_settings(self):
        session = self.session
        board = self.board("optiboot", 7, firmware="ventora-fan.hex")
        session.write_settings(6, 33, 2, 77, 150)
        app = session.start_ventora()
        self.addCleanup(session.end_ventora, app)
        # The Ventora the tool starts again, first.
        self.addCleanup(self.end_ventora)
        old_pid = session.driver("pid").strip()
        board.wait_for(lambda state: state.level == 33 and state.power)
        # A slider moved since the start: only a Ventora closed as a user closes it saves it.
        session.driver("slider", 0, 35)
        board.wait_for(lambda state: state.level == 35)

        before_flash = len(board.report())
        result = self.tool("flash", "COM7", "--min-duty", "45")
        self.assertEqual(result.returncode, 0, result.text)
        self.assertIn("Ventora is running and holds COM7: closing it", result.text)
        self.assertIn("Ventora is running again.", result.text)
        self.assertEqual(app.wait(30), 0)
        self.assertEqual(session.read_settings(), (6, 35, 2, 77, 150))

        session.wait_for_window()
        self.assertNotEqual(session.driver("pid").strip(), old_pid)
        self.assertEqual(session.driver("slider", 0).strip(), "35")
        # Level 35 at the new firmware's duty: 45 % plus 34/78 of the rest (the old one's minimum was 30 %).
        board.wait_for(lambda state: state.level == 35 and state.power and state.top
                       and abs(state.count / state.top - (0.45 + 0.55 * 34 / 78)) <= 1 / state.top,
                       start=before_flash)

    def test_bad_inputs_get_a_clear_message_and_change_nothing(self):
        session = self.session
        uno = self.board("optiboot", 2, firmware="ventora-fan.hex")
        self.board("atmega168", 6)
        nano = self.board("old-nano", 9)
        session.plug_port(8)  # a serial device that never answers
        self.addCleanup(session.unmap_port, 8)
        held = session.prefix / "dosdevices" / "com10"
        held.unlink()
        held.mkdir()  # Wine answers access denied, as Windows does for a port another program holds
        self.addCleanup(session._make_port_absent, 10)
        settings = session.read_settings()

        flash_before = uno.flash_file.read_bytes()
        lines = PWM_HEX.read_text().splitlines(keepends=True)
        fourth = lines[3].rstrip()
        lines[3] = fourth[:-2] + f"{(int(fourth[-2:], 16) + 1) & 0xFF:02X}\n"
        files = {
            "bad-checksum.hex": "".join(lines),
            "overlapping.hex": hex_file([(0x100, bytes(32)), (0x110, bytes(4))]),
            "too-large.hex": hex_file([(0, bytes(64)), (0x7E00, bytes(16))]),
            "too-large-for-the-old-bootloader.hex": hex_file([(0, bytes(64)), (0x7900, bytes(16))]),
            "failsafe-a-minute.hex": hex_file([(0, firmware_with(failsafe_ms=60000))]),
        }
        for name, text in files.items():
            (session.tmp / name).write_text(text)
        cases = [
            (("flash", "COM200"), r"COM200 does not exist on this PC"),
            (("test", "COM200"), r"COM200 does not exist on this PC"),
            (("flash", "COM10"), r"COM10 is in use by another program"),
            (("flash", "COM8"), r"Nothing on COM8 answered as an Arduino bootloader.*Leonardo or\s+Micro"),
            (("flash", "COM6"), r"COM6 is an ATmega168 \(signature 1E 94 06\)"),
            (("flash", "COM2", "--hex", "bad-checksum.hex"), r"line 4: bad checksum"),
            (("flash", "COM2", "--hex", "overlapping.hex"), r"overlapping records: 0x0110"),
            (("flash", "COM2", "--hex", "too-large.hex"), r"too large: it ends at 0x7E10"),
            (("flash", "COM9", "--hex", "too-large-for-the-old-bootloader.hex"),
             r"too large: it ends at 0x7910, and the flash below the old bootloader ends at 0x7800"),
            (("flash", "COM2", "--hex", "failsafe-a-minute.hex"),
             r"its tunables block is not whole: --failsafe-ms is 60000, outside 300 to 5000 ms\. Nothing was written"),
            (("flash", "COM2", "--min-duty", "101"), r"--min-duty must be from 1 to 100 %; 101 is out of range"),
            (("flash", "COM2", "--failsafe-ms", "100"), r"--failsafe-ms must be from 300 to 5000 ms"),
            (("flash", "COM2", "--esc", "--min-duty", "40"), r"--min-duty is for every kind but ESCs"),
            (("flash", "COM2", "--kick-ms", "fast"), r"--kick-ms must be from 0 to 5000 ms; fast is not a number"),
            (("flash", "COM0"), r"COM0 is not a COM port"),
        ]
        for args, message in cases:
            with self.subTest(args=" ".join(args)):
                args = [str(session.tmp / arg) if arg.endswith(".hex") else arg for arg in args]
                result = self.tool(*args)
                self.assertNotEqual(result.returncode, 0, result.text)
                self.assertRegex(result.text, message)
        for board in (uno, nano):
            self.assertFalse([line for line in board.lines if "flash written" in line], board.lines[-10:])
        self.assertEqual(self.flash_of(uno), flash_before)
        self.assertEqual(session.read_settings(), settings)

    def test_a_board_unplugged_mid_flash_takes_the_whole_image_once_plugged_back_in(self):
        session = self.session
        # 16 KB: about 130 pages each way, several seconds, so the cable is pulled well inside.
        data = bytes(random.Random(17).randrange(256) for _ in range(0x4000))
        large = session.tmp / "large.hex"
        large.write_text(hex_file([(0, data)]))
        board = self.board("optiboot", 11)
        flashing = session.start(session.build / "ventora-board.exe", "flash", "COM11", "--hex", large)
        # Pulled once pages beyond page 0 are going in: page 0's loop has read back by then (a pull
        # during page 0's own write leaves it in doubt, which the tool says instead).
        wait_until(lambda: sum("flash written" in line for line in board.lines) >= 3, 60,
                   message=lambda: f"too few pages were written: {board.lines[-5:]} {flashing.stdout()[-300:]!r}")
        board.stop()
        self.assertEqual(flashing.wait(60), 1)
        self.assertRegex(" ".join(flashing.stdout().split()), r"COM11 stopped answering .*The board is safe with its "
                         r"fans off: .* it runs only a page that switches a motor shield's own PWM chip off, and "
                         r"every pin is an input\. Plug it back in and run the same command again")

        # Plugged back in: the same flash, reset on open, the bootloader as it was.
        again = RigBoard(None, bootloader="optiboot", flash_file=board.flash_file)
        again.flash_file = board.flash_file
        self.addCleanup(again.stop)
        connect_board(session, 11, again)
        result = self.tool("flash", "COM11", "--hex", large)
        self.assertEqual(result.returncode, 0, result.text)
        self.assert_holds_image(self.flash_of(again), dict(enumerate(data)))

    def test_a_write_cut_short_or_read_back_wrong_leaves_a_board_that_runs_nothing_until_flashed_again(self):
        session = self.session
        old_program = session.tmp / "old-program.hex"
        old_program.write_text(hex_file(OLD_PROGRAM))
        firmware = image_of(PWM_HEX.read_text())
        # Filler far above the firmware, never run, so that a write lasts seconds at 57600 baud.
        longer = session.tmp / "firmware-and-filler.hex"
        longer.write_text(hex_file([(0, bytes(firmware.get(a, 0xFF) for a in range(max(firmware) + 1))),
                                    (0x2000, bytes(0x2000))]))
        pages = sorted({address // PAGE for address in firmware})
        middle = len(pages) // 2
        safe = (r"The board is safe with its fans off: once its bootloader lets go \(a second or two\), it runs only "
                r"a page that switches a motor shield's own PWM chip off, and every pin is an input")
        # The bootloader's page writes come in this order: page 0's idle page, the other pages, page 0.
        cases = [
            ("optiboot", ["--unplug-at-page-write", "2"], None,
             rf"stopped answering at the page at 0x{pages[1] * PAGE:04X}: was the board unplugged\? {safe}"),
            ("optiboot", ["--unplug-at-page-write", str(middle + 1)], None,
             rf"stopped answering at the page at 0x{pages[middle] * PAGE:04X}: .* {safe}"),
            # The tool cannot know whether the page 0 it sent was taken, and says so.
            ("optiboot", ["--unplug-at-page-write", str(len(pages) + 1)], None,
             r"stopped answering at the page at 0x0000: .* the board may run part of a program: keep the fans' "
             r"power off"),
            ("old-nano", [], longer, None),  # the tool ended (Ctrl+C, its console closed) once writing began
            # The idle page itself does not take: read back whole, it is not the idle page, and a board
            # that runs something else must be replaced by name the next time.
            ("optiboot", ["--corrupt-page", "0"], None,
             r"the page at 0x0000 reads back wrong \(0x007F: wrote .*\): .*Its first page could not be made to run "
             r"nothing either.* add --replace"),
            ("optiboot", ["--corrupt-page", str(pages[middle])], None,
             rf"the page at 0x{pages[middle] * PAGE:04X} reads back wrong .*{safe}"),
            ("optiboot", ["--corrupt-page", str(pages[-1])], None,
             rf"the page at 0x{pages[-1] * PAGE:04X} reads back wrong \(0x{pages[-1] * PAGE + PAGE - 1:04X}: .*{safe}"),
        ]
        for bootloader, options, hex_path, message in cases:
            with self.subTest(bootloader=bootloader, options=" ".join(options) or "tool ended"):
                flash_file = session.tmp / f"cut-{random.random()}.bin"
                board = RigBoard(str(old_program), bootloader=bootloader, flash_file=flash_file, options=options)
                self.addCleanup(board.stop)
                # The old program runs, and the board's report shows it driving the pins.
                board.wait_for_event("firmware started")
                wait_until(lambda: "pins D8 high, D9 high, D10 high" in " ".join(board.lines), 30)
                connect_board(session, 5, board)
                self.addCleanup(session.unmap_port, 5)
                # The old program is another program: replacing it takes --replace.
                flashing = session.start(session.build / "ventora-board.exe", "flash", "COM5", "--replace",
                                         *(["--hex", hex_path] if hex_path else []))
                self.addCleanup(flashing.kill)
                if "--unplug-at-page-write" in options:
                    # Its port goes with it, as a USB board's does.
                    wait_until(lambda: any(" unplugged " in line for line in board.lines), 60,
                               message=lambda: f"the board was never unplugged: {board.lines[-5:]}")
                    board.stop()
                elif not options:
                    board.wait_for_event("flash written", timeout=60)
                    flashing.kill()
                if message:
                    self.assertEqual(flashing.wait(60), 1, flashing.stdout())
                    self.assertRegex(" ".join(flashing.stdout().split()), message)
                board.stop()

                # Powered on again: it runs nothing for seconds, and then takes the next flash.
                again = RigBoard(None, bootloader=bootloader, flash_file=flash_file)
                self.addCleanup(again.stop)
                connect_board(session, 5, again)
                again.wait_until_simulated(WATCH_SECONDS)
                # Named: cut before page 1 went in, the board's pages say no kind (they are the old
                # program's), and the tool then asks for one.
                result = self.tool("flash", "COM5", "--output", "pwm-fans",
                                   *(["--replace"] if options == ["--corrupt-page", "0"] else []))
                self.assertEqual(result.returncode, 0, result.text)
                again.stop()
                reset = next(i for i, line in enumerate(again.lines) if "reset: the port was opened" in line)
                watched = again.lines[:reset + 1]
                self.assertGreaterEqual(float(watched[-1].split()[0]), WATCH_SECONDS, watched[-3:])
                self.assertTrue([line for line in watched if "firmware started" in line], watched[:5])
                self.assertEqual([line for line in watched if "pins" in line][:3], [])
                self.assert_holds_image(flash_file.read_bytes(), firmware)
                session.unmap_port(5)

    def test_avrdude_and_ventora_board_leave_the_same_flash(self):
        image = image_of(PWM_HEX.read_text())
        for bootloader, rate in RATES.items():
            with self.subTest(bootloader=bootloader):
                by_avrdude = self.board(bootloader, None)
                avrdude = subprocess.run(["avrdude", "-p", "atmega328p", "-c", "arduino", "-P", by_avrdude.pty,
                                          "-b", str(rate), "-D", "-U", f"flash:w:{PWM_HEX}:i"],
                                         capture_output=True, text=True, timeout=120)
                self.assertEqual(avrdude.returncode, 0, avrdude.stderr[-800:])
                by_tool = self.board(bootloader, 13)
                result = self.tool("flash", "COM13")
                self.assertEqual(result.returncode, 0, result.text)
                tool_flash, avrdude_flash = self.flash_of(by_tool), self.flash_of(by_avrdude)
                self.assert_holds_image(tool_flash, image)
                self.assertEqual(len(tool_flash), 0x8000)
                self.assertNotEqual(tool_flash[BOOT_SECTION[bootloader]:], b"\xff" * (0x8000 - BOOT_SECTION[bootloader]))
                self.assertEqual(tool_flash, avrdude_flash)
                self.session.unmap_port(13)


# Another program, as a sketch leaves the flash: the LED on D13 lit (sbi DDRB,5; sbi PORTB,5), then a
# loop on itself.
LED_SKETCH = bytes([0x25, 0x9A, 0x2D, 0x9A, 0xFF, 0xCF])


def port_opens(board):
    """The resets the board logged because a program opened its port."""
    return [line for line in board.lines if "reset: the port was opened" in line]


def start_wizard(session):
    """ventora-board.exe with no arguments: its answers go in through a pipe as it asks for them
    (send_line), what it says goes to a file (wait_for_output, stdout)."""
    out = session.tmp / f"wizard-{len(session.processes)}.out"
    with open(out, "wb") as stdout:
        # On a session's home network, inside it like every program of the session.
        command = session._inside(["wine", str(session.build / "ventora-board.exe")])
        popen = subprocess.Popen(command, env=session.env, stdin=subprocess.PIPE, stdout=stdout,
                                 stderr=subprocess.STDOUT, text=True, encoding="latin-1")
    wizard = WindowsProcess(popen, out, stdin=popen.stdin)
    session.processes.append(wizard)
    return wizard


class OnlyTheFanBoardTest(unittest.TestCase):
    """The tool opens no port but the one it was pointed at or saw plugged in, and replaces a
    program that is not Ventora's firmware only when told to."""

    @classmethod
    def setUpClass(cls):
        cls.session = board_tool_session(cls, "ventora.exe", "ventora_driver.exe", "ventora-board.exe")

    board = BoardSetupTest.board
    flash_of = BoardSetupTest.flash_of
    tool = BoardSetupTest.tool
    assert_holds_image = BoardSetupTest.assert_holds_image

    def test_flash_leaves_another_program_alone_unless_told_to_replace_it(self):
        sketch = self.session.tmp / "led-sketch.hex"
        sketch.write_text(hex_file([(0, LED_SKETCH)]))
        board = self.board("optiboot", 4, firmware=sketch)
        as_found = board.flash_file.read_bytes()
        self.assertEqual(as_found[:len(LED_SKETCH)], LED_SKETCH)

        refused = self.tool("flash", "COM4")
        self.assertEqual(refused.returncode, 1, refused.text)
        self.assertRegex(refused.text, r"COM4 holds another program, not Ventora's firmware.*blinks its LED.*"
                         r"ventora-board flash COM4 --replace\. Nothing was written\.")
        self.assertEqual(self.flash_of(board), as_found)

        # The same board plugged in again, its flash as it was left.
        again = RigBoard(None, bootloader="optiboot", flash_file=board.flash_file)
        again.flash_file = board.flash_file
        self.addCleanup(again.stop)
        connect_board(self.session, 4, again)
        replaced = self.tool("flash", "COM4", "--replace")
        self.assertEqual(replaced.returncode, 0, replaced.text)
        self.assertIn("It holds another program, not Ventora's firmware: replacing it", replaced.text)
        self.assert_holds_image(self.flash_of(again), image_of(PWM_HEX.read_text()))

    def test_the_wizard_lists_the_ports_unopened_and_asks_before_replacing_the_program_on_the_one_picked(self):
        sketch = self.session.tmp / "led-sketch.hex"
        sketch.write_text(hex_file([(0, LED_SKETCH)]))
        picked = self.board("optiboot", 5, firmware=sketch)
        as_found = picked.flash_file.read_bytes()
        other = self.board("old-nano", 6)
        wizard = start_wizard(self.session)
        self.addCleanup(wizard.kill)
        wizard.wait_for_output(r"Waiting up to 30 s")
        wizard.send_line("")
        wizard.wait_for_output(r"Which is the fan board\? Enter 1 to 3: ")
        self.assertEqual(port_opens(picked) + port_opens(other), [])
        wizard.send_line("1")
        wizard.wait_for_output(r"Replace it with Ventora's fan firmware\? \[y/N\] ")
        wizard.send_line("")  # Enter: no
        wizard.wait_for_output(r"Nothing was written to COM5\.\n\nPlug in the fan board")
        wizard.send_line("q")
        wizard.send_line("")  # at "Press Enter to close"
        self.assertEqual(wizard.wait(60), 1, wizard.stdout())
        self.assertRegex(wizard.stdout(), r"The COM ports on this PC:\n  1  COM5  .*\n  2  COM6  .*\n  3  look for"
                         r"(.*\n)+COM5\n +ATmega328P .*Optiboot at 115200 baud.*\n +another program \(not Ventora's "
                         r"firmware\)\n\nThe board on COM5 holds another program(.*\n)+.*blinks its LED")
        self.assertNotIn("Writing", wizard.stdout())
        self.assertEqual(self.flash_of(picked), as_found)
        self.assertEqual(port_opens(other), [])

    def test_list_of_one_port_says_what_probing_does_and_opens_that_port_alone(self):
        uno = self.board("optiboot", 5, firmware="ventora-fan.hex")
        other = self.board("old-nano", 6)
        result = self.tool("list", "COM5")
        self.assertEqual(result.returncode, 0, result.text)
        self.assertRegex(result.text, r"^Probing COM5 opens it, which restarts the device behind it(.+\n)+\n"
                         r"COM5\n +ATmega328P \(signature 1E 95 0F\), Optiboot at 115200 baud.*\n"
                         rf" +Ventora firmware {re.escape(VERSION)} for PWM fans")
        self.assertNotIn("COM6", result.text)
        self.assertTrue(port_opens(uno), uno.lines)
        self.assertEqual(port_opens(other), [])


if __name__ == "__main__":
    unittest.main()
