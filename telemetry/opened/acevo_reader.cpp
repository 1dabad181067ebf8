// The Assetto Corsa EVO reader. The game has no counter or lock around its pages, as Assetto Corsa
// had none: a page being rewritten can give names and a speed from slightly different moments, and
// the next tick reads them afresh.
#include "telemetry/opened/acevo_reader.h"

#include <string_view>

#include "telemetry/opened/opened_game_pages.h"

namespace {

bool holdsLayout(PageView physics, PageView graphics, PageView statics) {
    return physics.size() >= acEvo::physics::size && graphics.size() >= acEvo::graphics::size &&
           statics.size() >= acEvo::statics::size;
}

} // namespace

void readAssettoCorsaEvo(PageView physics, PageView graphics, PageView statics, TelemetrySample& sample) {
    using namespace acEvo;
    if (!holdsLayout(physics, graphics, statics)) return;
    if (loadI32(graphics, graphics::status) != graphics::liveStatus) return;
    sample.combo.clear();
    sample.combo.append(loadText(graphics, graphics::carModel, nameRoom))
        .append(" @ ")
        .append(loadText(statics, statics::track, nameRoom))
        .append(" ")
        .append(loadText(statics, statics::trackConfiguration, nameRoom));
    sample.speedKmh = loadFloat(physics, physics::speedKmh);
    sample.cornerG = 0.0f; // which way its accG points is not known yet
}

std::optional<std::string> acEvoVersionLine(PageView statics, std::string& loggedVersion) {
    using namespace acEvo::statics;
    if (statics.size() < size) return std::nullopt;
    const std::string_view version = loadText(statics, smVersion, smVersionRoom);
    if (version.empty() || version == loggedVersion) return std::nullopt;
    loggedVersion = version;
    return "Assetto Corsa EVO shared memory version: " + loggedVersion;
}
