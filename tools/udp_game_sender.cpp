// Datagrams laid out as F1 24 and F1 25, DiRT Rally (2.0, DiRT 4), EA SPORTS WRC, Forza's Data Out,
// OutGauge and Richard Burns Rally's NGP lay them out, sent to 127.0.0.1 at the game's pace, with the same
// commands on standard input as the page publisher.
#include "tools/udp_game_sender.h"

#include "win32.h"

#include <winsock2.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>

#include "tools/speed_profile.h"

const char* const udpGameUsage = R"(
       publish_game f1|dirt|wrc|forza|outgauge|rbr|pmr|tdu [options]

Sends the game's UDP telemetry to 127.0.0.1, as F1 24 or F1 25, DiRT Rally 2.0 (extradata 3),
EA SPORTS WRC (its "wrc" session_update), Forza (Data Out), OutGauge (Live for Speed,
BeamNG.drive), Richard Burns Rally (RSF's NGP telemetry), Project Motor Racing or Test Drive
Unlimited Solar Crown would:
  --port PORT           where to (default 20777 for f1, dirt, wrc and tdu, 5607 for forza, 4444
                        for outgauge, 6776 for rbr, 7576 for pmr)
  --rate HZ             datagrams a second (default 60; F1 sends a Session twice a second and its
                        Participants every 5 seconds beside them)
  --speed KMH, --lap SECONDS MIN MAX, --corner G   as for the pages; f1 sends its Motion packet,
                        dirt its world velocity and the car's right direction, wrc its world
                        acceleration and the car's left direction, forza its AccelerationX
  --not-live            f1: spectating; dirt: paused (only the run time moves); wrc: the stage
                        clock stopped; forza: IsRaceOn 0; outgauge: nothing sent; rbr: paused
                        (the same steps and race time again)
  --year 2024|2025|2026 f1: the packet format (default 2025)
  --length METRES       dirt, wrc: the stage's length (default 10234.4)
  --team ID, --track ID f1: the player's team and the session's track (default 8 and 13)
  --kind sled|fm7|fh|fm23  forza: the datagram (default fm23)
  --car ORDINAL, --track ORDINAL   forza: the car and (fm23) the track (default 1234 and 860)
  --car CODE, --with-id outgauge: the car code (default XRT) and the 96-byte form
  --car SLOT, --stage INDEX, --units kmh|mph   rbr: the car slot (default 3), the stage
                        (default 41) and the game's units for its speed (default kmh)
  --car NAME, --track NAME, --layout NAME   pmr: the player's vehicle, the track and its layout
                        (default "Ginetta G55 GT4", "Monza", "GP"); --not-live: paused (the same
                        telemetry again and again); 20 datagrams a second by default
  --multicast           pmr: to the game's default, the group 224.0.0.150, instead of 127.0.0.1
  --others N            pmr: other cars beside the player's (default 2), each with its own
                        participant packet and telemetry, at other speeds
                        tdu: --not-live pauses (only the run time and the tail move)
Commands on standard input: speed KMH | lap SECONDS MIN MAX | corner G | live 0|1 | quit
  restart               rbr: the stage starts again (steps, race time and distance from 0)
  stop                  pmr: the session ends (SessionStopped); race 0|1 pmr: State Inactive or Active
)";

