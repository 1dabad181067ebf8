// Two sockets: one for the discovery probes and their answers (a port of the system's choosing),
// one on 33740, where Gran Turismo 7's packets come and from which its heartbeat goes. The console
// table holds what the probes found, by address; only its addresses' packets are read, and only
// devices beside the PC on its own subnets get into it or get a heartbeat.
#include "telemetry/consoles/console_sources.h"

#include "win32.h"

#include <winsock2.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "telemetry/consoles/console_table.h"
#include "telemetry/consoles/gran_turismo.h"
#include "telemetry/consoles/home_network.h"
#include "telemetry/consoles/playstation_discovery.h"
#include "telemetry/udp/udp_tick_limits.h"

namespace {

using namespace std::chrono_literals;

// Consoles are looked for while no PC game is live, never more often than this: a probe is a
// broadcast to every device on the network.
constexpr auto discoveryInterval = 10s;
// Known clients resend every 10 s, and how long a console streams without a heartbeat is not
// known: every 3 s keeps well inside any likely limit, and costs one byte.
constexpr auto heartbeatInterval = 3s;
// A stream that stops for this long gets a heartbeat at once, as the console may have dropped it.
constexpr auto streamSilence = 1s;
// Consoles answer within milliseconds; after this, a probe nobody answered is taken as no answer,
// and an answer that comes is a stranger's.
constexpr auto answerWait = 2s;
// A console that answers no probe in this many rounds is off or gone: forgotten, so a new one at
// its address is found (and logged) afresh.
constexpr int unansweredRoundsLimit = 3;
constexpr auto bindRetryInterval = 5s;
// The PC's addresses (where the probes and the broadcast heartbeat go, who is beside the PC) are
// asked of Windows at most this often: the question can take milliseconds of a tick, and a PC
// joins another network rarely.
constexpr auto homeAddressesLifetime = 60s;
constexpr int receiveBufferSize = 2048;

UdpLogLine logLine = nullptr;
bool active = false;
SOCKET discoverySocket = INVALID_SOCKET;
SOCKET packetSocket = INVALID_SOCKET;
MonotonicTime nextBindTry{};
bool bindFailureLogged = false;

ConsoleTable table;
bool probed = false;
MonotonicTime nextDiscovery{}, lastProbe{};
MonotonicTime lastBroadcastHeartbeat{};
bool broadcastHeartbeatSent = false;
std::vector<HomeAddress> knownHomes;
std::vector<std::uint32_t> knownBroadcastTargets;
MonotonicTime homesExpire{};
bool homesKnown = false;

void log(const std::string& text) {
    if (logLine) logLine(text);
}

std::string addressText(std::uint32_t address) {
    return std::to_string(address >> 24) + "." + std::to_string(address >> 16 & 0xFF) + "." +
           std::to_string(address >> 8 & 0xFF) + "." + std::to_string(address & 0xFF);
}

// A non-blocking UDP socket bound to every address and `port` (0: the system's choice).
SOCKET openSocket(std::uint16_t port, int& error) {
    SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET) {
        error = WSAGetLastError();
        return s;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    u_long nonBlocking = 1;
    if (ioctlsocket(s, FIONBIO, &nonBlocking) != 0 ||
        bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        error = WSAGetLastError();
        closesocket(s);
        return INVALID_SOCKET;
    }
    return s;
}

// One attempt at each socket still missing; the first failure of a run is logged, and the
// success that ends it.
void tryToOpen(MonotonicTime now) {
    nextBindTry = now + bindRetryInterval;
    // The discovery socket takes any free port, so only the packet socket's port can be taken by
    // another program; its failure is the one the log names.
    int discoveryError = 0, error = 0;
    if (discoverySocket == INVALID_SOCKET) discoverySocket = openSocket(0, discoveryError);
    if (packetSocket == INVALID_SOCKET) packetSocket = openSocket(granTurismoPacketPort, error);
    const std::string port = error != 0 || discoveryError == 0
                                 ? "UDP port " + std::to_string(granTurismoPacketPort) + " for Gran Turismo 7"
                                 : "The consoles' discovery socket";
    if (error == 0) error = discoveryError;
    if (error != 0 && !bindFailureLogged) {
        log(error == WSAEADDRINUSE ? port + " is in use by another program; trying again every 5 seconds"
                                   : port + " could not be opened (error " + std::to_string(error) +
                                         "); trying again every 5 seconds");
        bindFailureLogged = true;
    } else if (error == 0 && bindFailureLogged) {
        log("Listening for Gran Turismo 7 on UDP port " + std::to_string(granTurismoPacketPort));
        bindFailureLogged = false;
    }
}

void sendHeartbeat(std::uint32_t address) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(granTurismoHeartbeatPort);
    to.sin_addr.s_addr = htonl(address);
    sendto(packetSocket, &granTurismoHeartbeat, 1, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

// The PC's addresses and their subnets' broadcast addresses, asked of Windows once a minute.
void refreshHomes(MonotonicTime now) {
    if (homesKnown && now < homesExpire) return;
    knownHomes = homeNetworkAddresses();
    knownBroadcastTargets = broadcastTargets(knownHomes);
    homesKnown = true;
    homesExpire = now + homeAddressesLifetime;
}

// A console's answer: a new one is logged as found (asleep or awake), a known one only when it
// wakes or goes to rest. Only an answer to our own probe, from a device beside the PC, counts.
bool takeAnswer(std::uint32_t address, const PlayStationAnswer& answer, MonotonicTime now) {
    if (!probed || now - lastProbe > answerWait) return false;
    refreshHomes(now);
    if (!isOnHomeSubnet(knownHomes, address)) return false;
    Console* console = consoleAt(table, address);
    if (!console) {
        console = admitConsole(table, address,
                               answer.hostType + (answer.hostName.empty() ? "" : " " + answer.hostName) +
                                   " at " + addressText(address),
                               answer.awake, now);
        if (!console) return false;
        log(answer.awake ? "Found " + console->description
                         : "Found " + console->description + " asleep: no Gran Turismo 7 until it wakes");
    } else if (console->awake != answer.awake) {
        console->awake = answer.awake;
        console->heartbeatSent = false;
        log(console->description + (answer.awake ? " woke up" : " went to rest"));
    }
    console->unansweredRounds = 0;
    console->lastHeard = now;
    return true;
}

enum class Received { nothing, answer, stranger };

Received receiveAnswer(MonotonicTime now) {
    std::array<std::uint8_t, receiveBufferSize> buffer;
    sockaddr_in from{};
    int fromLength = sizeof from;
    const int received = recvfrom(discoverySocket, reinterpret_cast<char*>(buffer.data()), buffer.size(), 0,
                                  reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (received < 0) {
        const int error = WSAGetLastError();
        return error == WSAEMSGSIZE || error == WSAECONNRESET ? Received::stranger : Received::nothing;
    }
    // Consoles answer from the port they were asked on, but nothing is known to depend on it: the
    // answer's own shape is what tells a console.
    const auto answer = parseDiscoveryAnswer({buffer.data(), static_cast<std::size_t>(received)});
    if (!answer || !takeAnswer(ntohl(from.sin_addr.s_addr), *answer, now)) return Received::stranger;
    return Received::answer;
}

// While no console answered, the broadcast heartbeat may start a stream from a console that
// ignores probes: its first good packet from beside the PC makes it the console.
bool fallingBack() {
    return table.consoles.empty() && broadcastHeartbeatSent;
}

Received receivePacket(MonotonicTime now) {
    std::array<std::uint8_t, receiveBufferSize> buffer;
    sockaddr_in from{};
    int fromLength = sizeof from;
    const int received = recvfrom(packetSocket, reinterpret_cast<char*>(buffer.data()), buffer.size(), 0,
                                  reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (received < 0) {
        const int error = WSAGetLastError();
        return error == WSAEMSGSIZE || error == WSAECONNRESET ? Received::stranger : Received::nothing;
    }
    const std::uint32_t address = ntohl(from.sin_addr.s_addr);
    const Datagram datagram(buffer.data(), static_cast<std::size_t>(received));
    Console* console = consoleAt(table, address);
    // Only a console that was found (and is awake) is read: anything else is not decrypted at all.
    if (console && console->awake) {
        if (!takeGranTurismoDatagram(console->granTurismo, datagram, now)) return Received::stranger;
    } else {
        if (console || !fallingBack()) return Received::stranger;
        refreshHomes(now);
        GranTurismoState state;
        if (!isOnHomeSubnet(knownHomes, address) || !takeGranTurismoDatagram(state, datagram, now))
            return Received::stranger;
        console = admitConsole(table, address, "PlayStation at " + addressText(address), true, now);
        console->granTurismo = state;
        console->heartbeatSent = true;
        console->lastHeartbeat = lastBroadcastHeartbeat;
        log("Found " + console->description + " by its Gran Turismo 7 stream");
    }
    console->streamed = true;
    console->lastPacket = now;
    console->lastHeard = now;
    console->unansweredRounds = 0;
    return Received::answer;
}

// As the UDP games' drain: one datagram from each socket in turn, a bounded number a tick, a flood
// of strangers cut short, never past the tick's time for it.
void drainConsoleSockets(MonotonicTime now) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(discoverySocket, &readable);
    FD_SET(packetSocket, &readable);
    timeval noWait{0, 0};
    if (select(0, &readable, nullptr, nullptr, &noWait) <= 0) return;
    bool answersMayWait = FD_ISSET(discoverySocket, &readable),
         packetsMayWait = FD_ISSET(packetSocket, &readable);
    int answerStrangers = 0, packetStrangers = 0;
    const MonotonicTime deadline = now + drainTimePerTick;
    for (int round = 0; round < datagramsPerTick && (answersMayWait || packetsMayWait); ++round) {
        if (answersMayWait) {
            const Received received = receiveAnswer(now);
            answersMayWait = received == Received::answer ||
                             (received == Received::stranger && ++answerStrangers < strangersPerTick);
        }
        if (packetsMayWait) {
            const Received received = receivePacket(now);
            packetsMayWait = received == Received::answer ||
                             (received == Received::stranger && ++packetStrangers < strangersPerTick);
        }
        if (std::chrono::steady_clock::now() >= deadline) return;
    }
}

void probeForConsoles(MonotonicTime now) {
    if (now < nextDiscovery) return;
    if (probed)
        for (Console& console : table.consoles)
            ++console.unansweredRounds;
    forgetConsoles(table, [](const Console& c) { return c.unansweredRounds >= unansweredRoundsLimit; });
    refreshHomes(now);
    sendDiscoveryProbes(discoverySocket, knownBroadcastTargets);
    probed = true;
    lastProbe = now;
    nextDiscovery = now + discoveryInterval;
}

bool heartbeatDue(const Console& console, MonotonicTime now) {
    if (!console.heartbeatSent || now - console.lastHeartbeat >= heartbeatInterval) return true;
    // The stream stopped: ask again at once, but once, not every tick of the silence.
    return console.streamed && now - console.lastPacket >= streamSilence &&
           console.lastHeartbeat <= console.lastPacket;
}

void keepStreamsGoing(MonotonicTime now) {
    refreshHomes(now);
    for (Console& console : table.consoles) {
        // A console in rest mode gets nothing: it would ignore it, and it is not ours to wake. Nor
        // does an address that is no longer beside the PC (it joined another network).
        if (!console.awake || !heartbeatDue(console, now) || !isOnHomeSubnet(knownHomes, console.address))
            continue;
        sendHeartbeat(console.address);
        console.heartbeatSent = true;
        console.lastHeartbeat = now;
    }
    // Nobody answered the probe: some networks pass the heartbeat's broadcast where they drop the
    // probe's.
    if (table.consoles.empty() && probed && now - lastProbe >= answerWait &&
        (!broadcastHeartbeatSent || now - lastBroadcastHeartbeat >= heartbeatInterval)) {
        BOOL on = TRUE;
        setsockopt(packetSocket, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on), sizeof on);
        for (std::uint32_t target : knownBroadcastTargets)
            sendHeartbeat(target);
        broadcastHeartbeatSent = true;
        lastBroadcastHeartbeat = now;
    }
}

} // namespace

void openConsoleSources(UdpLogLine logTo, bool homeNetwork) {
    if (!homeNetwork) return;
    logLine = logTo;
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return; // logged already by the UDP games' start
    active = true;
    log("Listening on the home network for consoles");
    tryToOpen(std::chrono::steady_clock::now());
}

void readConsoleGames(TelemetrySample& sample) {
    if (!active) return;
    const MonotonicTime now = std::chrono::steady_clock::now();
    if ((discoverySocket == INVALID_SOCKET || packetSocket == INVALID_SOCKET) && now >= nextBindTry)
        tryToOpen(now);
    if (discoverySocket == INVALID_SOCKET || packetSocket == INVALID_SOCKET) return;
    drainConsoleSockets(now);
    // A game on the PC is live: it has the fan, and the network is left alone.
    if (!sample.combo.empty()) return;
    probeForConsoles(now);
    keepStreamsGoing(now);
    overlayFollowedConsole(table, now, sample);
}
