// The games that send their telemetry as UDP datagrams (F1 24 and F1 25; DiRT Rally, DiRT Rally 2.0,
// DiRT 4 and EA SPORTS WRC on F1's port; Forza Motorsport and Forza Horizon; OutGauge from
// BeamNG.drive and Live for Speed; Richard Burns Rally's RSF build with NGP): each datagram checked and taken
// into its game's newest state, and the states laid over the tick's sample. Platform-neutral, so the parsers
// are tested, fuzzed and benchmarked natively; the sockets are in udp_sources.
#pragma once
#include <array>
#include <chrono>
#include <cstdint>
#include <span>

#include "telemetry/byte_loads.h"
#include "telemetry/telemetry_sample.h"

using Datagram = PageView;
using MonotonicTime = std::chrono::steady_clock::time_point;

// UDP has no "game ended": a game counts as live only while its datagrams keep coming.
inline constexpr auto udpSilenceLimit = std::chrono::seconds(1);

// True while the last datagram is younger than the silence limit; false before the first one.
bool heardRecently(bool heard, MonotonicTime lastHeard, MonotonicTime now);

// For the games that give the car's world velocity and its own right direction: the velocity is
// differenced over a stretch of the game's own clock, and the change projected on the right
// direction, so that no handedness of the game's world enters.
struct CorneringFromVelocity {
    bool started = false;
    float time = 0.0f;               // the game's clock, seconds, when the stretch began
    std::array<float, 3> velocity{}; // m/s, world frame, then
    float rightwardG = 0.0f;         // over the last whole stretch
    MonotonicTime lastHeard{};       // when the game last sent what it is taken from
};

// Takes one reading; the cornering changes once a stretch of at least 50 ms of game time is over.
void takeVelocityReading(CorneringFromVelocity& cornering, float time, const std::array<float, 3>& velocity,
                         const std::array<float, 3>& rightDirection, MonotonicTime now);

struct F1State {
    bool heard = false;            // a Car Telemetry datagram has come
    MonotonicTime lastHeard{};     // when the newest one came
    bool playerIndexValid = false; // its player car index named one of its cars (22, or 24 in 2026)
    float speedKmh = 0.0f;         // the player's speed in it
    int trackId = -1;              // from the newest Session; -1 is the game's "unknown"
    bool spectating = false;       // from the newest Session
    int teamId = -1;               // the player's team from the newest Participants; -1 none yet
    // From the Motion packets.
    CorneringFromVelocity cornering;
};

// Codemasters' rally games send 66 floats and no header; paused, they go on sending, with only the
// run time still moving. So the game is live only while the other fields keep changing.
inline constexpr std::size_t dirtDatagramSize = 264;

struct DirtState {
    bool heard = false;
    MonotonicTime lastHeard{};
    bool changed = false;        // a datagram has differed from the one before, beyond the run time
    MonotonicTime lastChanged{}; // when the newest such datagram came
    std::array<std::uint8_t, dirtDatagramSize> last{};
    float speedKmh = 0.0f;
    float trackLengthMetres = 0.0f;
    CorneringFromVelocity cornering;
};

// Test Drive Unlimited Solar Crown sends DiRT's field order to the same port, in longer datagrams
// (what the tail beyond DiRT's 264 bytes holds is not known, and its gear at 132 is a 32-bit
// integer where DiRT's is a float). No status and no names: live, as DiRT, while the fields Ventora
// knows keep changing.
inline constexpr std::size_t tduShortestDatagram = 280;

// The same fields as DiRT's, read from the datagram's first 264 bytes (the track length is not
// known to mean anything here).
using TduState = DirtState;

// EA SPORTS WRC's session_update: live only while its stage clock advances, which it stops doing
// when the game is paused or the stage is over.
struct WrcState {
    bool heard = false;
    MonotonicTime lastHeard{};
    float stageTime = 0.0f;       // from the newest datagram
    bool advanced = false;        // the stage clock has moved on from one datagram to the next
    MonotonicTime lastAdvanced{}; // when it last did
    float speedKmh = 0.0f;
    double stageLengthMetres = 0.0;
    float rightwardG = 0.0f;
};

enum class ForzaKind { sled, motorsport7Dash, horizonDash, motorsport2023Dash };

struct ForzaState {
    bool heard = false;
    MonotonicTime lastHeard{};
    ForzaKind kind = ForzaKind::sled;
    bool raceOn = false;
    float speedKmh = 0.0f;
    std::int32_t carOrdinal = 0;
    std::int32_t trackOrdinal = 0; // the 2023 Dash only
    float rightwardG = 0.0f;
};

struct OutGaugeState {
    bool heard = false;
    MonotonicTime lastHeard{};
    std::array<char, 4> car{}; // the car code, NUL-padded when shorter than four
    float speedKmh = 0.0f;
};

// Richard Burns Rally (RallySimFans, NGP physics): 664 bytes, no header, no paused flag, and a speed
// in the game's own units, km/h or mph. Driven while both its physics step count and its race time
// move on; the units are told by the speed against the car's velocity, which the datagram carries
// in metres per second.
inline constexpr std::size_t rbrDatagramSize = 664;

// Below this the velocity is too small for its ratio to the speed to tell the units.
inline constexpr float rbrUnitsLeastMetresPerSecond = 5.0f;

struct RbrState {
    bool heard = false;
    MonotonicTime lastHeard{};
    std::uint32_t totalSteps = 0; // from the newest datagram
    float raceTime = 0.0f;
    bool advanced = false;        // the steps and the race time have both moved on
    MonotonicTime lastAdvanced{}; // when they last did
    std::int32_t stage = 0, car = 0;
    float speed = 0.0f; // as sent, in the game's units
    bool mph = false;   // km/h until a datagram shows otherwise
};

struct UdpGameStates {
    F1State f1;
    DirtState dirt;
    WrcState wrc;
    ForzaState forza;
    OutGaugeState outGauge;
    RbrState rbr;
    TduState tdu;
};

// Each takes one datagram as it arrived at `now`. A datagram of any other length or format than
// the game sends is dropped without a trace and leaves the state as it was; false says so (true:
// one the game sends, whether Ventora uses it or not), so that a flood of strangers can be cut short.
bool takeF1Datagram(F1State& state, Datagram datagram, MonotonicTime now);
bool takeDirtDatagram(DirtState& state, Datagram datagram, MonotonicTime now);
bool takeWrcDatagram(WrcState& state, Datagram datagram, MonotonicTime now);
bool takeForzaDatagram(ForzaState& state, Datagram datagram, MonotonicTime now);
bool takeOutGaugeDatagram(OutGaugeState& state, Datagram datagram, MonotonicTime now);
bool takeRbrDatagram(RbrState& state, Datagram datagram, MonotonicTime now);
bool takeTduDatagram(TduState& state, Datagram datagram, MonotonicTime now);

// What arrives on F1's port: the rally games send there too, by default, and tell themselves apart
// by their lengths (DiRT 264 bytes, WRC 237, Test Drive Unlimited Solar Crown 280 or more), unless the
// datagram carries F1's own header.
bool takeF1PortDatagram(UdpGameStates& states, Datagram datagram, MonotonicTime now);

// Lays the live UDP games over the sample that the shared-memory games made, in the order F1,
// DiRT, WRC, Forza, OutGauge, Richard Burns Rally, Test Drive Unlimited Solar Crown: each live one replaces
// the combo and the speed, so the last live one wins.
void overlayUdpGames(const UdpGameStates& states, MonotonicTime now, TelemetrySample& sample);