namespace {

struct Options {
    std::string game;
    int port = 0;
    double rate = 60.0;
    SpeedProfile speed;
    std::optional<float> cornerG; // none: the lap's corners
    bool live = true;
    int year = 2025, team = 8, f1Track = 13;
    double stageLength = 10234.4;
    std::string kind = "fm23";
    long carOrdinal = 1234, forzaTrack = 860;
    std::string carCode = "XRT";
    bool withId = false;
    long rbrCar = 3, rbrStage = 41;
    bool mph = false;
    std::string pmrVehicle = "Ginetta G55 GT4", pmrTrack = "Monza", pmrLayout = "GP";
    bool multicast = false, raceActive = true;
    long others = 2;
};

[[noreturn]] void usageError(const std::string& text) {
    std::fprintf(stderr, "publish_game: %s\n%s", text.c_str(), udpGameUsage);
    std::exit(2);
}

using Bytes = std::vector<std::uint8_t>;

void put(Bytes& d, std::size_t offset, std::uint32_t value, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i)
        d[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void putFloat(Bytes& d, std::size_t offset, float value) {
    put(d, offset, std::bit_cast<std::uint32_t>(value), 4);
}

constexpr std::uint8_t playerCar = 0;

// The format's sizes: 2026 has 24 cars, a 16-bit team id and 59-byte Car Telemetry entries.
struct F1Sizes {
    std::size_t carTelemetry, carTelemetryEntry, session, participants, participantEntry, teamId;
};

F1Sizes f1Sizes(int year) {
    if (year == 2026) return {1448, 59, 926, 30 + 24 * 60, 60, 5};
    return {1352, 60, 753, 30 + 22 * std::size_t{year == 2024 ? 60u : 57u}, year == 2024 ? 60u : 57u, 3};
}

Bytes f1Packet(const Options& o, std::size_t size, std::uint8_t packetId) {
    Bytes d(size);
    put(d, 0, static_cast<std::uint32_t>(o.year), 2);
    d[2] = static_cast<std::uint8_t>(o.year % 100);
    d[6] = packetId;
    d[27] = o.live ? playerCar : 255; // a spectator has no car of its own
    return d;
}

Bytes f1CarTelemetry(const Options& o, float kmh) {
    const F1Sizes sizes = f1Sizes(o.year);
    Bytes d = f1Packet(o, sizes.carTelemetry, 6);
    put(d, 29 + sizes.carTelemetryEntry * playerCar,
        static_cast<std::uint32_t>(std::lround(std::clamp(kmh, 0.0f, 65535.0f))), 2);
    return d;
}

Bytes f1Session(const Options& o) {
    Bytes d = f1Packet(o, f1Sizes(o.year).session, 1);
    d[36] = static_cast<std::uint8_t>(o.f1Track);
    d[44] = !o.live;
    return d;
}

Bytes f1Participants(const Options& o) {
    const F1Sizes sizes = f1Sizes(o.year);
    Bytes d = f1Packet(o, sizes.participants, 4);
    d[27] = playerCar;
    d[29] = 22;
    put(d, 30 + sizes.participantEntry * playerCar + sizes.teamId, static_cast<std::uint32_t>(o.team),
        o.year == 2026 ? 2 : 1);
    return d;
}

constexpr float metresPerSecondSquaredPerG = 9.80665f;

// The car's way through the world: its heading turns so that it corners at the asked g, and the
// games that send world vectors send them from here.
struct CarPath {
    float time = 0.0f;                                   // the game's clock
    float heading = 0.0f, speed = 0.0f, sideways = 0.0f; // rad; m/s; m/s^2 toward the car's right
    void tick(float seconds, float kmh, float cornerG) {
        time += seconds;
        speed = kmh / 3.6f;
        sideways = cornerG * metresPerSecondSquaredPerG;
        if (speed > 1.0f) heading += sideways / speed * seconds;
    }
    std::array<float, 3> velocity() const {
        return {speed * std::sin(heading), 0.0f, speed * std::cos(heading)};
    }
    std::array<float, 3> right() const { return {std::cos(heading), 0.0f, -std::sin(heading)}; }
};

void putVector(Bytes& d, std::size_t offset, const std::array<float, 3>& v) {
    for (std::size_t i = 0; i < 3; ++i)
        putFloat(d, offset + 4 * i, v[i]);
}

Bytes f1Motion(const Options& o, const CarPath& path) {
    const std::size_t entry = o.year == 2026 ? 54 : 60, cars = o.year == 2026 ? 24 : 22;
    Bytes d = f1Packet(o, 29 + cars * entry, 0);
    putFloat(d, 15, path.time); // the session time
    const std::size_t car = 29 + entry * playerCar;
    putVector(d, car + 12, path.velocity());
    const std::array<float, 3> right = path.right();
    for (std::size_t i = 0; i < 3; ++i)
        put(d, car + 30 + 2 * i,
            static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lround(right[i] * 32767))), 2);
    return d;
}

