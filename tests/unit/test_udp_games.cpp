// The UDP games' datagrams laid out byte by byte at the games' own offsets (written out here, not
// taken from the code), the F1 tables at their edges, the silence rule and the order of the games.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <vector>

#include "telemetry/udp/f1_names.h"
#include "telemetry/udp/udp_games.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
const MonotonicTime t0 = MonotonicTime{} + std::chrono::hours(1);

void put(Bytes& d, std::size_t offset, std::uint32_t value, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i)
        d.at(offset + i) = static_cast<std::uint8_t>(value >> (8 * i));
}
void putFloat(Bytes& d, std::size_t offset, float value) {
    put(d, offset, std::bit_cast<std::uint32_t>(value), 4);
}

Bytes f1Packet(std::size_t size, std::uint16_t format, std::uint8_t id, std::uint8_t player) {
    Bytes d(size);
    put(d, 0, format, 2);
    d[2] = static_cast<std::uint8_t>(format % 100);
    d[6] = id;
    d[27] = player;
    return d;
}

// Every car's speed is its index plus 100, so the wrong car's speed shows as a wrong number.
Bytes carTelemetry(std::uint16_t format, std::uint8_t player, std::size_t size = 1352) {
    Bytes d = f1Packet(size, format, 6, player);
    for (std::size_t car = 0; car < 22 && 29 + 60 * car + 2 <= size; ++car)
        put(d, 29 + 60 * car, 100 + car, 2);
    return d;
}

Bytes session(std::int8_t track, bool spectating, std::size_t size = 753, std::uint16_t format = 2024) {
    Bytes d = f1Packet(size, format, 1, 0);
    d.at(36) = static_cast<std::uint8_t>(track);
    d.at(44) = spectating;
    return d;
}

// Every car's team is its index plus 1.
Bytes participants(std::uint16_t format, std::uint8_t player, std::size_t entry, std::size_t size) {
    Bytes d = f1Packet(size, format, 4, player);
    for (std::size_t car = 0; car < 22 && 33 + entry * car < size; ++car)
        d[33 + entry * car] = car + 1;
    return d;
}

// ---- Format 2026: 24 cars, Car Telemetry entries of 59 bytes, a 16-bit team id at +5.

// Every car's speed is its index plus 200.
Bytes carTelemetry2026(std::uint8_t player, std::size_t size = 1448) {
    Bytes d = f1Packet(size, 2026, 6, player);
    for (std::size_t car = 0; car < 24 && 29 + 59 * car + 2 <= size; ++car)
        put(d, 29 + 59 * car, 200 + car, 2);
    return d;
}

// Every car's team is 400 plus its index, the player's `team`.
Bytes participants2026(std::uint8_t player, std::uint16_t team, std::size_t size = 1470) {
    Bytes d = f1Packet(size, 2026, 4, player);
    d.at(29) = 24;
    for (std::size_t car = 0; car < 24 && 30 + 60 * car + 7 <= size; ++car)
        put(d, 30 + 60 * car + 5, car == player ? team : 400 + car, 2);
    return d;
}

TelemetrySample overlay(const UdpGameStates& states, MonotonicTime now = t0) {
    TelemetrySample sample{"shared @ memory game", 5.0f};
    overlayUdpGames(states, now, sample);
    return sample;
}

TEST(F1Datagrams, CarTelemetryGivesThePlayersSpeedInBothYears) {
    for (auto [format, player] : {std::pair<int, int>{2024, 0}, {2025, 21}, {2024, 7}}) {
        UdpGameStates states;
        takeF1Datagram(states.f1, carTelemetry(format, player), t0);
        EXPECT_EQ(overlay(states).speedKmh, 100.0f + player) << format << " player " << player;
        EXPECT_EQ(overlay(states).combo, "Unknown @ Unknown");
    }
}

