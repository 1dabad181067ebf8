// The UDP games' sockets: bound to 127.0.0.1 (a game on the same PC sends to loopback), or to every
// address while listening on the home network is on (a console sends to the PC's address, or
// broadcasts); non-blocking, drained a bounded amount each tick.
#include "win32.h"

#include <winsock2.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstdint>

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

enum class UdpFamily { f1, forza, outGauge };

struct UdpSource {
    UdpFamily family;
    const char* game;   // as the log names it
    std::uint16_t port; // the game's default, or the one VENTORA_UDP_PORTS gives
    SOCKET socket = INVALID_SOCKET;
    MonotonicTime nextTry{};
    bool failureLogged = false;
};

// F1's own default (DiRT's and WRC's too, which send there); Forza's outside 5200 to 5300, which the Forza
// Horizon team asks users to avoid; the OutGauge port Live for Speed's and BeamNG's guides use.
std::array<UdpSource, 3> udpSources = {{{UdpFamily::f1, "F1", 20777},
                                        {UdpFamily::forza, "Forza", 5607},
                                        {UdpFamily::outGauge, "OutGauge", 4444}}};

UdpGameStates udpGameStates;
UdpLogLine logLine = nullptr;
bool winsockStarted = false;
bool onHomeNetwork = false; // every address; loopback only otherwise

void log(const std::string& text) {
    if (logLine) logLine(text);
}

// Test runs start many Ventoras side by side on one machine, where UDP ports are shared by all:
// VENTORA_UDP_PORTS="F1,Forza,OutGauge" gives each its own. Anything else keeps the defaults.
void takePortsFromEnvironment() {
    char text[64];
    const DWORD length = GetEnvironmentVariableA("VENTORA_UDP_PORTS", text, sizeof text);
    if (length == 0 || length >= sizeof text) return;
    unsigned ports[3];
    char extra;
    if (std::sscanf(text, "%u,%u,%u%c", &ports[0], &ports[1], &ports[2], &extra) != 3) return;
    for (unsigned port : ports)
        if (port == 0 || port > 65535) return;
    for (std::size_t i = 0; i < udpSources.size(); ++i)
        udpSources[i].port = static_cast<std::uint16_t>(ports[i]);
}

std::string portText(const UdpSource& source) {
    return "UDP port " + std::to_string(source.port) + " for " + source.game;
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
        address.sin_addr.s_addr = htonl(onHomeNetwork ? INADDR_ANY : INADDR_LOOPBACK);
        u_long nonBlocking = 1;
        if (ioctlsocket(s, FIONBIO, &nonBlocking) != 0 ||
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
    }
    return false;
}

enum class Received { nothing, gameDatagram, stranger };

// Takes the next waiting datagram of the source, if any.
Received receiveOne(const UdpSource& source, MonotonicTime now) {
    static std::array<std::uint8_t, receiveBufferSize> buffer;
    const int received = recv(source.socket, reinterpret_cast<char*>(buffer.data()), buffer.size(), 0);
    if (received >= 0)
        return takeDatagram(source.family, Datagram(buffer.data(), static_cast<std::size_t>(received)), now)
                   ? Received::gameDatagram
                   : Received::stranger;
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
void drainUdpSources(MonotonicTime now) {
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
            const Received received = receiveOne(udpSources[i], now);
            mayHoldMore[i] = received == Received::gameDatagram ||
                             (received == Received::stranger && ++strangers[i] < strangersPerTick);
            any |= mayHoldMore[i];
        }
        if (!any || std::chrono::steady_clock::now() >= deadline) return;
    }
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
    const MonotonicTime now = std::chrono::steady_clock::now();
    for (UdpSource& source : udpSources)
        tryToBind(source, now);
}

void readUdpGames(TelemetrySample& sample) {
    if (!winsockStarted) return;
    const MonotonicTime now = std::chrono::steady_clock::now();
    for (UdpSource& source : udpSources)
        if (source.socket == INVALID_SOCKET && now >= source.nextTry) tryToBind(source, now);
    drainUdpSources(now);
    overlayUdpGames(udpGameStates, now, sample);
}
