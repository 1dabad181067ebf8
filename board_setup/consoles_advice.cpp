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

namespace {

std::optional<std::string> programValue(std::string_view exePath) {
    if (exePath.empty() || exePath.find_first_of("\"\r\n") != std::string_view::npos) return std::nullopt;
    return std::string("program=\"").append(exePath).append("\"");
}

std::string ruleName() {
    return std::string("name=\"").append(firewallRuleName).append("\"");
}

constexpr const char* makePrivateAdvice =
    "If it is your home network, make it Private: Settings, Network & internet, Wi-Fi (or Ethernet), the\n"
    "network's properties, Network profile type: Private network. Leave a cafe's or a hotel's Public.\n";

bool containsIgnoringCase(std::string_view text, std::string_view part) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return std::search(text.begin(), text.end(), part.begin(), part.end(),
                       [&](char a, char b) { return lower(a) == lower(b); }) != text.end();
}

} // namespace

std::optional<std::string> addFirewallRuleParameters(std::string_view exePath) {
    const auto program = programValue(exePath);
    if (!program) return std::nullopt;
    std::string ports;
    for (const std::uint16_t port : listeningPorts)
        ports.append(ports.empty() ? "" : ",").append(std::to_string(port));
    std::string parameters = "advfirewall firewall add rule ";
    parameters.append(ruleName()).append(" dir=in action=allow enable=yes ").append(*program);
    return parameters.append(" protocol=UDP localport=")
        .append(ports)
        .append(" remoteip=localsubnet profile=private,domain");
}

std::optional<std::string> moveFirewallRuleParameters(std::string_view exePath) {
    const auto program = programValue(exePath);
    if (!program) return std::nullopt;
    return std::string("advfirewall firewall set rule ")
        .append(ruleName())
        .append(" new ")
        .append(*program)
        .append(" profile=private,domain");
}

std::string deleteFirewallRuleParameters() {
    return std::string("advfirewall firewall delete rule ").append(ruleName());
}

ShownRule judgeFirewallRule(const std::optional<SeenFirewallRule>& seen, std::string_view exePath) {
    if (!seen) return ShownRule::unknown;
    if (!seen->found) return ShownRule::none;
    const bool sameProgram =
        seen->program.size() == exePath.size() && containsIgnoringCase(seen->program, exePath);
    return sameProgram && (seen->profiles & ~homeFirewallProfiles) == 0 &&
                   (seen->profiles & homeFirewallProfiles) != 0
               ? ShownRule::forThisProgram
               : ShownRule::forAnotherProgram;
}

std::string networkCategoryAdvice(const std::vector<SeenNetwork>& networks, bool playStationAnswered) {
    if (networks.empty())
        return "Windows would not say whether this PC's network is Private or Public. The firewall rule "
               "holds on\n"
               "Private (and work Domain) networks alone: if Windows calls your home network Public, make "
               "it\n"
               "Private.\n" +
               std::string(makePrivateAdvice);
    std::string text;
    bool anyPublic = false;
    for (const SeenNetwork& network : networks) {
        // Built by appending: GCC 12 warns falsely (-Wrestrict) about a literal + std::string.
        std::string name;
        name.append("\"").append(printable(network.name)).append("\"");
        if (network.category == NetworkCategory::isPublic) {
            text.append("Windows calls the network ")
                .append(name)
                .append(playStationAnswered ? ", where the PlayStation answered," : "")
                .append(" Public: the firewall keeps it closed to Ventora.\n");
            anyPublic = true;
        } else if (network.category == NetworkCategory::unknown) {
            text.append("Windows would not say whether the network ")
                .append(name)
                .append(" is Private or Public.\n");
            anyPublic = true;
        }
    }
    return anyPublic ? text + makePrivateAdvice : text;
}