// Dropped, and said to be no F1 datagram (so that a flood of them is cut short), except a packet
// the game sends that Ventora has no use for.
TEST(F1Datagrams, AnythingButAWellFormedPacketIsDropped) {
    const std::pair<Bytes, bool> dropped[] = {{carTelemetry(2024, 3, 1351), false},
                                              {carTelemetry(2024, 3, 1353), false},
                                              {carTelemetry(2023, 3), false},
                                              {carTelemetry(2026, 3), false},
                                              {carTelemetry(2025, 3, 1448), false},
                                              {carTelemetry2026(3, 1447), false},
                                              {carTelemetry2026(3, 1449), false},
                                              {participants2026(3, 476, 1469), false},
                                              {participants2026(3, 476, 1471), false},
                                              {session(42, false, 925, 2026), false},
                                              {session(42, false, 753, 2026), false},
                                              {f1Packet(28, 2024, 6, 3), false},
                                              {Bytes{}, false},
                                              {f1Packet(1352, 2024, 5, 3), true},
                                              {f1Packet(1349, 2025, 0, 3), true}};
    for (const auto& [d, gameSendsIt] : dropped) {
        UdpGameStates states;
        EXPECT_EQ(takeF1Datagram(states.f1, d, t0), gameSendsIt) << d.size();
        EXPECT_EQ(overlay(states).combo, "shared @ memory game") << d.size();
    }
}

TEST(F1Datagrams, PlayerIndexOutOfRangeOrSpectatingIsNotLive) {
    for (std::uint8_t player : {22, 255}) {
        UdpGameStates states;
        takeF1Datagram(states.f1, carTelemetry(2025, 0), t0);
        takeF1Datagram(states.f1, carTelemetry(2025, player), t0);
        EXPECT_EQ(overlay(states).speedKmh, 5.0f) << int{player};
    }
    UdpGameStates states;
    takeF1Datagram(states.f1, carTelemetry(2024, 2), t0);
    takeF1Datagram(states.f1, session(13, true), t0);
    EXPECT_EQ(overlay(states).speedKmh, 5.0f);
    takeF1Datagram(states.f1, session(13, false), t0);
    EXPECT_EQ(overlay(states).speedKmh, 102.0f);
}

TEST(F1Datagrams, ComboIsThePlayersTeamAtTheSessionsTrack) {
    struct Case {
        Bytes participants;
        Bytes session;
        const char* combo;
    } cases[] = {
        {participants(2024, 7, 60, 1350), session(13, false), "McLaren @ Suzuka"},
        {participants(2025, 7, 57, 1284), session(-1, false), "McLaren @ Unknown"},
        {participants(2025, 0, 57, 1284), session(41, false), "Ferrari @ Zandvoort (Reverse)"},
        {participants(2024, 7, 57, 1284), session(13, false, 752), "Unknown @ Unknown"}, // wrong sizes
        {participants(2025, 7, 60, 1350), session(13, false, 754), "Unknown @ Unknown"},
        {participants(2024, 22, 60, 1350), session(13, false), "Unknown @ Suzuka"}};
    for (const Case& c : cases) {
        UdpGameStates states;
        takeF1Datagram(states.f1, c.participants, t0);
        takeF1Datagram(states.f1, c.session, t0);
        takeF1Datagram(states.f1, carTelemetry(2025, 1), t0);
        EXPECT_EQ(overlay(states).combo, c.combo);
    }
}

TEST(F1Names, TablesAtTheirEdges) {
    const std::pair<int, const char*> teams[] = {{0, "Mercedes"},           {9, "Sauber"},
                                                 {10, "Team 10"},           {41, "F1 Generic"},
                                                 {104, "F1 Custom Team"},   {128, "Team 128"},
                                                 {129, "Konnersport"},      {130, "Team 130"},
                                                 {141, "Team 141"},         {142, "APXGP '24"},
                                                 {143, "Art GP '23"},       {153, "Virtuosi '23"},
                                                 {154, "APXGP '25"},        {155, "Konnersport '24"},
                                                 {156, "Team 156"},         {157, "Team 157"},
                                                 {158, "Art GP '24"},       {160, "Rodin Motorsport '24"},
                                                 {168, "Invicta '24"},      {169, "Team 169"},
                                                 {184, "Team 184"},         {185, "Mercedes '24"},
                                                 {194, "Sauber '24"},       {195, "Team 195"},
                                                 {255, "Team 255"},         {464, "Team 464"},
                                                 {465, "Art GP '25"},       {467, "Rodin Motorsport '25"},
                                                 {475, "Invicta '25"},      {476, "Mercedes '26"},
                                                 {482, "Racing Bulls '26"}, {485, "Audi '26"},
                                                 {486, "Cadillac '26"},     {487, "Team 487"}};
    for (auto [id, name] : teams)
        EXPECT_EQ(f1TeamName(id), name);
    const std::pair<int, const char*> tracks[] = {{-2, "Track -2"},
                                                  {-1, "Unknown"},
                                                  {0, "Melbourne"},
                                                  {3, "Sakhir (Bahrain)"},
                                                  {28, "Portim\xC3\xA3o"},
                                                  {32, "Losail"},
                                                  {33, "Track 33"},
                                                  {38, "Track 38"},
                                                  {39, "Silverstone (Reverse)"},
                                                  {41, "Zandvoort (Reverse)"},
                                                  {42, "Madrid"},
                                                  {43, "Track 43"}};
    for (auto [id, name] : tracks)
        EXPECT_EQ(f1TrackName(id), name);
}

