"""ventora-board.exe under Wine keeping the kind of firmware a board runs: a shield board retuned
without --output keeps its shield's firmware, another kind takes --output and is said, a board with
no kind to keep gets the 4-pin fans with a line saying so, a write cut short whose kind no page says
is refused until --output names it, and test looks at the board first."""

import re
import unittest

from pathlib import Path

from tests.wine.rig import FIRMWARE_BUILD, RigBoard, connect_board
from tests.wine import test_board_setup
from tests.wine.test_install import VERSION

# Page 1 of 1.2.0's Adafruit Motor Shield v2 image, as fixtures/make_v2_1_2_0_page1.sh built it.
V2_1_2_0_PAGE_1 = bytes.fromhex(" ".join(
    line for line in (Path(__file__).parent / "fixtures" / "motor-shield-v2-1.2.0-page1.txt").read_text().splitlines()
    if not line.startswith("#")))


class KeptKindTest(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        cls.session = test_board_setup.board_tool_session(cls, "ventora.exe", "ventora_driver.exe", "ventora-board.exe")

    # The board set-up suite's own helpers (its module, not its class: that would run its tests here).
    board = test_board_setup.BoardSetupTest.board
    tool = test_board_setup.BoardSetupTest.tool
    flash_of = test_board_setup.BoardSetupTest.flash_of

    def listed(self, port):
        result = self.tool("list", f"COM{port}")
        self.assertEqual(result.returncode, 0, result.text)
        return re.search(r"Ventora firmware .*", result.text)[0]

    def test_the_l293d_board_reflashed_with_a_tunable_keeps_its_kind_until_output_names_another(self):
        board = self.board("optiboot", 3, firmware="ventora-fan-l293d-shield.hex", shield="l293d-shield")
        retuned = self.tool("flash", "COM3", "--min-duty", "40", "--left-fan", "2")
        self.assertEqual(retuned.returncode, 0, retuned.text)
        self.assertIn("It runs Ventora's firmware for the L293D motor shield: writing that kind again", retuned.text)
        self.assertIn(f"Wrote Ventora firmware {VERSION} for the L293D motor shield to COM3", retuned.text)
        self.assertEqual(self.listed(3), f"Ventora firmware {VERSION} for the L293D motor shield; tunables "
                         "--min-duty 40 --kick-below 50 --kick-ms 500 --failsafe-ms 1000 --side-wind 50 --left-fan 2")

        tested = self.tool("test", "COM3")
        self.assertEqual(tested.returncode, 0, tested.text)
        self.assertRegex(tested.text, rf"It runs Ventora firmware {re.escape(VERSION)} for the L293D motor shield.*\n"
                         r"Fan test on COM3")
        # The shield's bridges ran forward at full, as the L293D firmware drives them.
        self.assertTrue([s for s in board.shield_states() if s[1] == s[3] == 100.0 and s[2] == s[4] == "forward"],
                        board.lines[-6:])

        changed = self.tool("flash", "COM3", "--output", "pwm-fans")
        self.assertEqual(changed.returncode, 0, changed.text)
        self.assertIn("was l293d-shield, now pwm-fans", changed.text)
        # The board's tuning and its left fan go with it to the new kind.
        self.assertIn("It keeps its tunables", changed.text)
        self.assertEqual(self.listed(3), f"Ventora firmware {VERSION} for PWM fans; tunables --min-duty 40 "
                         "--kick-below 50 --kick-ms 500 --failsafe-ms 1000 --side-wind 50 --left-fan 2")

    def test_a_v2_shield_board_whose_write_was_cut_short_gets_its_kind_again_without_output(self):
        # Unplugged as the write of page 1 comes: the board holds the idle page over the v2 firmware.
        board = RigBoard("ventora-fan-motor-shield-v2.hex", bootloader="optiboot",
                         flash_file=self.session.tmp / "cut-v2.bin", options=["--unplug-at-page-write", "2"])
        board.flash_file = self.session.tmp / "cut-v2.bin"
        self.addCleanup(board.stop)
        connect_board(self.session, 7, board)
        self.addCleanup(self.session.unmap_port, 7)
        cut = self.tool("flash", "COM7", "--min-duty", "40")
        self.assertEqual(cut.returncode, 1, cut.text)
        self.assertIn("The board is safe with its fans off", cut.text)
        board.stop()

        # Plugged back in, its page 0 the idle page and its tunables block gone with it.
        again = RigBoard(None, bootloader="optiboot", flash_file=board.flash_file)
        self.addCleanup(again.stop)
        connect_board(self.session, 7, again)
        result = self.tool("flash", "COM7")
        self.assertEqual(result.returncode, 0, result.text)
        self.assertIn("Its write cut short was of the firmware for the Adafruit Motor Shield v2", result.text)
        self.assertTrue(self.listed(7).startswith(f"Ventora firmware {VERSION} for the Adafruit Motor Shield v2;"))

    def test_a_shield_board_whose_upgrade_from_1_2_0_was_cut_short_is_refused_until_output_names_its_kind(self):
        # Cut after the idle page: page 1 still 1.2.0's, which no image of this version holds.
        board = self.board("optiboot", 8)
        flash = bytearray(self.flash_of(board))
        flash[0:128] = (FIRMWARE_BUILD / "idle-page.bin").read_bytes().ljust(128, b"\xff")
        flash[128:256] = V2_1_2_0_PAGE_1
        board.flash_file.write_bytes(flash)
        again = RigBoard(None, bootloader="optiboot", flash_file=board.flash_file)
        self.addCleanup(again.stop)
        connect_board(self.session, 8, again)

        refused = self.tool("flash", "COM8")
        self.assertEqual(refused.returncode, 1, refused.text)
        self.assertRegex(refused.text, r"no page of it says.*--output and the kind its fans are wired for, one of: "
                         r"pwm-fans, driver, l293d-shield, motor-shield-v2")
        self.assertNotIn("Writing", refused.text)
        again.stop()
        self.assertEqual(board.flash_file.read_bytes()[:256], bytes(flash[:256]), "nothing written")

        back = RigBoard(None, bootloader="optiboot", flash_file=board.flash_file)
        self.addCleanup(back.stop)
        connect_board(self.session, 8, back)
        named = self.tool("flash", "COM8", "--output", "motor-shield-v2")
        self.assertEqual(named.returncode, 0, named.text)
        self.assertTrue(self.listed(8).startswith(f"Ventora firmware {VERSION} for the Adafruit Motor Shield v2;"))

    def test_a_board_with_no_kind_to_keep_gets_the_4_pin_fans_said_in_one_line_and_test_refuses_it(self):
        self.board("old-nano", 6)
        tested = self.tool("test", "COM6")
        self.assertEqual(tested.returncode, 1, tested.text)
        self.assertRegex(tested.text, r"the board on COM6 runs no Ventora firmware \(no program: the flash is empty\)"
                         r".*ventora-board flash COM6")
        self.assertNotIn("Fan test on COM6", tested.text)

        flashed = self.tool("flash", "COM6")
        self.assertEqual(flashed.returncode, 0, flashed.text)
        lines = [line for line in flashed.text.splitlines() if "names no kind" in line]
        self.assertEqual(len(lines), 1, flashed.text)
        self.assertRegex(lines[0], r"writing the one for PWM fans \(--output pwm-fans\); --output names another: "
                         r"pwm-fans, driver, l293d-shield")
        self.assertTrue(self.listed(6).startswith(f"Ventora firmware {VERSION} for PWM fans;"))


if __name__ == "__main__":
    unittest.main()
