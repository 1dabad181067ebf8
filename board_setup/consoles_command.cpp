// Turning Ventora's listening on the home network on and off: the PlayStations that answer, what
// to set in the games, the firewall rule (with the administrator's consent), the setting, and a
// running Ventora restarted so it takes effect at once.
#include "win32.h"

#include <winsock2.h>

#include <netfw.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "board_setup/com_holder.h"
#include "board_setup/console.h"
#include "board_setup/consoles_advice.h"
#include "board_setup/consoles_command.h"
#include "board_setup/network_category.h"
#include "board_setup/running_ventora.h"
#include "board_setup/ventora_aside.h"
#include "board_setup/wide_text.h"
#include "settings/network_listening_file.h"
#include "telemetry/consoles/home_network.h"
#include "telemetry/consoles/home_subnets.h"
#include "telemetry/consoles/playstation_discovery.h"

namespace {

// About 3 s of looking, the probes sent again each second: a datagram lost on Wi-Fi, or a console
// slow to answer, still gets counted.
constexpr int probeRounds = 3;
constexpr DWORD probeRoundMs = 1000;
// More than anyone has on one network; a flood of answers cannot grow the listing past it.
constexpr std::size_t mostPlayStations = 16;
// A discovery answer is a few hundred bytes; anything longer is not one.
constexpr int answerBufferSize = 2048;
// netsh ends within a second or two; an administrator deciding on the consent may take longer.
constexpr DWORD netshWaitMs = 60000;
constexpr DWORD consentWaitMs = 300000;
// The firewall's own interface, which reads the rule without a word of text between code pages.
constexpr CLSID netFwPolicy2Class = {
    0xe2b3c97f, 0x6ae1, 0x41ac, {0x81, 0x7a, 0xf6, 0xf9, 0x21, 0x66, 0xd7, 0xdd}};

bool isYes(const std::optional<std::string>& answer) {
    return answer && (*answer == "y" || *answer == "Y" || *answer == "yes" || *answer == "Yes");
}

struct FoundPlayStation {
    std::uint32_t address = 0; // host byte order
    PlayStationAnswer answer;
};

// Winsock for the tool's one socket; the tool ends soon after, so it is left started.
bool startWinsock() {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

struct SocketHolder {
    SOCKET socket = INVALID_SOCKET;
    SocketHolder() = default;
    SocketHolder(const SocketHolder&) = delete;
    SocketHolder& operator=(const SocketHolder&) = delete;
    ~SocketHolder() {
        if (socket != INVALID_SOCKET) closesocket(socket);
    }
};

// The PlayStations that answer the discovery probes within about 3 s, in address order; nothing
// when the socket could not be made.
std::optional<std::vector<FoundPlayStation>> lookForPlayStations() {
    if (!startWinsock()) return std::nullopt;
    SocketHolder probe;
    probe.socket = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (probe.socket == INVALID_SOCKET) return std::nullopt;
    const BOOL on = TRUE;
    setsockopt(probe.socket, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on), sizeof on);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    if (bind(probe.socket, reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0) return std::nullopt;

    std::vector<FoundPlayStation> found;
    char buffer[answerBufferSize];
    const std::vector<HomeAddress> homes = homeNetworkAddresses();
    const std::vector<std::uint32_t> targets = broadcastTargets(homes);
    for (int round = 0; round < probeRounds; ++round) {
        sendDiscoveryProbes(probe.socket, targets);
        const ULONGLONG roundEnd = GetTickCount64() + probeRoundMs;
        for (ULONGLONG now = GetTickCount64(); now < roundEnd; now = GetTickCount64()) {
            fd_set readable;
            FD_ZERO(&readable);
            FD_SET(probe.socket, &readable);
            const ULONGLONG left = roundEnd - now;
            timeval wait{static_cast<long>(left / 1000), static_cast<long>(left % 1000 * 1000)};
            if (select(0, &readable, nullptr, nullptr, &wait) <= 0) continue;
            sockaddr_in sender{};
            int senderSize = sizeof sender;
            const int size = recvfrom(probe.socket, buffer, sizeof buffer, 0,
                                      reinterpret_cast<sockaddr*>(&sender), &senderSize);
            if (size <= 0 || size >= answerBufferSize) continue; // an error, or one far too long
            const auto answer = parseDiscoveryAnswer(
                std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(buffer), size));
            if (!answer) continue;
            const std::uint32_t address = ntohl(sender.sin_addr.s_addr);
            // Only a device on one of this PC's own subnets, as for Ventora: a stranger's answer
            // from beyond them must not be listed, nor decide which network's category is told.
            if (!isOnHomeSubnet(homes, address)) continue;
            // A console answers each round, and a PS5 may answer both probes: the first counts,
            // except that a later answer may tell what an earlier one did not (awake now).
            const auto same = std::find_if(found.begin(), found.end(),
                                           [&](const FoundPlayStation& f) { return f.address == address; });
            if (same != found.end())
                same->answer = *answer;
            else if (found.size() < mostPlayStations)
                found.push_back({address, *answer});
        }
    }
    std::sort(found.begin(), found.end(),
              [](const FoundPlayStation& a, const FoundPlayStation& b) { return a.address < b.address; });
    return found;
}

// The addresses of the PlayStations that answered.
std::vector<std::uint32_t> listPlayStations() {
    say("Looking for PlayStations on the home network for %u s...\n", probeRounds * probeRoundMs / 1000);
    const auto found = lookForPlayStations();
    if (!found) {
        complain("could not look for PlayStations: Windows gave this tool no network socket (error %d).",
                 WSAGetLastError());
        return {};
    }
    for (const FoundPlayStation& playStation : *found)
        say("  Found %s.\n", describePlayStation(playStation.answer, playStation.address).c_str());
    if (found->empty())
        say("Found nothing: no PlayStation answered. The likely causes:\n"
            "  - it is off, or in rest mode without its network options: on a PS5, Settings, System, Power\n"
            "    Saving, Features Available in Rest Mode; on a PS4, Settings, Power Saving Settings, Set\n"
            "    Features Available in Rest Mode: turn on Stay Connected to the Internet and Enable Turning\n"
            "    On from Network;\n"
            "  - it went to rest less than a minute ago, when it does not answer yet;\n"
            "  - it is on another network than this PC (a guest Wi-Fi, or another router);\n"
            "  - this PC's firewall held its answer back.\n"
            "  Gran Turismo 7 still works once the console is on and on this network: Ventora keeps "
            "looking.\n");
    else if (std::any_of(found->begin(), found->end(),
                         [](const FoundPlayStation& f) { return !f.answer.awake; }))
        say("A PlayStation in rest mode gets no request until it is on: start Gran Turismo 7 on it.\n");
    std::vector<std::uint32_t> addresses;
    for (const FoundPlayStation& playStation : *found)
        addresses.push_back(playStation.address);
    return addresses;
}

std::string systemProgram(const char* name) {
    char folder[MAX_PATH];
    const UINT length = GetSystemDirectoryA(folder, sizeof folder);
    if (length == 0 || length >= sizeof folder) return name;
    return std::string(folder, length) + "\\" + name;
}

struct HandleHolder {
    HANDLE handle = nullptr;
    HandleHolder() = default;
    explicit HandleHolder(HANDLE h) : handle(h) {}
    HandleHolder(const HandleHolder&) = delete;
    HandleHolder& operator=(const HandleHolder&) = delete;
    ~HandleHolder() {
        if (handle && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    }
};

struct BstrHolder {
    BSTR text = nullptr;
    BstrHolder() = default;
    BstrHolder(const BstrHolder&) = delete;
    BstrHolder& operator=(const BstrHolder&) = delete;
    explicit BstrHolder(const wchar_t* from) : text(SysAllocString(from)) {}
    ~BstrHolder() { SysFreeString(text); }
};

// The rule as the firewall holds it; nothing when the firewall will not say.
std::optional<SeenFirewallRule> seenFirewallRule() {
    // The tool ends soon after: COM is left initialised, as Winsock is.
    const HRESULT initialised = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(initialised) && initialised != RPC_E_CHANGED_MODE) return std::nullopt;
    ComHolder<INetFwPolicy2> policy;
    ComHolder<INetFwRules> rules;
    if (FAILED(CoCreateInstance(netFwPolicy2Class, nullptr, CLSCTX_INPROC_SERVER, __uuidof(INetFwPolicy2),
                                reinterpret_cast<void**>(&policy.pointer))) ||
        FAILED(policy.pointer->get_Rules(&rules.pointer)))
        return std::nullopt;
    const std::wstring name = wideFromUtf8(firewallRuleName);
    const BstrHolder wanted(name.c_str());
    ComHolder<INetFwRule> rule;
    const HRESULT found = rules.pointer->Item(wanted.text, &rule.pointer);
    if (found == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) return SeenFirewallRule{};
    BstrHolder program;
    SeenFirewallRule seen;
    seen.found = true;
    if (FAILED(found) || FAILED(rule.pointer->get_ApplicationName(&program.text)) ||
        FAILED(rule.pointer->get_Profiles(&seen.profiles)))
        return std::nullopt;
    // The firewall may keep a path with %ProgramFiles% or the like in it.
    wchar_t expanded[32768];
    const DWORD length = program.text ? ExpandEnvironmentStringsW(program.text, expanded, 32768) : 0;
    seen.program = utf8FromWide(length > 0 && length <= 32768 ? expanded : program.text ? program.text : L"");
    return seen;
}

ShownRule shownRule(const std::wstring& exePath) {
    return judgeFirewallRule(seenFirewallRule(), utf8FromWide(exePath.c_str()));
}

// A program run with an administrator's rights, Windows asking for the consent first.
struct Elevated {
    enum What { ended, refused, notRun } what = notRun;
    DWORD exitCode = 0; // ended
    DWORD error = 0;    // notRun
};
Elevated runElevated(const std::string& program, const std::string& parametersUtf8) {
    // Wide, so that a path beyond the ANSI code page reaches netsh as it is.
    const std::wstring file = wideFromUtf8(program), parameters = wideFromUtf8(parametersUtf8);
    SHELLEXECUTEINFOW run{};
    run.cbSize = sizeof run;
    run.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    run.hwnd = GetConsoleWindow();
    run.lpVerb = L"runas";
    run.lpFile = file.c_str();
    run.lpParameters = parameters.c_str();
    run.nShow = SW_HIDE;
    if (!ShellExecuteExW(&run)) {
        const DWORD error = GetLastError();
        return {error == ERROR_CANCELLED ? Elevated::refused : Elevated::notRun, 0, error};
    }
    if (!run.hProcess) return {Elevated::notRun, 0, ERROR_INVALID_HANDLE};
    HandleHolder process(run.hProcess);
    Elevated result{Elevated::ended};
    if (WaitForSingleObject(process.handle, consentWaitMs) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(process.handle, &result.exitCode))
        return {Elevated::notRun, 0, GetLastError()};
    return result;
}

void sayWhyNotElevated(const Elevated& run) {
    if (run.what == Elevated::refused)
        say("The administrator's consent was not given.\n");
    else if (run.what == Elevated::ended)
        say("netsh ended with %lu.\n", run.exitCode);
    else
        say("Windows did not run netsh (error %lu).\n", run.error);
}

// The rule that lets ventora.exe hear the home network: added, or pointed at this ventora.exe,
// under one consent, and left alone when it is in place already. Whatever happens, listening
// still turns on; where the rule is not there, the user hears what to do instead.
void addFirewallRule(const std::wstring& exePath) {
    say("\nThe firewall: a rule that lets Ventora receive UDP from this PC's own home network (nothing\n"
        "from beyond it, and only while Windows calls the network Private), for\n  %ls\n",
        exePath.c_str());
    const ShownRule before = shownRule(exePath);
    if (before == ShownRule::forThisProgram) {
        say("It is in place already.\n");
        return;
    }
    const std::string exePathUtf8 = utf8FromWide(exePath.c_str());
    const auto parameters = before == ShownRule::forAnotherProgram ? moveFirewallRuleParameters(exePathUtf8)
                                                                   : addFirewallRuleParameters(exePathUtf8);
    if (parameters) {
        say("Windows asks for an administrator's consent once.\n");
        const Elevated run = runElevated(systemProgram("netsh.exe"), *parameters);
        if (run.what == Elevated::ended && run.exitCode == 0 &&
            shownRule(exePath) == ShownRule::forThisProgram) {
            say("The firewall lets Ventora hear the consoles on the home network.\n");
            return;
        }
        say("The firewall rule could not be added: ");
        if (run.what == Elevated::ended && run.exitCode == 0)
            say("netsh said it was done, but the firewall does not show the rule (or will not say).\n");
        else
            sayWhyNotElevated(run);
    } else {
        say("The firewall rule could not be added: the path of ventora.exe holds a quote.\n");
    }
    const auto add = addFirewallRuleParameters(exePathUtf8);
    say("Listening turns on all the same. Instead, either:\n"
        "  - when Windows' firewall asks about ventora.exe at its next start, allow it (as an "
        "administrator);\n"
        "  - or, in a command prompt run as administrator:\n"
        "      netsh %s\n"
        "  - or, in Windows Security, Firewall & network protection, Allow an app through firewall:\n"
        "    add ventora.exe and tick Private.\n"
        "If you ever answered No to (or cancelled) the firewall's question about ventora.exe, it left rules\n"
        "that block it, and they win over any rule that allows it: delete them in Windows Defender\n"
        "Firewall, Advanced settings, Inbound Rules (the ones named ventora.exe).\n",
        add ? add->c_str() : "advfirewall firewall add rule ... (with the path of ventora.exe)");
}

void removeFirewallRule() {
    say("\nThe firewall: ");
    // The program does not matter here: any rule of this name is Ventora's.
    if (shownRule(L"") == ShownRule::none) {
        say("there is no rule \"%s\" to remove.\n", firewallRuleName);
        return;
    }
    say("removing the rule \"%s\".\nWindows asks for an administrator's consent once.\n", firewallRuleName);
    const Elevated run = runElevated(systemProgram("netsh.exe"), deleteFirewallRuleParameters());
    if (run.what == Elevated::ended && run.exitCode == 0 && shownRule(L"") == ShownRule::none) {
        say("The rule is removed.\n");
        return;
    }
    say("The rule could not be removed: ");
    if (run.what == Elevated::ended && run.exitCode == 0)
        say("netsh said it was done, but the firewall does not show the rule gone.\n");
    else
        sayWhyNotElevated(run);
    say("Ventora listens on this PC alone all the same. To remove the rule, in a command prompt run as\n"
        "administrator:\n"
        "    netsh %s\n",
        deleteFirewallRuleParameters().c_str());
}

std::vector<std::uint32_t> ownAddresses() {
    std::vector<std::uint32_t> addresses;
    for (const HomeAddress& home : homeNetworkAddresses())
        addresses.push_back(home.address);
    return addresses;
}

// Listening on, the firewall rule, and the setting written; false when the setting could not be.
bool turnListeningOn() {
    bool again = true;
    std::vector<std::uint32_t> playStations;
    while (again) {
        playStations = listPlayStations();
        again = false;
        DWORD mode = 0;
        // On a console the user may wake the PlayStation or change its settings and look again; a
        // script gets no question.
        if (GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode)) {
            again = isYes(ask("Look for PlayStations again? [y/N] "));
        }
    }
    say("\n%s", gameSettingsAdvice(ownAddresses()).c_str());