TEST(F1Datagrams, Format2026GivesTheSpeedTeamAndTrackOfAnyOfItsTwentyFourCars) {
    struct Case {
        std::uint8_t player;
        std::uint16_t team;
        std::int8_t track;
        const char* combo;
    } cases[] = {{0, 476, 42, "Mercedes '26 @ Madrid"},
                 {23, 486, 13, "Cadillac '26 @ Suzuka"},
                 {22, 465, 3, "Art GP '25 @ Sakhir (Bahrain)"},
                 {5, 0x0108, 42, "Team 264 @ Madrid"}}; // the high byte counts
    for (const Case& c : cases) {
        UdpGameStates states;
        EXPECT_TRUE(takeF1Datagram(states.f1, participants2026(c.player, c.team), t0));
        EXPECT_TRUE(takeF1Datagram(states.f1, session(c.track, false, 926, 2026), t0));
        EXPECT_TRUE(takeF1Datagram(states.f1, carTelemetry2026(c.player), t0));
        EXPECT_EQ(overlay(states).combo, c.combo);
        EXPECT_EQ(overlay(states).speedKmh, 200.0f + c.player) << c.combo;
    }
    UdpGameStates states;
    takeF1Datagram(states.f1, carTelemetry2026(3), t0);
    takeF1Datagram(states.f1, session(42, true, 926, 2026), t0);
    EXPECT_EQ(overlay(states).speedKmh, 5.0f) << "spectating";
    takeF1Datagram(states.f1, carTelemetry2026(24), t0);
    EXPECT_EQ(overlay(states).speedKmh, 5.0f) << "no 25th car";
}

// ---- The rally games on F1's port.

Bytes dirt(float runTime, float lapTime, float metresPerSecond, float trackLength, std::size_t size = 264) {
    Bytes d(size);
    putFloat(d, 0, runTime);
    putFloat(d, 4, lapTime);
    putFloat(d, 28, metresPerSecond);
    if (size >= 248) putFloat(d, 244, trackLength);
    return d;
}

Bytes wrc(float stageTime, float metresPerSecond, double stageLength, std::size_t size = 237) {
    Bytes d(size);
    putFloat(d, 41, metresPerSecond);
    putFloat(d, 217, stageTime);
    if (size >= 237) {
        put(d, 229, static_cast<std::uint32_t>(std::bit_cast<std::uint64_t>(stageLength)), 4);
        put(d, 233, static_cast<std::uint32_t>(std::bit_cast<std::uint64_t>(stageLength) >> 32), 4);
    }
    return d;
}

// Driven, the stage's length and the speed; paused, DiRT goes on sending with only its run time
// moving and WRC's stage clock stands still: a second after the last movement the game is no
// longer live, though its datagrams still come.
TEST(RallyDatagrams, LiveOnlyWhileMovingOnAndNotForASecondAfter) {
    using std::chrono::milliseconds;
    struct Case {
        Bytes first, moving, standing[3]; // sent at 0, 100, then 600, 800 and 1150 ms
        const char* combo;
        float kmh;
    } cases[] = {{dirt(5.0f, 2.0f, 1.0f, 10234.5f),
                  dirt(5.1f, 2.1f, 20.0f, 10234.5f),
                  {dirt(5.6f, 2.1f, 20.0f, 10234.5f), dirt(5.8f, 2.1f, 20.0f, 10234.5f),
                   dirt(6.2f, 2.1f, 20.0f, 10234.5f)},
                  "Stage 10235 m @ DiRT",
                  72.0f},
                 {wrc(40.0f, 1.0f, 8012.49),
                  wrc(40.1f, 25.0f, 8012.49),
                  {wrc(40.1f, 25.0f, 8012.49), wrc(40.1f, 26.0f, 8012.49), wrc(39.0f, 27.0f, 8012.49)},
                  "Stage 8012 m @ EA WRC",
                  90.0f}};
    for (const Case& c : cases) {
        UdpGameStates states;
        EXPECT_TRUE(takeF1PortDatagram(states, c.first, t0));
        EXPECT_EQ(overlay(states).combo, "shared @ memory game") << "one datagram shows no movement";
        takeF1PortDatagram(states, c.moving, t0 + milliseconds(100));
        EXPECT_FLOAT_EQ(overlay(states, t0 + milliseconds(100)).speedKmh, c.kmh) << c.combo;
        const int sentAt[] = {600, 800, 1150};
        for (int i = 0; i < 3; ++i)
            takeF1PortDatagram(states, c.standing[i], t0 + milliseconds(sentAt[i]));
        EXPECT_EQ(overlay(states, t0 + milliseconds(1099)).combo, c.combo);
        EXPECT_EQ(overlay(states, t0 + milliseconds(1100)).combo, "shared @ memory game") << c.combo;
        EXPECT_EQ(overlay(states, t0 + milliseconds(1150)).combo, "shared @ memory game") << c.combo;
    }
}