// Clocks the rally games keep: the run time always moves; the lap (DiRT) or stage (WRC) time only
// while the car is being driven.
struct RallyClock {
    float runTime = 0.0f, stageTime = 0.0f;
    void tick(float seconds, bool live) {
        runTime += seconds;
        if (live) stageTime += seconds;
    }
};

Bytes dirtDatagram(const Options& o, const RallyClock& clock, float kmh, const CarPath& path) {
    Bytes d(264);
    putFloat(d, 0, clock.runTime);
    putFloat(d, 4, clock.stageTime);
    putFloat(d, 28, kmh / 3.6f);
    if (o.live) {
        putVector(d, 32, path.velocity());
        putVector(d, 44, path.right());
    }
    putFloat(d, 244, static_cast<float>(o.stageLength));
    return d;
}

Bytes wrcDatagram(const Options& o, const RallyClock& clock, float kmh, const CarPath& path) {
    Bytes d(237);
    putFloat(d, 41, kmh / 3.6f);
    const std::array<float, 3> right = path.right();
    putVector(d, 73, {right[0] * path.sideways, 0.0f, right[2] * path.sideways}); // world acceleration
    putVector(d, 85, {-right[0], 0.0f, -right[2]});                               // the car's left
    putFloat(d, 217, clock.stageTime);
    const auto length = std::bit_cast<std::uint64_t>(o.stageLength);
    put(d, 229, static_cast<std::uint32_t>(length), 4);
    put(d, 233, static_cast<std::uint32_t>(length >> 32), 4);
    return d;
}

// Richard Burns Rally's stage as NGP counts it: physics steps, the race time and the distance along
// the stage move on while the car is driven, and start again from 0 when the stage restarts.
struct RbrRun {
    std::uint32_t steps = 0;
    float raceTime = 0.0f, distance = 0.0f;
    void tick(float seconds, bool live, float kmh) {
        if (!live) return;
        steps += static_cast<std::uint32_t>(std::lround(seconds * 400.0f));
        raceTime += seconds;
        distance += kmh / 3.6f * seconds;
    }
};

Bytes rbrDatagram(const Options& o, const RbrRun& run, float kmh) {
    Bytes d(664);
    put(d, 0, run.steps, 4);
    put(d, 4, static_cast<std::uint32_t>(o.rbrStage), 4);
    putFloat(d, 12, run.raceTime);
    putFloat(d, 16, run.distance);
    put(d, 56, static_cast<std::uint32_t>(o.rbrCar), 4);
    putFloat(d, 60, o.mph ? kmh / 1.609344f : kmh);
    putFloat(d, 88, kmh / 3.6f); // the car's forward velocity
    return d;
}

Bytes forzaDatagram(const Options& o, float kmh, const CarPath& path) {
    const std::size_t size = o.kind == "sled" ? 232 : o.kind == "fm7" ? 311 : o.kind == "fh" ? 324 : 331;
    Bytes d(size);
    put(d, 0, o.live ? 1 : 0, 4);
    putFloat(d, 20, path.sideways); // AccelerationX: +X to the car's right
    const float metresPerSecond = kmh / 3.6f;
    // Sled has no speed: its velocity points along the car's axis.
    putFloat(d, 40, metresPerSecond);
    put(d, 212, static_cast<std::uint32_t>(o.carOrdinal), 4);
    if (size != 232) putFloat(d, size == 324 ? 256 : 244, metresPerSecond);
    if (size == 331) put(d, 327, static_cast<std::uint32_t>(o.forzaTrack), 4);
    return d;
}

