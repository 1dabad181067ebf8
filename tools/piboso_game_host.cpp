// The host's side of the PiBoSo interface: every block built afresh for each call and spoiled after.
#include "tools/piboso_game_host.h"

#include <bit>
#include <cstdint>
#include <cstring>

namespace {

void storeText(std::vector<std::uint8_t>& block, std::size_t offset, const std::string& text) {
    for (std::size_t i = 0; i < piboso::nameRoom && offset + i < block.size(); ++i)
        block[offset + i] = i < text.size() ? static_cast<std::uint8_t>(text[i]) : 0;
}

void spoil(std::vector<std::uint8_t>& block) {
    std::memset(block.data(), '#', block.size());
}

} // namespace

bool PiBoSoGameHost::identityMatches() const {
    if (!plugin.getModId || !plugin.getModDataVersion || !plugin.getInterfaceVersion || !plugin.startup ||
        !plugin.shutdown)
        return false;
    const char* modId = plugin.getModId();
    return modId && std::strcmp(modId, game.modId) == 0 && plugin.getModDataVersion() == game.dataVersion &&
           plugin.getInterfaceVersion() == game.interfaceVersion;
}

bool PiBoSoGameHost::load() {
    if (!identityMatches()) return false;
    std::string path = savePath;
    rate = plugin.startup(path.data());
    started = rate >= piboso::rate100Hz && rate <= piboso::rate10Hz;
    return started;
}

void PiBoSoGameHost::shutdown() {
    if (!started) return;
    started = false;
    plugin.shutdown();
}

void PiBoSoGameHost::eventInit(const std::string& vehicle, const std::string& track, std::size_t size) {
    if (!started || !plugin.eventInit) return;
    std::vector<std::uint8_t> block(size ? size : game.eventInitSize);
    // Every other field holds something: the rider's name, the category, the track id, the
    // server's name, and whatever a newer build adds past the end.
    for (std::size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<std::uint8_t>('A' + i % 26);
    storeText(block, game.vehicleName, vehicle);
    storeText(block, game.trackName, track);
    plugin.eventInit(block.data(), static_cast<int>(block.size()));
    spoil(block);
}

void PiBoSoGameHost::eventDeinit() {
    if (started && plugin.eventDeinit) plugin.eventDeinit();
}

void PiBoSoGameHost::runInit() {
    if (!started || !plugin.runInit) return;
    std::vector<std::uint8_t> block(64, 0x5A);
    plugin.runInit(block.data(), static_cast<int>(block.size()));
}

void PiBoSoGameHost::runDeinit() {
    if (started && plugin.runDeinit) plugin.runDeinit();
}

void PiBoSoGameHost::runStart() {
    if (started && plugin.runStart) plugin.runStart();
}

void PiBoSoGameHost::runStop() {
    if (started && plugin.runStop) plugin.runStop();
}

void PiBoSoGameHost::telemetry(float metresPerSecond) {
    if (!started || !plugin.runTelemetry) return;
    std::vector<std::uint8_t> block(hostTelemetrySize);
    // The engine's revs and the rest around the speed: none of them is the speed.
    for (std::size_t offset = 0; offset + 4 <= block.size(); offset += 4) {
        const auto bits = std::bit_cast<std::uint32_t>(offset == piboso::telemetrySpeed ? metresPerSecond
                                                                                        : 9000.0f + offset);
        for (std::size_t i = 0; i < 4; ++i)
            block[offset + i] = static_cast<std::uint8_t>(bits >> (8 * i));
    }
    plugin.runTelemetry(block.data(), static_cast<int>(block.size()), 12.5f, 0.25f);
    spoil(block);
}

void PiBoSoGameHost::raceEvent(int type) {
    if (!started || !plugin.raceEvent) return;
    std::vector<std::uint8_t> block(200, 0);
    const auto bits = static_cast<std::uint32_t>(type);
    for (std::size_t i = 0; i < 4; ++i)
        block[piboso::raceEventType + i] = static_cast<std::uint8_t>(bits >> (8 * i));
    plugin.raceEvent(block.data(), static_cast<int>(block.size()));
    spoil(block);
}

int PiBoSoGameHost::telemetryPerSecond() const {
    if (!started) return 0;
    constexpr int perSecond[] = {100, 50, 20, 10};
    return perSecond[rate];
}