TEST(RallyDatagrams, OnlyTheirExactLengthsWithoutAnF1HeaderAreRally) {
    // Lengths one off go to F1, whose header they lack.
    for (const Bytes& d : {dirt(1.0f, 1.0f, 1.0f, 1.0f, 263), dirt(1.0f, 1.0f, 1.0f, 1.0f, 265),
                           wrc(1.0f, 1.0f, 1.0, 236), wrc(1.0f, 1.0f, 1.0, 238)}) {
        UdpGameStates states;
        EXPECT_FALSE(takeF1PortDatagram(states, d, t0)) << d.size();
        EXPECT_FALSE(states.dirt.heard || states.wrc.heard) << d.size();
    }
    // F1 24's Motion Ex packet is 237 bytes long: it stays F1's.
    Bytes motionEx = f1Packet(237, 2024, 13, 0);
    UdpGameStates states;
    EXPECT_TRUE(takeF1PortDatagram(states, motionEx, t0));
    EXPECT_FALSE(states.wrc.heard);
    // And F1's own datagrams pass through to F1.
    EXPECT_TRUE(takeF1PortDatagram(states, carTelemetry2026(2), t0));
    EXPECT_EQ(overlay(states).speedKmh, 202.0f);
}

Bytes forza(std::size_t size, std::int32_t raceOn = 1) {
    Bytes d(size);
    put(d, 0, static_cast<std::uint32_t>(raceOn), 4);
    put(d, 212, 1234, 4);
    return d;
}

TEST(ForzaDatagrams, LengthTellsTheKindAndWhereTheSpeedIs) {
    Bytes sled = forza(232), fm7 = forza(311), fh = forza(324), fm23 = forza(331);
    putFloat(sled, 32, 3.0f), putFloat(sled, 36, -4.0f), putFloat(sled, 40, 12.0f); // |v| = 13 m/s
    putFloat(fm7, 244, 10.0f);
    putFloat(fh, 244, 99.0f), putFloat(fh, 256, 20.0f); // Horizon's 12 inserted bytes move the speed
    putFloat(fm23, 244, 30.0f), put(fm23, 327, 860, 4);
    const std::tuple<Bytes, float, const char*> cases[] = {{sled, 13.0f * 3.6f, "Car 1234 @ Forza"},
                                                           {fm7, 36.0f, "Car 1234 @ Forza"},
                                                           {fh, 20.0f * 3.6f, "Car 1234 @ Forza Horizon"},
                                                           {fm23, 30.0f * 3.6f, "Car 1234 @ Track 860"}};
    for (const auto& [d, kmh, combo] : cases) {
        UdpGameStates states;
        takeForzaDatagram(states.forza, d, t0);
        EXPECT_EQ(overlay(states).combo, combo);
        EXPECT_FLOAT_EQ(overlay(states).speedKmh, kmh) << combo;
    }
}

TEST(ForzaDatagrams, OtherLengthsAndRacesNotOnAreNotLive) {
    for (std::size_t size : {216, 231, 233, 310, 312, 323, 325, 330, 332}) {
        UdpGameStates states;
        EXPECT_FALSE(takeForzaDatagram(states.forza, forza(size), t0));
        EXPECT_EQ(overlay(states).combo, "shared @ memory game") << size;
    }
    for (std::int32_t raceOn : {0, 2, -1}) {
        UdpGameStates states;
        takeForzaDatagram(states.forza, forza(331), t0);
        takeForzaDatagram(states.forza, forza(331, raceOn), t0);
        EXPECT_EQ(overlay(states).combo, "shared @ memory game") << raceOn;
    }
}

