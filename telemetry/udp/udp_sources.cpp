// The UDP games' sockets: bound to 127.0.0.1 (a game on the same PC sends to loopback), or to every
// address while listening on the home network is on (a console sends to the PC's address, or
// broadcasts); non-blocking, drained a bounded amount each tick. Each follows one sender at a time,
// a game on this PC winning over one on the network.
#include "win32.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include "telemetry/consoles/home_network.h"
#include "telemetry/consoles/home_subnets.h"
#include "telemetry/udp/pmr_datagrams.h"
#include "telemetry/udp/udp_games.h"
#include "telemetry/udp/udp_sources.h"
#include "telemetry/udp/udp_tick_limits.h"

namespace {

// A port another telemetry tool holds may be freed at any moment; a bind every few seconds costs
// nothing.
constexpr auto bindRetryInterval = std::chrono::seconds(5);

// Longer than any datagram the games send (F1's, up to 1470 bytes in its 2026 format, are the
// longest); a longer one arrives cut and is dropped.
constexpr int receiveBufferSize = 2048;

enum class UdpFamily { f1, forza, outGauge, rbr, pmr, pmrMulticast };

// Who may send to a source: a game on this PC alone (its socket stays on the loopback address), or,
// while listening on the home network is on, a console or another PC on the PC's subnets too.
enum class UdpReach { thisPc, homeNetwork };

struct UdpSource {
    UdpFamily family;
    const char* game;   // as the log names it
    std::uint16_t port; // the game's default, or the one VENTORA_UDP_PORTS gives
    UdpReach reach = UdpReach::homeNetwork;
    SOCKET socket = INVALID_SOCKET;
    // The one sender whose datagrams are taken, until it falls silent: two senders (two rigs' F1 in
    // broadcast mode) would interleave into one state.
    bool following = false;
    std::uint32_t sender = 0; // host byte order
    bool senderOnThisPc = false;
    MonotonicTime senderHeard{};
    MonotonicTime nextTry{};
    bool failureLogged = false;
    bool joined = false; // Project Motor Racing's multicast group, where the socket takes it
    MonotonicTime nextJoin{};
};

// F1's own default (DiRT's and WRC's too, which send there); Forza's outside 5200 to 5300, which the Forza
// Horizon team asks users to avoid; the OutGauge port Live for Speed's and BeamNG's guides use; the
// port RallySimFans' Richard Burns Rally sends its NGP telemetry to by default (a PC game, so only
// ever on loopback); Project Motor Racing's, to 127.0.0.1 as the README advises, and to its default
// multicast group (a socket of its own, on the same port, while listening is off). Project Motor
// Racing is a PC game too: whichever address its datagrams reach, only this PC's own are read.
std::array<UdpSource, 6> udpSources = {
    {{UdpFamily::f1, "F1", 20777},
     {UdpFamily::forza, "Forza", 5607},
     {UdpFamily::outGauge, "OutGauge", 4444},
     {UdpFamily::rbr, "Richard Burns Rally", 6776, UdpReach::thisPc},
     {UdpFamily::pmr, "Project Motor Racing", pmrPort, UdpReach::thisPc},
     {UdpFamily::pmrMulticast, "Project Motor Racing's multicast", pmrPort, UdpReach::thisPc}}};
UdpSource& pmrSource = udpSources[4];
UdpSource& pmrMulticastSource = udpSources[5];

UdpGameStates udpGameStates;
PmrState pmrState; // Project Motor Racing's packets come from this PC alone
UdpLogLine logLine = nullptr;
bool winsockStarted = false;
bool onHomeNetwork = false;   // every address; loopback only otherwise
bool multicastAllowed = true; // Project Motor Racing's group may be joined
// The PC's addresses, asked of Windows once a minute (it can take milliseconds).
constexpr auto homeAddressesLifetime = std::chrono::seconds(60);
std::vector<HomeAddress> homes;
bool homesKnown = false;
MonotonicTime homesExpire{};
// A sender that should be this PC but is not among its addresses asks again, at most this often.
constexpr auto homesRetry = std::chrono::seconds(5);
MonotonicTime homesAsked{};

void log(const std::string& text) {
    if (logLine) logLine(text);
}

// Test runs start many Ventoras side by side on one machine, where UDP ports are shared by all:
// VENTORA_UDP_PORTS="F1,Forza,OutGauge,RBR[,PMR]" gives each its own. Anything else keeps the
// defaults.
void takePortsFromEnvironment() {
    char text[64];
    const DWORD length = GetEnvironmentVariableA("VENTORA_UDP_PORTS", text, sizeof text);
    if (length == 0 || length >= sizeof text) return;
    unsigned ports[5] = {0, 0, 0, 0, pmrPort};
    char extra;
    const int count =
        std::sscanf(text, "%u,%u,%u,%u,%u%c", &ports[0], &ports[1], &ports[2], &ports[3], &ports[4], &extra);
    if (count != 4 && count != 5) return;
    for (unsigned port : ports)
        if (port == 0 || port > 65535) return;
    for (std::size_t i = 0; i < std::size(ports); ++i)
        udpSources[i].port = static_cast<std::uint16_t>(ports[i]);
    pmrMulticastSource.port = pmrSource.port;
}

std::string portText(const UdpSource& source) {
    return "UDP port " + std::to_string(source.port) + " for " + source.game;
}

// Other telemetry tools listen for Project Motor Racing on its port too: it is shared.
bool shareProjectMotorRacingPort(SOCKET s, UdpFamily family) {
    if (family != UdpFamily::pmr && family != UdpFamily::pmrMulticast) return true;
    const BOOL reuse = TRUE;
    return setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse), sizeof reuse) == 0;
}

