// Times the system calls of the UDP games' drain under Wine: a tick with nothing waiting (one recv
// per socket that finds none, or one select over all three), and a tick at every game's highest
// send rate (52 datagrams, queued on loopback beforehand, received and parsed). Prints microseconds.
#include "win32.h"

#include <winsock2.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "telemetry/udp/udp_games.h"

namespace {

constexpr int rounds = 2000;

SOCKET boundSocket(sockaddr_in& address) {
    SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    int length = sizeof address;
    getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
    u_long nonBlocking = 1;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    return s;
}

template <typename Work> void report(const char* name, Work&& work) {
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        const auto start = std::chrono::steady_clock::now();
        work();
        times.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    std::printf("%s: median %.1f us, p99 %.1f us\n", name, times[times.size() / 2],
                times[times.size() * 99 / 100]);
}

} // namespace

int main() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    sockaddr_in addresses[3];
    SOCKET sockets[3];
    for (int i = 0; i < 3; ++i)
        sockets[i] = boundSocket(addresses[i]);
    SOCKET sender = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    char buffer[2048];

    report("empty tick, one recv per socket", [&] {
        for (SOCKET s : sockets)
            recv(s, buffer, sizeof buffer, 0);
    });
    report("empty tick, one select over the three", [&] {
        fd_set readable;
        FD_ZERO(&readable);
        for (SOCKET s : sockets)
            FD_SET(s, &readable);
        timeval none{0, 0};
        select(0, &readable, nullptr, nullptr, &none);
    });

    // F1 at 60 Hz (36 a tick), Forza at 60 Hz (6), OutGauge at 100 Hz (10).
    std::vector<char> f1(1352), forza(331), outGauge(96);
    f1[0] = static_cast<char>(2025 & 0xFF), f1[1] = 2025 >> 8, f1[6] = 6, forza[0] = 1;
    const std::pair<std::vector<char>*, int> perTick[3] = {{&f1, 36}, {&forza, 6}, {&outGauge, 10}};
    UdpGameStates states;
    std::printf("tick at the highest rates, 52 datagrams received and parsed (queueing not timed):\n");
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        for (int s = 0; s < 3; ++s)
            for (int n = 0; n < perTick[s].second; ++n)
                sendto(sender, perTick[s].first->data(), static_cast<int>(perTick[s].first->size()), 0,
                       reinterpret_cast<const sockaddr*>(&addresses[s]), sizeof addresses[s]);
        const auto start = std::chrono::steady_clock::now();
        for (int s = 0; s < 3; ++s)
            for (int received; (received = recv(sockets[s], buffer, sizeof buffer, 0)) >= 0;) {
                const Datagram d(reinterpret_cast<const std::uint8_t*>(buffer),
                                 static_cast<std::size_t>(received));
                if (s == 0) takeF1Datagram(states.f1, d, start);
                if (s == 1) takeForzaDatagram(states.forza, d, start);
                if (s == 2) takeOutGaugeDatagram(states.outGauge, d, start);
            }
        times.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    std::printf("  drained: median %.1f us, p99 %.1f us\n", times[times.size() / 2],
                times[times.size() * 99 / 100]);
    return 0;
}