Bytes outGauge(std::size_t size, const char* car, float metresPerSecond) {
    Bytes d(size);
    for (std::size_t i = 0; i < 4 && car[i]; ++i)
        d[4 + i] = car[i];
    putFloat(d, 12, metresPerSecond);
    return d;
}

TEST(OutGaugeDatagrams, CarCodeToItsNulAndSpeed) {
    const std::tuple<Bytes, const char*> cases[] = {{outGauge(92, "XRT", 10.0f), "XRT @ OutGauge"},
                                                    {outGauge(96, "beam", 10.0f), "beam @ OutGauge"},
                                                    {outGauge(92, "", 10.0f), " @ OutGauge"}};
    for (const auto& [d, combo] : cases) {
        UdpGameStates states;
        takeOutGaugeDatagram(states.outGauge, d, t0);
        EXPECT_EQ(overlay(states).combo, combo);
        EXPECT_EQ(overlay(states).speedKmh, 36.0f);
    }
    for (std::size_t size : {16, 91, 93, 95, 97}) {
        UdpGameStates states;
        EXPECT_FALSE(takeOutGaugeDatagram(states.outGauge, outGauge(size, "XRT", 1.0f), t0));
        EXPECT_EQ(overlay(states).combo, "shared @ memory game") << size;
    }
}

TEST(UdpGames, OneSecondOfSilenceEndsLiveAndTheLastLiveGameWins) {
    using std::chrono::milliseconds;
    UdpGameStates states;
    takeOutGaugeDatagram(states.outGauge, outGauge(92, "XRT", 0.0f), t0);
    takeForzaDatagram(states.forza, forza(324), t0 + milliseconds(400));
    takeF1PortDatagram(states, wrc(1.0f, 0.0f, 2000.0), t0 + milliseconds(500));
    takeF1PortDatagram(states, wrc(1.1f, 0.0f, 2000.0), t0 + milliseconds(600));
    takeF1PortDatagram(states, dirt(1.0f, 1.0f, 0.0f, 3000.0f), t0 + milliseconds(600));
    takeF1PortDatagram(states, dirt(1.1f, 1.1f, 0.0f, 3000.0f), t0 + milliseconds(700));
    takeF1Datagram(states.f1, carTelemetry(2024, 0), t0 + milliseconds(800));
    const std::pair<int, const char*> moments[] = {{800, "XRT @ OutGauge"},
                                                   {999, "XRT @ OutGauge"},
                                                   {1000, "Car 1234 @ Forza Horizon"},
                                                   {1399, "Car 1234 @ Forza Horizon"},
                                                   {1400, "Stage 2000 m @ EA WRC"},
                                                   {1599, "Stage 2000 m @ EA WRC"},
                                                   {1600, "Stage 3000 m @ DiRT"},
                                                   {1699, "Stage 3000 m @ DiRT"},
                                                   {1700, "Unknown @ Unknown"},
                                                   {1799, "Unknown @ Unknown"},
                                                   {1800, "shared @ memory game"}};
    for (auto [ms, combo] : moments)
        EXPECT_EQ(overlay(states, t0 + milliseconds(ms)).combo, combo) << ms;
}

} // namespace

// ---- Test Drive Unlimited Solar Crown: DiRT's order in 280 bytes or more, on F1's port.

namespace {

// A datagram of `size` bytes in DiRT's order: the run time, the lap time, the speed in m/s at 28,
// the gear as a 32-bit integer at 132 (where DiRT has a float), and a tail beyond 264.
Bytes dirtOrder(std::size_t size, float runTime, float lapTime, float metresPerSecond,
                std::uint32_t tail = 0) {
    Bytes d(size);
    putFloat(d, 0, runTime);
    putFloat(d, 4, lapTime);
    putFloat(d, 28, metresPerSecond);
    putFloat(d, 244, 5000.0f);
    if (size >= 280) put(d, 132, 3, 4), put(d, size - 4, tail, 4);
    return d;
}

bool takeForza(UdpGameStates& s, Datagram d, MonotonicTime t) {
    return takeForzaDatagram(s.forza, d, t);
}
bool takeOutGauge(UdpGameStates& s, Datagram d, MonotonicTime t) {
    return takeOutGaugeDatagram(s.outGauge, d, t);
}
// Test Drive Unlimited is live only once its fields have changed: a first datagram, then `d`.
bool takeTdu(UdpGameStates& s, Datagram d, MonotonicTime t) {
    takeF1PortDatagram(s, dirtOrder(280, 1.0f, 1.0f, 10.0f), t);
    return takeF1PortDatagram(s, d, t);
}

} // namespace