// The game's default multicast is taken by the socket bound to every address: its own while
// listening is off, the game's port's otherwise.
bool takesMulticast(const UdpSource& source) {
    return multicastAllowed &&
           (source.family == UdpFamily::pmrMulticast || (source.family == UdpFamily::pmr && onHomeNetwork));
}

// The group is joined on one interface only: the one Windows picks for it, which is the one the
// game's own datagrams leave by and are looped back from. With no network there is none; the join
// is tried again every few seconds, without a word, as the datagrams to 127.0.0.1 arrive anyway.
void joinProjectMotorRacingGroup(UdpSource& source, MonotonicTime now) {
    source.nextJoin = now + bindRetryInterval;
    ip_mreq membership{};
    membership.imr_multiaddr.s_addr = htonl(pmrMulticastGroup);
    membership.imr_interface.s_addr = htonl(INADDR_ANY);
    source.joined = setsockopt(source.socket, IPPROTO_IP, IP_ADD_MEMBERSHIP,
                               reinterpret_cast<const char*>(&membership), sizeof membership) == 0;
}

// A source for this PC alone stays on loopback, but for the socket that must take the multicast
// group: that needs every address, and its senders are checked instead.
bool bindsEveryAddress(const UdpSource& source) {
    return takesMulticast(source) || (onHomeNetwork && source.reach == UdpReach::homeNetwork);
}

// One attempt to open and bind the source's socket. The first failure of a run of failures is
// logged; the success that ends such a run is logged too.
void tryToBind(UdpSource& source, MonotonicTime now) {
    source.nextTry = now + bindRetryInterval;
    SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    int error = 0;
    if (s == INVALID_SOCKET) {
        error = WSAGetLastError();
    } else {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(source.port);
        address.sin_addr.s_addr = htonl(bindsEveryAddress(source) ? INADDR_ANY : INADDR_LOOPBACK);
        u_long nonBlocking = 1;
        if (ioctlsocket(s, FIONBIO, &nonBlocking) != 0 || !shareProjectMotorRacingPort(s, source.family) ||
            bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            error = WSAGetLastError();
            closesocket(s);
        }
    }
    if (error != 0) {
        if (!source.failureLogged) {
            log(error == WSAEADDRINUSE
                    ? portText(source) + " is in use by another program; trying again every 5 seconds"
                    : portText(source) + " could not be opened (error " + std::to_string(error) +
                          "); trying again every 5 seconds");
            source.failureLogged = true;
        }
        return;
    }
    source.socket = s;
    if (source.failureLogged)
        log("Listening for " + std::string(source.game) + " on UDP port " + std::to_string(source.port));
    source.failureLogged = false;
}

// True when the datagram is one the game sends.
bool takeDatagram(UdpFamily family, Datagram datagram, MonotonicTime now) {
    switch (family) {
    case UdpFamily::f1: return takeF1PortDatagram(udpGameStates, datagram, now);
    case UdpFamily::forza: return takeForzaDatagram(udpGameStates.forza, datagram, now);
    case UdpFamily::outGauge: return takeOutGaugeDatagram(udpGameStates.outGauge, datagram, now);
    case UdpFamily::rbr: return takeRbrDatagram(udpGameStates.rbr, datagram, now);
    case UdpFamily::pmr:
    case UdpFamily::pmrMulticast: {
        const bool taken = takePmrDatagram(pmrState, datagram, now);
        if (!pmrState.logLine.empty()) log(std::exchange(pmrState.logLine, {}));
        return taken;
    }
    }
    return false;
}

