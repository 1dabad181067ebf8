// The order of the games Ventora opens: iRacing, then rFactor 2, then Le Mans Ultimate. Le Mans
// Ultimate also runs the rFactor 2 plugin; when both are live it comes last and wins, so the one
// car gives one reading, from the game's own interface.
#include "telemetry/opened/opened_games.h"

#include "telemetry/opened/rfactor2_reader.h"

bool readOpenedGames(const OpenedGameViews& views, IRacingSessionCache& iracingCache,
                     TelemetrySample& sample) {
    readIRacing(views.iracing, iracingCache, sample);
    readRFactor2(views.rf2Scoring, views.rf2Telemetry, sample);
    return readLeMansUltimate(views.lmuData, views.lmuLock, sample);
}
