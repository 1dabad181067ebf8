// A firmware on the simulated board, driven by simulated time, with every change of its outputs.
#pragma once

#include "board.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

inline std::string firmwarePath(const char* name) {
    return std::string(VENTORA_FIRMWARE_BUILD "/") + name;
}

struct FirmwareRun {
    explicit FirmwareRun(const char* elfName) : board(firmwarePath(elfName)) {}
    explicit FirmwareRun(const board::BoardSetup& setup) : board(setup) {}

    void runTo(double seconds) {
        board.runUntil(cycleAt(seconds), [this](const board::Outputs& out, std::uint64_t cycle) {
            changes.emplace_back(double(cycle) / board::clockHz, out);
        });
    }
    void feedAt(double seconds, std::uint8_t byte) {
        runTo(seconds);
        board.feed(byte);
    }
    // A byte every 100 ms from start up to (not including) end, as Ventora sends them.
    void feedEvery100ms(double start, double end, std::uint8_t byte) {
        for (int tick = 0; start + tick * 0.1 < end - 1e-9; ++tick)
            feedAt(start + tick * 0.1, byte);
    }
    // A byte every 100 ms, sent at lineBaud: what the USART reads of it at its own rate.
    void feedAtRateEvery100ms(double start, double end, std::uint8_t byte, double lineBaud) {
        for (int tick = 0; start + tick * 0.1 < end - 1e-9; ++tick) {
            runTo(start + tick * 0.1);
            board.feedAtRate(byte, lineBaud);
        }
    }
    // Runs on until the firmware runs, at most until the given time: the time it started, or -1.
    double runUntilFirmwareRuns(double until) {
        for (double t = board.seconds(); t < until; t += 0.001) {
            runTo(t);
            if (board.firmwareRunning()) return board.seconds();
        }
        return -1.0;
    }
    board::Outputs at(double seconds) {
        runTo(seconds);
        return board.outputs();
    }
    // The first change at or after from whose outputs satisfy the condition: its time, or -1.
    template <typename Condition> double firstChangeAfter(double from, Condition condition) const {
        for (const auto& [time, out] : changes)
            if (time >= from && condition(out)) return time;
        return -1.0;
    }

    static std::uint64_t cycleAt(double seconds) { return std::uint64_t(seconds * board::clockHz + 0.5); }

    board::SimulatedBoard board;
    std::vector<std::pair<double, board::Outputs>> changes;
};

// The simulated USART hands a byte to the firmware 11 bit times after it is fed at 16e6 / (16 * 104)
// = 9615 baud (start, 8 data, stop and one more): this is the byte time a fed byte takes.
constexpr double byteSeconds = 11.0 / (16e6 / (16 * 104));

// The firmware counts time in ticks of its millisecond clock, whose phase against a fed byte depends
// on how long its start took: a time it keeps (the failsafe) ends up to one tick late.
constexpr double clockTickSeconds = 0.001;