// What a source's game left in the states, forgotten when it must not show a moment longer.
void forgetStates(UdpFamily family) {
    switch (family) {
    case UdpFamily::f1:
        udpGameStates.f1 = {}, udpGameStates.dirt = {}, udpGameStates.wrc = {}, udpGameStates.tdu = {};
        break;
    case UdpFamily::forza: udpGameStates.forza = {}; break;
    case UdpFamily::outGauge: udpGameStates.outGauge = {}; break;
    case UdpFamily::rbr: udpGameStates.rbr = {}; break;
    case UdpFamily::pmr:
    case UdpFamily::pmrMulticast: pmrState = {}; break;
    }
}

// This PC's addresses, asked of Windows again once a minute, or sooner (every few seconds at most)
// when a sender that should be this PC is not among them, as after the PC was given a new address.
void refreshHomes(MonotonicTime now, bool senderUnknown) {
    const bool stale = !homesKnown || now >= homesExpire;
    const bool mayAskAgain = senderUnknown && now >= homesAsked + homesRetry;
    if (!stale && !mayAskAgain) return;
    homes = homeNetworkAddresses();
    homesKnown = true;
    homesAsked = now;
    homesExpire = now + homeAddressesLifetime;
}

bool fromThisPc(std::uint32_t sender, MonotonicTime now) {
    constexpr std::uint32_t loopbackNetwork = 0x7F000000, loopbackMask = 0xFF000000;
    if ((sender & loopbackMask) == loopbackNetwork) return true;
    refreshHomes(now, false);
    if (isThisPc(homes, sender)) return true;
    refreshHomes(now, true);
    return isThisPc(homes, sender);
}

enum class Received { nothing, gameDatagram, stranger, setAside };

// Whether a datagram from `address` may be read now. A game on this PC always may, and takes the
// source over from a sender on the network; while a game on this PC is driven through its pages or
// a plugin, nothing from the network may; nor may anything from beyond the PC's subnets, nor from
// the network at all where the source is for this PC alone; otherwise a device beside the PC may,
// when the source is not following another sender.
bool mayRead(const UdpSource& source, std::uint32_t address, bool onThisPc, bool pcGameDriven,
             MonotonicTime now) {
    if (!onThisPc && (source.reach == UdpReach::thisPc || pcGameDriven || !isOnHomeSubnet(homes, address)))
        return false;
    const bool followingAnother =
        source.following && source.sender != address && heardRecently(true, source.senderHeard, now);
    return !followingAnother || (onThisPc && !source.senderOnThisPc);
}