Bytes outGaugeDatagram(const Options& o, float kmh) {
    Bytes d(o.withId ? 96 : 92);
    for (std::size_t i = 0; i < 4 && i < o.carCode.size(); ++i)
        d[4 + i] = static_cast<std::uint8_t>(o.carCode[i]);
    putFloat(d, 12, kmh / 3.6f);
    return d;
}

// Project Motor Racing: strings are a length byte and UTF-8, lists a count and their items.
struct PmrWriter {
    Bytes d;
    void u8(std::uint32_t value) { d.push_back(static_cast<std::uint8_t>(value)); }
    void u16(std::uint32_t value) { u8(value), u8(value >> 8); }
    void i32(std::uint32_t value) { u16(value), u16(value >> 16); }
    void f32(float value) { i32(std::bit_cast<std::uint32_t>(value)); }
    void text(const std::string& value) {
        const std::size_t length = std::min<std::size_t>(value.size(), 255);
        u8(static_cast<std::uint32_t>(length));
        d.insert(d.end(), value.begin(), value.begin() + static_cast<std::ptrdiff_t>(length));
    }
    void zeros(std::size_t count) { d.insert(d.end(), count, 0); }
};

constexpr std::int32_t pmrPlayerId = 5;

Bytes pmrRaceInfo(const Options& o) {
    PmrWriter w;
    w.u8(0), w.u16(1);
    for (const std::string& text : {o.pmrTrack, o.pmrLayout, std::string(), std::string("Clear"),
                                    std::string("Practice"), std::string("Single Player")})
        w.text(text);
    for (float value : {5793.0f, 1800.0f, 0.0f, 22.0f, 30.0f})
        w.f32(value);
    w.u8(0), w.u8(o.raceActive ? 1 : 0), w.u8(static_cast<std::uint32_t>(1 + o.others));
    return std::move(w.d);
}

Bytes pmrParticipant(std::int32_t vehicleId, bool player, const std::string& vehicle) {
    PmrWriter w;
    w.u8(1), w.u16(1), w.i32(static_cast<std::uint32_t>(vehicleId)), w.u8(player);
    for (const std::string& text :
         {vehicle, std::string(player ? "Driver" : "AI"), std::string(), std::string("GT4")})
        w.text(text);
    w.i32(1), w.i32(2), w.f32(12.5f), w.f32(0.0f), w.f32(0.25f), w.i32(0);
    w.u8(3), w.zeros(12), w.u8(0); // three current sector times, no best ones
    w.zeros(3), w.i32(0);
    return std::move(w.d);
}

// The version 2 telemetry of a car with four wheels, six gears and three suspension loads: 964
// bytes. While driven its position moves along at its speed; paused, every byte stays the same.
Bytes pmrTelemetry(std::int32_t vehicleId, float metresPerSecond, float distance) {
    PmrWriter w;
    w.u8(2), w.u16(2), w.i32(static_cast<std::uint32_t>(vehicleId)), w.u8(4);
    w.zeros(4 * 124);
    for (float value : {distance,
                        2.0f,
                        -300.0f,
                        0.0f,
                        0.0f,
                        0.0f,
                        1.0f,
                        0.0f,
                        0.1f,
                        0.0f,
                        0.0f,
                        0.2f,
                        0.0f,
                        metresPerSecond,
                        0.0f,
                        0.0f,
                        0.0f,
                        0.0f,
                        metresPerSecond,
                        0.0f,
                        0.0f,
                        0.0f,
                        0.0f,
                        0.0f,
                        0.0f,
                        metresPerSecond,
                        metresPerSecond,
                        0.0f})
        w.f32(value);
    w.zeros(28 * 4);
    w.u8(1), w.zeros(6); // EngineRunning and the other flags
    w.u8(6), w.zeros(6 * 8);
    w.u8(3), w.zeros(3 * 4), w.f32(0.0f);
    w.zeros(163);
    return std::move(w.d);
}

