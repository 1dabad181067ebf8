// The speed a stand-in game drives at, for every game publish_game plays: fixed, or a lap.
#pragma once
#include <charconv>
#include <chrono>
#include <cmath>
#include <optional>
#include <span>
#include <string>
#include <string_view>

// A speed that is fixed, or follows a lap: up from min to max in the first half of the lap, down
// again in the second, over and over.
struct SpeedProfile {
    float fixedKmh = 0.0f;
    double lapSeconds = 0.0; // 0 for a fixed speed
    float minKmh = 0.0f, maxKmh = 0.0f;
    std::chrono::steady_clock::time_point lapStart;

    float at(std::chrono::steady_clock::time_point now) const {
        if (lapSeconds <= 0.0) return fixedKmh;
        const double lapTime = std::chrono::duration<double>(now - lapStart).count();
        const double phase = std::fmod(lapTime, lapSeconds) / lapSeconds;
        const double rise = phase < 0.5 ? 2.0 * phase : 2.0 * (1.0 - phase);
        return static_cast<float>(minKmh + (maxKmh - minKmh) * rise);
    }
};

// The car's cornering in g toward its right (a right-hand corner positive): the one asked for, or
// else, on a lap, a right-hand corner through the first half (the climb) and a left-hand one
// through the second, peaking at lapCornerPeakG; on a fixed speed, straight.
inline constexpr float lapCornerPeakG = 1.2f;

inline float cornerGAt(const SpeedProfile& speed, std::optional<float> fixedCornerG,
                       std::chrono::steady_clock::time_point now) {
    if (fixedCornerG) return *fixedCornerG;
    if (speed.lapSeconds <= 0.0) return 0.0f;
    const double lapTime = std::chrono::duration<double>(now - speed.lapStart).count();
    const double phase = std::fmod(lapTime, speed.lapSeconds) / speed.lapSeconds;
    return static_cast<float>(lapCornerPeakG * std::sin(2.0 * 3.14159265358979 * phase));
}

inline SpeedProfile fixedSpeed(float kmh) {
    SpeedProfile speed;
    speed.fixedKmh = kmh;
    return speed;
}

inline std::optional<double> parseNumber(std::string_view text) {
    double value = 0.0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

// Reads a lap profile's three numbers (seconds, low km/h, high km/h); the lap starts now.
inline bool parseLap(std::span<const std::string> words, SpeedProfile& speed) {
    if (words.size() != 3) return false;
    const auto seconds = parseNumber(words[0]), low = parseNumber(words[1]), high = parseNumber(words[2]);
    if (!seconds || !low || !high || *seconds <= 0.0) return false;
    speed.lapSeconds = *seconds;
    speed.minKmh = static_cast<float>(*low);
    speed.maxKmh = static_cast<float>(*high);
    speed.lapStart = std::chrono::steady_clock::now();
    return true;
}
