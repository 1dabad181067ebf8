// The team and track tables of F1 24 and F1 25 (in all three packet formats), as the games number
// them.
#include "telemetry/udp/f1_names.h"

#include <array>
#include <string_view>

namespace {

struct NamedId {
    int id;
    std::string_view name;
};

// Ids 0 to 9 are this season's ten teams; 185 to 194 are the same ten in their 2024 liveries.
constexpr std::array<std::string_view, 10> f1Teams = {
    "Mercedes", "Ferrari", "Red Bull Racing", "Williams", "Aston Martin", "Alpine",
    "RB",       "Haas",    "McLaren",         "Sauber"};
constexpr int f1Teams2024First = 185;

// The eleven teams of 2026 (format 2026 only), named apart from this season's so that a 2026 car
// learns its own top speed.
constexpr std::array<std::string_view, 11> f1Teams2026 = {
    "Mercedes",     "Ferrari", "Red Bull Racing", "Williams", "Aston Martin", "Alpine",
    "Racing Bulls", "Haas",    "McLaren",         "Audi",     "Cadillac"};
constexpr int f1Teams2026First = 476;

// F1 24 carries the F2 teams of 2023, F1 25 those of 2024, each block numbered in this order.
constexpr std::array<std::string_view, 11> f2Teams2023 = {
    "Art GP",  "Campos",        "Carlin", "PHM",     "Dams",
    "Hitech",  "MP Motorsport", "Prema",  "Trident", "Van Amersfoort Racing",
    "Virtuosi"};
constexpr int f2Teams2023First = 143;
constexpr std::array<std::string_view, 11> f2Teams2024 = {
    "Art GP", "Campos",  "Rodin Motorsport",      "AIX Racing", "DAMS", "Hitech", "MP Motorsport",
    "Prema",  "Trident", "Van Amersfoort Racing", "Invicta"};
constexpr int f2Teams2024First = 158;
// Format 2026 adds the F2 teams of 2025, the same eleven as 2024's.
constexpr int f2Teams2025First = 465;

// The teams of the games' story mode and the others that stand alone.
constexpr NamedId otherTeams[] = {{41, "F1 Generic"}, {104, "F1 Custom Team"}, {129, "Konnersport"},
                                  {142, "APXGP '24"}, {154, "APXGP '25"},      {155, "Konnersport '24"}};

constexpr NamedId tracks[] = {{-1, "Unknown"},
                              {0, "Melbourne"},
                              {1, "Paul Ricard"},
                              {2, "Shanghai"},
                              {3, "Sakhir (Bahrain)"},
                              {4, "Catalunya"},
                              {5, "Monaco"},
                              {6, "Montreal"},
                              {7, "Silverstone"},
                              {8, "Hockenheim"},
                              {9, "Hungaroring"},
                              {10, "Spa"},
                              {11, "Monza"},
                              {12, "Singapore"},
                              {13, "Suzuka"},
                              {14, "Abu Dhabi"},
                              {15, "Texas"},
                              {16, "Brazil"},
                              {17, "Austria"},
                              {18, "Sochi"},
                              {19, "Mexico"},
                              {20, "Baku (Azerbaijan)"},
                              {21, "Sakhir Short"},
                              {22, "Silverstone Short"},
                              {23, "Texas Short"},
                              {24, "Suzuka Short"},
                              {25, "Hanoi"},
                              {26, "Zandvoort"},
                              {27, "Imola"},
                              {28, "Portim\xC3\xA3o"},
                              {29, "Jeddah"},
                              {30, "Miami"},
                              {31, "Las Vegas"},
                              {32, "Losail"},
                              {39, "Silverstone (Reverse)"},
                              {40, "Austria (Reverse)"},
                              {41, "Zandvoort (Reverse)"},
                              {42, "Madrid"}};

template <std::size_t size> bool inBlock(const std::array<std::string_view, size>& block, int first, int id) {
    return id >= first && id < first + static_cast<int>(block.size());
}

} // namespace

std::string f1TeamName(int teamId) {
    if (inBlock(f1Teams, 0, teamId)) return std::string(f1Teams[teamId]);
    if (inBlock(f1Teams, f1Teams2024First, teamId))
        return std::string(f1Teams[teamId - f1Teams2024First]) + " '24";
    if (inBlock(f2Teams2023, f2Teams2023First, teamId))
        return std::string(f2Teams2023[teamId - f2Teams2023First]) + " '23";
    if (inBlock(f2Teams2024, f2Teams2024First, teamId))
        return std::string(f2Teams2024[teamId - f2Teams2024First]) + " '24";
    if (inBlock(f2Teams2024, f2Teams2025First, teamId))
        return std::string(f2Teams2024[teamId - f2Teams2025First]) + " '25";
    if (inBlock(f1Teams2026, f1Teams2026First, teamId))
        return std::string(f1Teams2026[teamId - f1Teams2026First]) + " '26";
    for (const NamedId& team : otherTeams)
        if (team.id == teamId) return std::string(team.name);
    return "Team " + std::to_string(teamId);
}

std::string f1TrackName(int trackId) {
    for (const NamedId& track : tracks)
        if (track.id == trackId) return std::string(track.name);
    return "Track " + std::to_string(trackId);
}