    const std::optional<RunningVentora> running = findRunningVentora();
    addFirewallRule(running && !running->exePathWide.empty() ? running->exePathWide
                                                             : ventoraBesideThisToolWide());
    // The rule holds on Private and Domain networks alone: a home network Windows calls Public
    // stays closed, and only the user can change that.
    const std::string category = networkCategoryAdvice(seenNetworks(playStations), !playStations.empty());
    if (!category.empty()) say("\n%s", category.c_str());

    say("\n");
    // Ventora reads the setting as it starts: a running one is started again to take it.
    if (!makeWayFromVentora(std::nullopt)) return false;
    if (!saveNetworkListening(true)) {
        complain("could not write the listening setting beside Ventora's settings: listening stays off.");
        return false;
    }
    say("Listening on the home network is on: Ventora hears the consoles' games, and asks a PlayStation for\n"
        "Gran Turismo 7's telemetry while no game on this PC is driven.\n");
    return true;
}

int turnListeningOff() {
    const VentoraRestorer restorer;
    if (!makeWayFromVentora(std::nullopt)) return exitFailed;
    if (!saveNetworkListening(false)) {
        complain("could not write the listening setting beside Ventora's settings.");
        return exitFailed;
    }
    say("Listening on the home network is off: Ventora listens on this PC alone (127.0.0.1) again,\n"
        "and sends nothing onto the network.\n");
    // Started again before the firewall step, which may wait on the administrator's consent: the
    // fans need not wait with it.
    restoreVentora();
    removeFirewallRule();
    return exitDone;
}

int turnListeningOnAndRestart() {
    const VentoraRestorer restorer;
    if (!turnListeningOn()) return exitFailed;
    const std::optional<bool> restarted = startAsideVentora(false);
    if (!restarted)
        say("Ventora listens from its next start.\n");
    else if (*restarted)
        say("Ventora is running again, listening.\n");
    else
        complain("Ventora could not be started again: start it yourself.");
    return !restarted || *restarted ? exitDone : exitFailed;
}

} // namespace

int runConsolesCommand(bool on) {
    return on ? turnListeningOnAndRestart() : turnListeningOff();
}

void offerConsoles() {
    say("\n");
    if (!isYes(ask("Do you race on a PlayStation or an Xbox? [y/N] "))) return;
    say("\n");
    turnListeningOn();
}
