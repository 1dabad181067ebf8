// The order of the games Ventora opens: iRacing, then rFactor 2, then Le Mans Ultimate, then
// Assetto Corsa EVO, then the trucks, then the karts and bikes. Le Mans Ultimate also runs the rFactor 2
// plugin; when both are live it comes after it and wins, so the one car gives one reading, from the game's
// own interface.
#include "telemetry/opened/opened_games.h"

#include "telemetry/opened/acevo_reader.h"
#include "telemetry/opened/rfactor2_reader.h"

bool readOpenedGames(const OpenedGameViews& views, IRacingSessionCache& iracingCache,
                     TelemetrySample& sample) {
    readIRacing(views.iracing, iracingCache, sample);
    readRFactor2(views.rf2Scoring, views.rf2Telemetry, sample);
    const bool lmuWaiters = readLeMansUltimate(views.lmuData, views.lmuLock, sample);
    readAssettoCorsaEvo(views.acEvoPhysics, views.acEvoGraphics, views.acEvoStatic, sample);
    readTrucks(views.trucks, sample);
    readKartsAndBikes(views.kartsAndBikes, sample);
    return lmuWaiters;
}