Bytes pmrSessionStopped() {
    return {3, 1, 0};
}

// Test Drive Unlimited Solar Crown: DiRT's order in 280 bytes, its gear a 32-bit integer, and a
// tail whose meaning is not known (here a counter that moves in every datagram).
Bytes tduDatagram(const RallyClock& clock, float kmh, std::uint32_t sent) {
    Bytes d(280);
    putFloat(d, 0, clock.runTime);
    putFloat(d, 4, clock.stageTime);
    putFloat(d, 8, clock.stageTime * 10.0f);
    putFloat(d, 28, kmh / 3.6f);
    put(d, 132, 3, 4);
    put(d, 272, sent, 4);
    return d;
}

class Sender {
  public:
    explicit Sender(Options options) : options_(std::move(options)) {
        socket_ = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        address_.sin_family = AF_INET;
        address_.sin_port = htons(static_cast<u_short>(options_.port));
        address_.sin_addr.s_addr = htonl(options_.multicast ? 0xE0000096 : INADDR_LOOPBACK);
    }
    ~Sender() { closesocket(socket_); }

    template <typename Change> void change(Change&& apply) {
        std::lock_guard lock(mutex_);
        apply(options_);
    }

    // One beat of the game: what it sends at its rate, and at a slower pace what else it sends.
    void beat(std::chrono::steady_clock::time_point now) {
        std::lock_guard lock(mutex_);
        const float kmh = options_.speed.at(now);
        path_.tick(static_cast<float>(1.0 / options_.rate), options_.live ? kmh : 0.0f,
                   options_.live ? cornerGAt(options_.speed, options_.cornerG, now) : 0.0f);
        if (options_.game == "f1") {
            if (now >= nextParticipants_)
                send(f1Participants(options_)), nextParticipants_ = now + std::chrono::seconds(5);
            if (now >= nextSession_)
                send(f1Session(options_)), nextSession_ = now + std::chrono::milliseconds(500);
            send(f1CarTelemetry(options_, kmh));
            send(f1Motion(options_, path_));
        } else if (options_.game == "dirt" || options_.game == "wrc") {
            rally_.tick(static_cast<float>(1.0 / options_.rate), options_.live);
            send(options_.game == "dirt" ? dirtDatagram(options_, rally_, kmh, path_)
                                         : wrcDatagram(options_, rally_, kmh, path_));
        } else if (options_.game == "forza") {
            send(forzaDatagram(options_, kmh, path_));
        } else if (options_.game == "rbr") {
            // NGP goes on sending while the game is paused, with the same steps and time.
            rbr_.tick(static_cast<float>(1.0 / options_.rate), options_.live, kmh);
            send(rbrDatagram(options_, rbr_, kmh));
        } else if (options_.game == "pmr") {
            beatPmr(now, kmh);
        } else if (options_.game == "tdu") {
            rally_.tick(static_cast<float>(1.0 / options_.rate), options_.live);
            send(tduDatagram(rally_, kmh, ++sent_));
        } else if (options_.live) {
            send(outGaugeDatagram(options_, kmh));
        }
    }

    // Project Motor Racing's session ends: one SessionStopped, and nothing more until it starts anew.
    void stopSession() {
        std::lock_guard lock(mutex_);
        send(pmrSessionStopped());
        sessionStopped_ = true;
    }

    void resendRaceInfo() {
        std::lock_guard lock(mutex_);
        nextSession_ = {};
    }

    void restart() {
        std::lock_guard lock(mutex_);
        rbr_ = {};
    }

    double rate() {
        std::lock_guard lock(mutex_);
        return options_.rate;
    }

