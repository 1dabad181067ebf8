"""ventora-board.exe under Wine naming what Windows' device list says a board is, before opening
anything: a Mega 2560 by its USB id, a Bluetooth port that appears while the wizard waits (passed by),
and a clone's CH340 that Windows lists without a driver (problem code 28). The devices are entries
of the prefix's registry as Windows' device list keeps them, which Wine's SetupAPI reads."""

import unittest

from tests.wine import test_board_setup
from tests.wine.test_board_setup import port_opens, start_wizard

PORTS_CLASS = "{4D36E978-E325-11CE-BFC1-08002BE10318}"
USB_CLASS = "{88BAE032-5A81-49F0-BC3D-A4FF138216D6}"
# DEVPKEY_Device_ProblemCode, and the registry type Wine keeps a DEVPROP_TYPE_UINT32 under.
PROBLEM_CODE_KEY = r"Properties\{4340a6c5-93fa-4706-972c-7b648008a5a7}\0003"


def multi_sz(*texts):
    data = "".join(text + "\0" for text in texts) + "\0"
    return "hex(7):" + ",".join(f"{byte:02x}" for byte in data.encode("utf-16-le"))


def device_entries(instance, hardware_id, class_guid, friendly_name=None, port=None, problem=None):
    """A .reg text of one device as Windows' device list keeps it under Enum."""
    key = rf"HKEY_LOCAL_MACHINE\System\CurrentControlSet\Enum\{instance}"
    text = f"[{key}]\r\n\"HardwareID\"={multi_sz(hardware_id)}\r\n\"ClassGUID\"=\"{class_guid}\"\r\n"
    if friendly_name:
        text += f"\"FriendlyName\"=\"{friendly_name}\"\r\n"
    if port:
        text += f"\r\n[{key}\\Device Parameters]\r\n\"PortName\"=\"{port}\"\r\n"
    if problem is not None:
        text += f"\r\n[{key}\\{PROBLEM_CODE_KEY}]\r\n@=hex(ffff0007):{problem:02x},00,00,00\r\n"
    return text + "\r\n"


class NamedBoardsTest(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        cls.session = test_board_setup.board_tool_session(cls, "ventora.exe", "ventora_driver.exe", "ventora-board.exe")
        entries = (device_entries(r"USB\VID_2341&PID_0042\75830333238351F0A1C1", r"USB\VID_2341&PID_0042&REV_0001",
                                  PORTS_CLASS, "Arduino Mega 2560 (COM8)", "COM8")
                   + device_entries(r"BTHENUM\{00001101-0000-1000-8000-00805F9B34FB}_LOCALMFG&0002\7&1&0&0",
                                    r"BTHENUM\{00001101-0000-1000-8000-00805F9B34FB}_LOCALMFG&0002", PORTS_CLASS,
                                    "Standard Serial over Bluetooth link (COM4)", "COM4")
                   + device_entries(r"USB\VID_1A86&PID_7523\5&2B1C0A&0&2", r"USB\VID_1A86&PID_7523&REV_0264",
                                    USB_CLASS, problem=28)
                   # A mouse whose driver failed otherwise: nothing to say about it.
                   + device_entries(r"USB\VID_046D&PID_C52B\6&1", r"USB\VID_046D&PID_C52B&REV_1211", USB_CLASS,
                                    problem=10))
        reg = cls.session.tmp / "devices.reg"
        reg.write_text("Windows Registry Editor Version 5.00\r\n\r\n" + entries, encoding="utf-16")
        cls.session.run(["regedit", "/S", "Z:" + str(reg).replace("/", "\\")], check=True)

    board = test_board_setup.BoardSetupTest.board
    tool = test_board_setup.BoardSetupTest.tool

    def test_list_names_the_mega_unopened_and_the_ch340_without_a_driver(self):
        mega = self.board("optiboot", 8)
        result = self.tool("list")
        self.assertEqual(result.returncode, 0, result.text)
        self.assertRegex(result.text, r"COM4  Standard Serial over Bluetooth link \(COM4\)\n +not probed: a Bluetooth port")
        self.assertRegex(result.text, r"COM8  Arduino Mega 2560 \(COM8\)\n +COM8 is an Arduino Mega 2560 \(an ATmega2560\) "
                         r"\(USB id 2341:0042\), not an ATmega328P: Ventora's fan firmware needs an Arduino Uno or Nano")
        self.assertRegex(" ".join(result.text.split()),
                         r"A CH340 USB serial chip \(USB id 1A86:7523\), as on many Uno and Nano clones, has no COM port: "
                         r"Windows has no driver for this board's USB chip\. Install WCH's CH340/CH341 driver")
        self.assertEqual(result.text.count("Windows has no driver"), 1, result.text)
        self.assertEqual(port_opens(mega), [])

    def test_the_wizard_passes_by_a_bluetooth_port_that_appears_and_takes_the_board_plugged_in_next(self):
        wizard = start_wizard(self.session)
        self.addCleanup(wizard.kill)
        wizard.wait_for_output(r"Waiting up to 30 s")
        wizard.wait_for_output(r"Windows has no driver for this board's USB chip")
        bluetooth = self.board("optiboot", 4)
        wizard.wait_for_output(r"COM4 appeared: a Bluetooth port, passed by\. Still waiting for the fan board\.")
        fan_board = self.board("optiboot", 5)
        wizard.wait_for_output(r"COM5 appeared\.(.|\n)*What does the board on COM5 drive\?")
        self.assertEqual(port_opens(bluetooth), [])
        self.assertTrue(port_opens(fan_board), fan_board.lines)


if __name__ == "__main__":
    unittest.main()
