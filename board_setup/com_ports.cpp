// Finding COM ports: the DOS device names say which exist, SetupAPI says what each is.
#include "board_setup/com_ports.h"

#include "win32.h"

#include <cfgmgr32.h>
#include <initguid.h>
#include <devpkey.h>
#include <setupapi.h>

#include <cstdlib>
#include <map>
#include <optional>

#include "board_setup/serial_line.h"
#include "board_setup/usb_boards.h"

namespace {

// The "Ports (COM & LPT)" device class.
const GUID portsClass = {0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

std::string registryProperty(HDEVINFO devices, SP_DEVINFO_DATA& device, DWORD property) {
    char text[512] = "";
    DWORD size = 0;
    if (!SetupDiGetDeviceRegistryPropertyA(devices, &device, property, nullptr, reinterpret_cast<BYTE*>(text),
                                           sizeof text - 1, &size))
        return {};
    return text;
}

// Port number -> the device's friendly name and first hardware id, for every present port device.
std::map<int, ComPort> describedPorts() {
    std::map<int, ComPort> ports;
    HDEVINFO devices = SetupDiGetClassDevsA(&portsClass, nullptr, nullptr, DIGCF_PRESENT);
    if (devices == INVALID_HANDLE_VALUE) return ports;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(devices, index, &device); ++index) {
        HKEY key = SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE) continue;
        char name[32] = "";
        DWORD size = sizeof name - 1;
        DWORD type = 0;
        const bool named = RegQueryValueExA(key, "PortName", nullptr, &type, reinterpret_cast<BYTE*>(name),
                                            &size) == ERROR_SUCCESS &&
                           type == REG_SZ;
        RegCloseKey(key);
        if (!named || _strnicmp(name, "COM", 3) != 0) continue;
        const int number = std::atoi(name + 3);
        if (number < 1 || number > highestComPort) continue;
        ports[number] = {number, registryProperty(devices, device, SPDRP_FRIENDLYNAME),
                         registryProperty(devices, device, SPDRP_HARDWAREID)};
    }
    SetupDiDestroyDeviceInfoList(devices);
    return ports;
}

// Whether the port is there, without opening it: an open resets the Uno or Nano behind it, and
// restarts a printer or a motion controller. Windows names every port a DOS device. Wine keeps its
// ports as links of its own that QueryDosDevice does not show, and gives attributes only of files
// and folders: there a port that is there fails with another error than one that is not (a link
// that leads nowhere answers ERROR_BAD_DEV_TYPE). On Windows the second look only meets ports that
// are not there, which it does not open either.
bool isThere(int number) {
    const std::string name = "COM" + std::to_string(number);
    char target[1024];
    if (QueryDosDeviceA(name.c_str(), target, sizeof target) != 0) return true;
    if (GetFileAttributesA(devicePathOf(number).c_str()) != INVALID_FILE_ATTRIBUTES) return true;
    const DWORD error = GetLastError();
    return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND && error != ERROR_BAD_DEV_TYPE;
}

// The device's problem code, when it has one: the device property, which Windows keeps for every
// device since Vista, else the device node's status.
std::optional<ULONG> problemCode(HDEVINFO devices, SP_DEVINFO_DATA& device) {
    DEVPROPTYPE type = 0;
    ULONG code = 0;
    if (SetupDiGetDevicePropertyW(devices, &device, &DEVPKEY_Device_ProblemCode, &type,
                                  reinterpret_cast<BYTE*>(&code), sizeof code, nullptr, 0) &&
        type == DEVPROP_TYPE_UINT32)
        return code ? std::optional(code) : std::nullopt;
    // Initialised: Wine answers CR_SUCCESS without filling either in.
    ULONG status = 0;
    ULONG problem = 0;
    if (CM_Get_DevNode_Status(&status, &problem, device.DevInst, 0) != CR_SUCCESS ||
        !(status & DN_HAS_PROBLEM))
        return std::nullopt;
    return problem;
}

} // namespace

std::vector<ComPort> listComPorts() {
    const std::map<int, ComPort> described = describedPorts();
    std::vector<ComPort> ports;
    for (int number = 1; number <= highestComPort; ++number) {
        const auto found = described.find(number);
        if (found != described.end())
            ports.push_back(found->second);
        else if (isThere(number))
            ports.push_back({number, {}, {}});
    }
    return ports;
}

std::vector<int> presentComPorts() {
    std::vector<int> numbers;
    for (int number = 1; number <= highestComPort; ++number)
        if (isThere(number)) numbers.push_back(number);
    return numbers;
}

ComPort describeComPort(int number) {
    const std::map<int, ComPort> described = describedPorts();
    const auto found = described.find(number);
    return found != described.end() ? found->second : ComPort{number, {}, {}};
}

std::vector<DriverlessDevice> driverlessUsbChips() {
    std::vector<DriverlessDevice> found;
    HDEVINFO devices = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT);
    if (devices == INVALID_HANDLE_VALUE) return found;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(devices, index, &device); ++index) {
        const std::optional<ULONG> problem = problemCode(devices, device);
        if (!problem) continue;
        // The first of the hardware ids is the most specific: "USB\VID_1A86&PID_7523&REV_0264".
        std::string note = driverlessChipNote(registryProperty(devices, device, SPDRP_HARDWAREID), *problem);
        if (note.empty()) continue;
        char instance[512] = "";
        SetupDiGetDeviceInstanceIdA(devices, &device, instance, sizeof instance, nullptr);
        found.push_back({instance, std::move(note)});
    }
    SetupDiDestroyDeviceInfoList(devices);
    return found;
}

std::vector<std::string> DriverlessChips::newNotes() {
    std::vector<std::string> notes;
    for (DriverlessDevice& device : driverlessUsbChips())
        if (seen.insert(device.instanceId).second) notes.push_back(std::move(device.note));
    return notes;
}