  private:
    // The race info now and then (the game need not repeat it), every car's participant packet
    // twice a second, every car's telemetry at the rate.
    void beatPmr(std::chrono::steady_clock::time_point now, float kmh) {
        if (sessionStopped_) return;
        if (now >= nextSession_) send(pmrRaceInfo(options_)), nextSession_ = now + std::chrono::seconds(5);
        if (now >= nextParticipants_) {
            send(pmrParticipant(pmrPlayerId, true, options_.pmrVehicle));
            for (long other = 1; other <= options_.others; ++other)
                send(pmrParticipant(pmrPlayerId + static_cast<std::int32_t>(other), false, "Other car"));
            nextParticipants_ = now + std::chrono::milliseconds(500);
        }
        const float step = static_cast<float>(1.0 / options_.rate);
        if (options_.live) {
            pmrKmh_ = kmh;
            pmrDistance_ += kmh / 3.6f * step + 0.01f;
        }
        send(pmrTelemetry(pmrPlayerId, pmrKmh_ / 3.6f, pmrDistance_));
        // The other cars run at other speeds, and always move, so that the player's is told apart.
        ++sent_;
        for (long other = 1; other <= options_.others; ++other)
            send(pmrTelemetry(pmrPlayerId + static_cast<std::int32_t>(other),
                              100.0f + static_cast<float>(other),
                              static_cast<float>(other * 1000 + sent_ % 1000)));
    }

    void send(const Bytes& d) {
        sendto(socket_, reinterpret_cast<const char*>(d.data()), static_cast<int>(d.size()), 0,
               reinterpret_cast<const sockaddr*>(&address_), sizeof address_);
    }

    std::mutex mutex_;
    Options options_;
    SOCKET socket_;
    sockaddr_in address_{};
    std::chrono::steady_clock::time_point nextParticipants_{}, nextSession_{};
    RallyClock rally_;
    RbrRun rbr_;
    float pmrDistance_ = 100.0f, pmrKmh_ = 0.0f;
    std::uint32_t sent_ = 0;
    bool sessionStopped_ = false;
    CarPath path_;
};

void reply(const char* text) {
    std::printf("%s\n", text);
    std::fflush(stdout);
}

bool runCommand(Sender& sender, const std::string& line) {
    std::istringstream words(line);
    std::string verb;
    words >> verb;
    std::vector<std::string> rest;
    for (std::string word; words >> word;)
        rest.push_back(word);
    if (verb == "quit") return false;
    bool understood = false;
    if (verb == "speed" && rest.size() == 1 && parseNumber(rest[0])) {
        const float kmh = static_cast<float>(*parseNumber(rest[0]));
        sender.change([&](Options& o) { o.speed = fixedSpeed(kmh); });
        understood = true;
    } else if (verb == "lap") {
        SpeedProfile lap;
        understood = parseLap(rest, lap);
        if (understood) sender.change([&](Options& o) { o.speed = lap; });
    } else if (verb == "stop" && rest.empty()) {
        sender.stopSession();
        understood = true;
    } else if (verb == "race" && rest.size() == 1 && (rest[0] == "0" || rest[0] == "1")) {
        sender.change([&](Options& o) { o.raceActive = rest[0] == "1"; });
        sender.resendRaceInfo();
        understood = true;
    } else if (verb == "corner" && rest.size() == 1 && parseNumber(rest[0])) {
        const float g = static_cast<float>(*parseNumber(rest[0]));
        sender.change([&](Options& o) { o.cornerG = g; });
        understood = true;
    } else if (verb == "restart" && rest.empty()) {
        sender.restart();
        understood = true;
    } else if (verb == "live" && rest.size() == 1 && (rest[0] == "0" || rest[0] == "1")) {
        sender.change([&](Options& o) { o.live = rest[0] == "1"; });
        understood = true;
    }
    reply(understood ? "ok" : "error: not understood");
    return true;
}

} // namespace

bool isUdpGame(const std::string& game) {
    return game == "f1" || game == "dirt" || game == "wrc" || game == "forza" || game == "outgauge" ||
           game == "rbr" || game == "pmr" || game == "tdu";
}

