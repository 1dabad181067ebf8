// The readers of rFactor 2 (through its Shared Memory Map plugin) and of Le Mans Ultimate's own
// interface. Both games share one engine and its vehicle layouts; they differ in how a reader
// knows it has a whole page: version counters for rFactor 2, a lock for Le Mans Ultimate.
#pragma once
#include <cstdint>
#include <span>

#include "telemetry/telemetry_sample.h"

// Replaces the sample's combo and speed when rFactor 2 is live (in realtime, not paused) and both
// pages were read whole: neither was being rewritten when read, nor began to be meanwhile.
void readRFactor2(std::span<const std::uint8_t> scoring, std::span<const std::uint8_t> telemetry,
                  TelemetrySample& sample);

// Replaces the sample's combo and speed when Le Mans Ultimate is live. The lock (waiters, then
// busy, two 32-bit values) is only tried, never waited for: while the game holds it, there is no
// sample from this game this tick. It is released as soon as the few fields are copied. A page
// with no lock section (an empty `lock`) is read without one. Returns
// true when someone was waiting for the lock at the release, so that the caller wakes them.
bool readLeMansUltimate(std::span<const std::uint8_t> data, std::span<std::uint8_t> lock,
                        TelemetrySample& sample);
