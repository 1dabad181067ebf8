// The texts and command lines of `ventora-board consoles`.
#include "board_setup/consoles_advice.h"

#include <algorithm>

std::string dottedAddress(std::uint32_t address) {
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
           std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

std::string printable(std::string_view text, std::size_t maxLength) {
    std::string shown;
    for (const char c : text.substr(0, maxLength))
        shown += c >= 0x20 && c < 0x7F ? c : '?';
    return shown;
}

std::string describePlayStation(const PlayStationAnswer& answer, std::uint32_t address) {
    // Only "PS5" and "PS4" are known: anything else is shown as a PlayStation, never as one of them.
    const std::string type =
        answer.hostType == "PS5" || answer.hostType == "PS4" ? answer.hostType : "PlayStation";
    // Built by appending: GCC 12 warns falsely (-Wrestrict) about a literal + std::string.
    std::string line;
    if (!answer.hostName.empty()) line.append("\"").append(printable(answer.hostName)).append("\", ");
    line.append("a ").append(type).append(" at ").append(dottedAddress(address)).append(": ");
    if (!answer.awake) return line + "asleep (in rest mode); Ventora finds it once it is on";
    line += "awake";
    if (!answer.runningAppName.empty())
        line += ", running " + printable(answer.runningAppName);
    else if (!answer.runningAppTitleId.empty())
        line += ", running the game " + printable(answer.runningAppTitleId, 16);
    return line;
}

std::string gameSettingsAdvice(const std::vector<std::uint32_t>& addresses) {
    std::string listed;
    for (std::size_t i = 0; i < addresses.size(); ++i)
        listed += (i == 0 ? "" : i + 1 == addresses.size() ? " or " : ", ") + dottedAddress(addresses[i]);
    std::string text =
        "What to set in each game:\n"
        "  Gran Turismo 7 (PS5, PS4): nothing. While no game on this PC is driven, Ventora finds the\n"
        "    console and asks it for the telemetry.\n";
    if (addresses.empty())
        text += "  Forza Motorsport, Forza Horizon (Xbox): this PC has no address on a home network now.\n"
                "    Connect it to the network the Xbox is on and run this again for the address to set.\n";
    else
        text += "  Forza Motorsport, Forza Horizon (Xbox): Settings, HUD and Gameplay (Gameplay & HUD):\n"
                "    Data Out On, Data Out IP Address " +
                listed + (addresses.size() > 1 ? " (this PC's address on the Xbox's network)" : "") +
                ", Data Out IP Port 5607.\n";
    text += "  F1 24, F1 25 (PlayStation, Xbox): Settings, Telemetry Settings: UDP Telemetry On,\n"
            "    UDP Broadcast Mode On, UDP Port 20777.\n";
    return text;
}

std::optional<std::string> addFirewallRuleParameters(std::string_view exePath) {
    // A quote would end the program's value early, and cmd.exe, which runs the rule's commands,
    // expands %NAME% even inside quotes: such a path would reach netsh changed, so it is refused.
    if (exePath.empty() || exePath.find_first_of("\"%\r\n") != std::string_view::npos) return std::nullopt;
    std::string ports;
    for (const std::uint16_t port : listeningPorts)
        ports.append(ports.empty() ? "" : ",").append(std::to_string(port));
    std::string parameters = "advfirewall firewall add rule name=\"";
    parameters.append(firewallRuleName)
        .append("\" dir=in action=allow enable=yes program=\"")
        .append(exePath);
    return parameters.append("\" protocol=UDP localport=").append(ports).append(" remoteip=localsubnet");
}

std::string deleteFirewallRuleParameters() {
    return std::string("advfirewall firewall delete rule name=\"").append(firewallRuleName).append("\"");
}

std::string showFirewallRuleParameters() {
    return std::string("advfirewall firewall show rule name=\"").append(firewallRuleName).append("\"");
}

std::optional<std::string> replaceFirewallRuleCommand(std::string_view exePath, std::string_view netshPath) {
    const std::optional<std::string> add = addFirewallRuleParameters(exePath);
    if (!add || netshPath.find_first_of("\"%\r\n") != std::string_view::npos) return std::nullopt;
    const std::string netsh = std::string("\"").append(netshPath).append("\" ");
    // /s: cmd takes what lies between the first and the last quote as it is.
    std::string command = "/d /s /c \"";
    command.append(netsh).append(deleteFirewallRuleParameters()).append(" >nul 2>&1 & ");
    return command.append(netsh).append(*add).append("\"");
}