int sendUdpGame(const std::vector<std::string>& args) {
    Options o;
    o.game = args[0];
    o.port = o.game == "forza" ? 5607 : o.game == "outgauge" ? 4444 : o.game == "rbr" ? 6776 : 20777;
    if (o.game == "pmr") o.port = 7576, o.rate = 20;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& option = args[i];
        auto value = [&]() -> const std::string& {
            if (i + 1 >= args.size()) usageError(option + " needs a value");
            return args[++i];
        };
        auto integer = [&]() {
            const auto n = parseNumber(value());
            if (!n || *n != std::floor(*n)) usageError(option + " needs a whole number");
            return static_cast<long>(*n);
        };
        if (option == "--port")
            o.port = static_cast<int>(integer());
        else if (option == "--rate")
            o.rate = static_cast<double>(integer());
        else if (option == "--speed") {
            const auto kmh = parseNumber(value());
            if (!kmh) usageError("--speed needs a number");
            o.speed = fixedSpeed(static_cast<float>(*kmh));
        } else if (option == "--lap") {
            std::vector<std::string> words;
            for (int k = 0; k < 3; ++k)
                words.push_back(value());
            if (!parseLap(words, o.speed)) usageError("--lap needs SECONDS MIN MAX");
        } else if (option == "--corner") {
            const auto g = parseNumber(value());
            if (!g) usageError("--corner needs a number");
            o.cornerG = static_cast<float>(*g);
        } else if (option == "--not-live")
            o.live = false;
        else if (option == "--year")
            o.year = static_cast<int>(integer());
        else if (option == "--length") {
            const auto metres = parseNumber(value());
            if (!metres) usageError("--length needs a number");
            o.stageLength = *metres;
        } else if (option == "--team")
            o.team = static_cast<int>(integer());
        else if (option == "--kind")
            o.kind = value();
        else if (option == "--with-id")
            o.withId = true;
        else if (option == "--car" && o.game == "pmr")
            o.pmrVehicle = value();
        else if (option == "--track" && o.game == "pmr")
            o.pmrTrack = value();
        else if (option == "--layout" && o.game == "pmr")
            o.pmrLayout = value();
        else if (option == "--multicast" && o.game == "pmr")
            o.multicast = true;
        else if (option == "--others" && o.game == "pmr")
            o.others = std::clamp(integer(), 0L, 30L);
        else if (option == "--track" && o.game == "f1")
            o.f1Track = static_cast<int>(integer());
        else if (option == "--track")
            o.forzaTrack = integer();
        else if (option == "--car" && o.game == "rbr")
            o.rbrCar = integer();
        else if (option == "--stage" && o.game == "rbr")
            o.rbrStage = integer();
        else if (option == "--units" && o.game == "rbr") {
            const std::string& units = value();
            if (units != "kmh" && units != "mph") usageError("--units takes kmh or mph");
            o.mph = units == "mph";
        } else if (option == "--car" && o.game == "outgauge")
            o.carCode = value();
        else if (option == "--car")
            o.carOrdinal = integer();
        else
            usageError("unknown option " + option);
    }
    if (o.port <= 0 || o.port > 65535 || o.rate <= 0) usageError("bad --port or --rate");

    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
        std::fprintf(stderr, "publish_game: Winsock did not start\n");
        return 1;
    }
    Sender sender(o);
    std::atomic<bool> quitting = false;
    std::thread pacer([&] {
        auto next = std::chrono::steady_clock::now();
        while (!quitting) {
            sender.beat(std::chrono::steady_clock::now());
            next += std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                std::chrono::duration<double>(1.0 / sender.rate()));
            std::this_thread::sleep_until(next);
        }
    });
    reply("ready");
    std::string line;
    while (std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        if (!runCommand(sender, line)) break;
    }
    // A game that quits just stops sending.
    quitting = true;
    pacer.join();
    return 0;
}