// Each reader's speed through the one rule: beyond 1000 km/h, no number, or backwards beyond noise.
TEST(UdpGames, ASpeedBeyondReasonCountsAsStandingStill) {
    Bytes f1 = carTelemetry(2025, 0), overflowing = forza(311), backwards = forza(311), standing = forza(311);
    put(f1, 29, 65535, 2); // km/h as F1 sends it: a stranger's, on the network
    putFloat(overflowing, 244, 9.4e37f), putFloat(backwards, 244, -10.0f), putFloat(standing, 244, -0.1f);
    const std::tuple<const char*, Bytes, bool (*)(UdpGameStates&, Datagram, MonotonicTime)> cases[] = {
        {"F1, 65535 km/h", f1, takeF1PortDatagram},
        {"Forza, overflowing in km/h", overflowing, takeForza},
        {"Forza, backwards beyond noise", backwards, takeForza},
        {"Forza, a hair below zero", standing, takeForza},
        {"OutGauge, 1e6 m/s", outGauge(92, "XRT", 1e6f), takeOutGauge},
        {"Test Drive Unlimited, 300 m/s", dirtOrder(280, 1.1f, 1.1f, 300.0f), takeTdu},
    };
    for (const auto& [what, d, take] : cases) {
        UdpGameStates states;
        ASSERT_TRUE(take(states, d, t0)) << what;
        const TelemetrySample sample = overlay(states);
        EXPECT_NE(sample.combo, "shared @ memory game") << what;
        EXPECT_EQ(sample.speedKmh, 0.0f) << what;
    }
}

// Two datagrams on the F1 port, the second 50 ms after the first: which game's combo and speed
// (10 m/s) show after that. Test Drive Unlimited is live while DiRT's fields change (paused, only
// the run time and whatever the tail holds move) and until a second of silence.
TEST(TduDatagrams, TheLengthTellsItApartFromDirtAndItsFieldsKeepItLive) {
    // F1 23's header, or F1 24's set to its 2023 format.
    const auto asF1 = [](Bytes d) { return put(d, 0, 2023, 2), d; };
    const char *const tdu = "Test Drive Unlimited Solar Crown", *const none = "shared @ memory game";
    const std::tuple<const char*, Bytes, Bytes, int, const char*, float> cases[] = {
        // what, first, second, milliseconds after the second looked at, combo, speed
        {"DiRT's 264 bytes", dirtOrder(264, 1, 1, 10), dirtOrder(264, 1.1f, 1.1f, 10), 50,
         "Stage 5000 m @ DiRT", 36},
        {"280 bytes", dirtOrder(280, 1, 1, 10), dirtOrder(280, 1.1f, 1.1f, 10, 1), 50, tdu, 36},
        {"279 bytes", dirtOrder(279, 1, 1, 10), dirtOrder(279, 1.1f, 1.1f, 10), 50, none, 5},
        {"as long, but F1's", asF1(dirtOrder(1352, 1, 1, 10)), asF1(dirtOrder(1352, 1.1f, 1.1f, 10)), 50,
         none, 5},
        {"paused, the tail moving", dirtOrder(280, 1, 1, 10), dirtOrder(280, 1.1f, 1.0f, 10, 7), 50, none, 5},
        {"silent for a second", dirtOrder(280, 1, 1, 10), dirtOrder(280, 1.1f, 1.1f, 10, 1), 1000, none, 5},
    };
    for (const auto& [what, first, second, lookAfter, combo, speedKmh] : cases) {
        UdpGameStates states;
        takeF1PortDatagram(states, first, t0);
        takeF1PortDatagram(states, second, t0 + std::chrono::milliseconds(50));
        const TelemetrySample sample = overlay(states, t0 + std::chrono::milliseconds(50 + lookAfter));
        EXPECT_EQ(sample.combo, combo) << what;
        EXPECT_EQ(sample.speedKmh, speedKmh) << what;
    }
}