// Takes the next waiting datagram of the source, if any.
Received receiveOne(UdpSource& source, bool pcGameDriven, MonotonicTime now) {
    static std::array<std::uint8_t, receiveBufferSize> buffer;
    sockaddr_in from{};
    int fromLength = sizeof from;
    const int received = recvfrom(source.socket, reinterpret_cast<char*>(buffer.data()), buffer.size(), 0,
                                  reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (received >= 0) {
        const std::uint32_t address = ntohl(from.sin_addr.s_addr);
        // A socket on loopback alone hears only this PC: no need to ask Windows for its addresses.
        const bool onThisPc = !bindsEveryAddress(source) || fromThisPc(address, now);
        // Set aside, not counted as a stranger: another PC's multicast flood would otherwise cut the
        // drain short and crowd out this PC's game.
        if (!mayRead(source, address, onThisPc, pcGameDriven, now)) return Received::setAside;
        if (!takeDatagram(source.family, Datagram(buffer.data(), static_cast<std::size_t>(received)), now))
            return Received::stranger;
        source.following = true;
        source.sender = address;
        source.senderOnThisPc = onThisPc;
        source.senderHeard = now;
        return Received::gameDatagram;
    }
    // A datagram longer than the buffer is gone, cut; a reset is the system's note about an earlier
    // send somewhere. Either way the next datagram may be a good one. WSAEWOULDBLOCK: all read.
    const int error = WSAGetLastError();
    return error == WSAEMSGSIZE || error == WSAECONNRESET ? Received::stranger : Received::nothing;
}

// One select finds the sockets that hold anything: on a tick with nothing waiting, the usual case,
// that is the only system call (under Wine a recv that finds nothing costs as much as a select over
// all three). Then one datagram from each of those in turn, so that a flood on one port cannot crowd
// out the others, until all are empty, each has given its share (or its strangers' share), or the
// tick's time for it is up.
void drainUdpSources(bool pcGameDriven, MonotonicTime now) {
    fd_set readable;
    FD_ZERO(&readable);
    for (const UdpSource& source : udpSources)
        if (source.socket != INVALID_SOCKET) FD_SET(source.socket, &readable);
    if (readable.fd_count == 0) return;
    timeval noWait{0, 0};
    if (select(0, &readable, nullptr, nullptr, &noWait) <= 0) return;

    std::array<bool, udpSources.size()> mayHoldMore;
    for (std::size_t i = 0; i < udpSources.size(); ++i)
        mayHoldMore[i] = udpSources[i].socket != INVALID_SOCKET && FD_ISSET(udpSources[i].socket, &readable);
    std::array<int, udpSources.size()> strangers{};
    const MonotonicTime deadline = now + drainTimePerTick;
    for (int round = 0; round < datagramsPerTick; ++round) {
        bool any = false;
        for (std::size_t i = 0; i < udpSources.size(); ++i) {
            if (!mayHoldMore[i]) continue;
            const Received received = receiveOne(udpSources[i], pcGameDriven, now);
            mayHoldMore[i] = received == Received::gameDatagram || received == Received::setAside ||
                             (received == Received::stranger && ++strangers[i] < strangersPerTick);
            any |= mayHoldMore[i];
        }
        if (!any || std::chrono::steady_clock::now() >= deadline) return;
    }
}

// While listening, Project Motor Racing's socket is bound to every address and takes the multicast
// itself.
bool opensSocket(const UdpSource& source) {
    return source.family != UdpFamily::pmrMulticast || (!onHomeNetwork && multicastAllowed);
}

// Joining the group tells the network (an IGMP report): test runs outside a network of their own
// must send nothing beyond the machine, and set VENTORA_MULTICAST=off.
void takeMulticastFromEnvironment() {
    char text[8];
    const DWORD length = GetEnvironmentVariableA("VENTORA_MULTICAST", text, sizeof text);
    multicastAllowed = !(length == 3 && std::string_view(text, 3) == "off");
}

} // namespace

void openUdpSources(UdpLogLine logTo, bool homeNetwork) {
    logLine = logTo;
    onHomeNetwork = homeNetwork;
    WSADATA data;
    const int error = WSAStartup(MAKEWORD(2, 2), &data);
    if (error != 0) {
        log("Winsock could not start (error " + std::to_string(error) + "); UDP games cannot be received");
        return;
    }
    winsockStarted = true;
    takePortsFromEnvironment();
    takeMulticastFromEnvironment();
    const MonotonicTime now = std::chrono::steady_clock::now();
    for (UdpSource& source : udpSources)
        if (opensSocket(source)) tryToBind(source, now);
}

void readUdpGames(TelemetrySample& sample) {
    if (!winsockStarted) return;
    const MonotonicTime now = std::chrono::steady_clock::now();
    // The sample holds the shared-memory and plugin games so far: one of them is driven on this PC.
    // A UDP game on this PC that is still sending wins over the network's just as well.
    const bool pcUdpGameHeard =
        std::any_of(udpSources.begin(), udpSources.end(), [&](const UdpSource& source) {
            return source.following && source.senderOnThisPc && heardRecently(true, source.senderHeard, now);
        });
    const bool pcGameDriven = !sample.combo.empty() || pcUdpGameHeard;
    for (UdpSource& source : udpSources) {
        if (opensSocket(source) && source.socket == INVALID_SOCKET && now >= source.nextTry)
            tryToBind(source, now);
        if (takesMulticast(source) && source.socket != INVALID_SOCKET && !source.joined &&
            now >= source.nextJoin)
            joinProjectMotorRacingGroup(source, now);
        // What a sender on the network left must not take the fan from the game on this PC even for
        // the second it would take to fall silent.
        if (pcGameDriven && source.following && !source.senderOnThisPc) {
            source.following = false;
            forgetStates(source.family);
        }
    }
    drainUdpSources(pcGameDriven, now);
    overlayUdpGames(udpGameStates, now, sample);
    overlayPmr(pmrState, now, sample);
}
