// publish_game: publishes a racing game's telemetry page in shared memory as the game itself would,
// so that the fan can be tried, and Ventora tested, without the game. It keeps the page alive and
// takes further commands on standard input until told to quit.
#include <algorithm>
#include <atomic>
#include <bit>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "win32.h"
#include "telemetry/created/game_pages.h"
#include "telemetry/opened/opened_game_pages.h"
#include "tools/opened_game_writer.h"
#include "tools/page_stores.h"
#include "tools/piboso_game_host.h"
#include "tools/speed_profile.h"
#include "tools/truck_game_host.h"
#include "tools/udp_game_sender.h"

namespace {

constexpr const char* usage = R"(usage: publish_game GAME [options]
       publish_game --event NAME

Publishes GAME's telemetry page as the game would: ac (Assetto Corsa), pcars2 (Project CARS 2)
or r3e (RaceRoom). The page lives until the program quits.

  --car NAME, --track NAME, --layout NAME
                        the names on the page (default "car", "track", "layout")
  --speed KMH           a fixed speed in km/h (default 0)
  --lap SECONDS MIN MAX the speed rises from MIN to MAX km/h and falls back over SECONDS, repeating;
                        the car corners right through the climb and left on the way back, up to
                        1.2 g, each written in the game's own convention
  --corner G            a steady corner instead: G toward the car's right (negative: a left-hand
                        corner), in the games whose cornering Ventora reads
  --not-live            start with the game not live (in its menus)
  --version MAJOR.MINOR RaceRoom's page layout version, such as 1.0, 2.11, 3.1, 3.2, 3.3 or 3.4
                        (default 3.4)
  --section-size BYTES  the size of the sections it creates (default 100000). Ventora cannot map
                        a section smaller than its view; sizes count in whole 4096-byte pages
  --event NAME          hold NAME with a named event instead, so that no section can take that name

Also acr (Assetto Corsa Rally), which writes Assetto Corsa's pages from a process named acr.exe:
publish_game runs a copy of itself under that name (in the temporary folder) unless it has it.
The physics page's packet id counts up while live and stands still while not.
  --status set|unset    whether the graphics page's status is written (2 live, 3 paused), or left
                        at 0 as far as known the game may leave it (default unset)
  --garbled-names       the static page holds something else than names where Assetto Corsa's are

Also iracing (iRacing), rf2 (rFactor 2 through its plugin), lmu (Le Mans Ultimate) and acevo
(Assetto Corsa EVO), whose sections publish_game creates at the game's own size (--section-size
does not apply). rFactor 2 and Le Mans Ultimate have no layout: their combo ends with the track
name; Assetto Corsa EVO's layout is its track configuration.
  --torn                rFactor 2: every rewrite of the pages is left half done
  --lock-held           Le Mans Ultimate: the game holds its lock and never lets go

Also ets2 (Euro Truck Simulator 2) and ats (American Truck Simulator), which publish only to a
plugin: publish_game loads Ventora's plugin (ventora-trucks.dll beside it) as the game does and
plays a truck through it, one frame every 20 ms. The combo is "BRAND CAR @ game".
  --brand NAME          the truck's brand (default "brand"); --car is its name
  --plugin PATH         the plugin DLL to load instead

Also krp (Kart Racing Pro), mxbikes (MX Bikes) and gpbikes (GP Bikes), which also publish only to
a plugin: publish_game loads Ventora's (ventora-krp.dlo, ventora-mxbikes.dlo, ventora-gpbikes.dlo
beside it, or --plugin PATH) as the game does, checks its identity, and plays an event through it:
the kart or bike (--car) on the track (--track), on track and running, telemetry at the rate the
plugin asks for. The combo is "CAR @ TRACK".
  --replay              the event is a replay the player watches

Commands on standard input, one per line; each is answered "ok" once the page holds it:
  speed KMH | lap SECONDS MIN MAX | corner G | live 0|1 | car NAME | track NAME | layout NAME | quit
  torn 0|1 | lock 0|1 (rFactor 2's half-done rewrites, Le Mans Ultimate's lock held)
  brand NAME (the trucks; live 0 pauses the game, live 1 drives on)
  replay 0|1 (the karts and bikes: the event ends and a replay, or a new event, is loaded; car
  and track end the event and start another; live 0 stops the run, live 1 runs on)
  wait-lock MS          Le Mans Ultimate: waits for the lock as the game does when it finds it
                        taken (counted among its waiters, on its event, at most MS milliseconds);
                        answered "woken" when whoever held the lock signalled the event, else
                        "timed out"
"ready" is printed once the page is published. At the end of input, or on quit, the page shows
the game as not live and the program ends.
)";

// Owns a handle (or a view) and gives it back to the system with `release` when done.
template <typename Resource, auto release> class Owned {
  public:
    explicit Owned(Resource resource) : resource_(resource) {}
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    Owned(Owned&& other) noexcept : resource_(std::exchange(other.resource_, nullptr)) {}
    ~Owned() {
        if (resource_) release(resource_);
    }
    Resource get() const { return resource_; }

  private:
    Resource resource_;
};

using UniqueHandle = Owned<HANDLE, CloseHandle>;
using UniqueView = Owned<void*, UnmapViewOfFile>;

// A section created or opened under a game's name, mapped writable in full.
struct Section {
    UniqueHandle handle;
    UniqueView view;
    std::span<std::uint8_t> bytes;
};

[[noreturn]] void fail(const std::string& text) {
    std::fprintf(stderr, "publish_game: %s\n", text.c_str());
    std::exit(1);
}

Section openSection(const char* name, std::uint32_t sizeIfNew) {
    // As a game does: open the section if Ventora (or another game) made it, create it if not.
    UniqueHandle handle(
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeIfNew, name));
    if (!handle.get())
        fail("CreateFileMapping failed for " + std::string(name) + ", error " +
             std::to_string(GetLastError()));
    UniqueView view(MapViewOfFile(handle.get(), FILE_MAP_WRITE, 0, 0, 0));
    if (!view.get())
        fail("MapViewOfFile failed for " + std::string(name) + ", error " + std::to_string(GetLastError()));
    // An existing section can be smaller than the page (or made so with --section-size): writes
    // stop at its end.
    MEMORY_BASIC_INFORMATION region{};
    VirtualQuery(view.get(), &region, sizeof region);
    std::span<std::uint8_t> bytes(static_cast<std::uint8_t*>(view.get()), region.RegionSize);
    return {std::move(handle), std::move(view), bytes};
}

std::u16string toUtf16(std::string_view utf8) {
    if (utf8.empty()) return {};
    const int size = static_cast<int>(utf8.size());
    std::wstring wide(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), static_cast<int>(wide.size()));
    return {wide.begin(), wide.end()};
}

std::string toUtf8(std::wstring_view wide) {
    if (wide.empty()) return {};
    const int size = static_cast<int>(wide.size());
    std::string utf8(WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, utf8.data(), static_cast<int>(utf8.size()), nullptr,
                        nullptr);
    return utf8;
}

// Assetto Corsa's UTF-16 names, cut like 8-bit ones but never inside a surrogate pair.
void storeUtf16(std::span<std::uint8_t> page, std::size_t offset, std::size_t roomUnits,
                std::string_view utf8) {
    std::u16string text = toUtf16(utf8);
    if (text.size() > roomUnits - 1) {
        text.resize(roomUnits - 1);
        if (text.back() >= 0xD800 && text.back() <= 0xDBFF) text.pop_back();
    }
    for (std::size_t unit = 0; unit < roomUnits; ++unit) {
        const char16_t value = unit < text.size() ? text[unit] : u'\0';
        for (std::size_t i = 0; i < 2 && offset + 2 * unit + i < page.size(); ++i)
            page[offset + 2 * unit + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

enum class Game {
    assettoCorsa,
    assettoCorsaRally,
    projectCars2,
    raceRoom,
    iRacing,
    rFactor2,
    leMansUltimate,
    assettoCorsaEvo,
    euroTruck,
    americanTruck,
    kartRacingPro,
    mxBikes,
    gpBikes
};

struct Publication {
    Game game = Game::assettoCorsa;
    std::string car = "car", track = "track", layout = "layout";
    bool live = true;
    SpeedProfile speed;
    std::int32_t r3eMajor = 3, r3eMinor = 4;
    std::uint32_t newSectionSize = sectionSize; // for sections no one has made yet
    bool torn = false, lockHeld = false;
    std::string brand = "brand";
    std::wstring pluginPath; // empty: the game's plugin beside publish_game.exe
    bool replay = false;
    bool rallyStatus = false, garbledNames = false;
    std::optional<float> cornerG; // none: the lap's corners
};

// Standard gravity, for the games that give their accelerations in m/s^2.
constexpr float metresPerSecondSquaredPerG = 9.80665f;

// The metres per second a game would hold for a speed in km/h. Of the floats nearest the quotient,
// one whose product with Ventora's single-precision 3.6 gives the km/h back exactly is preferred,
// so that a speed asked for is the speed Ventora sees.
float metresPerSecond(float kmh) {
    constexpr float kmhPerMetrePerSecond = 3.6f;
    const float quotient = kmh / kmhPerMetrePerSecond;
    for (float candidate :
         {quotient, std::nextafter(quotient, -INFINITY), std::nextafter(quotient, INFINITY)})
        if (candidate * kmhPerMetrePerSecond == kmh) return candidate;
    return quotient;
}

using UniqueModule = Owned<HMODULE, FreeLibrary>;

std::wstring pluginBesideExe(const wchar_t* file = L"ventora-trucks.dll") {
    std::wstring path(MAX_PATH, L'\0');
    path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
    return path.substr(0, path.find_last_of(L"\\/") + 1) + file;
}

// An export of a DLL as the function it is (through void*: FARPROC's own type fits no function).
template <typename Function> Function exported(HMODULE module, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// A truck game: the plugin loaded as the game loads it, and the game's side of the interface.
struct TruckGame {
    UniqueModule plugin;
    TruckGameHost host;
    std::string brand, name;
    bool configured = false, driving = false;

    explicit TruckGame(const Publication& p)
        : plugin(LoadLibraryW((p.pluginPath.empty() ? pluginBesideExe() : p.pluginPath).c_str())) {
        if (!plugin.get()) fail("cannot load the plugin, error " + std::to_string(GetLastError()));
        auto init = exported<game::Init>(plugin.get(), "scs_telemetry_init");
        auto shutdown = exported<game::Shutdown>(plugin.get(), "scs_telemetry_shutdown");
        if (!init || !shutdown) fail("the plugin lacks scs_telemetry_init or scs_telemetry_shutdown");
        if (p.game == Game::americanTruck) {
            host.gameId = "ats";
            host.gameName = "American Truck Simulator";
        }
        host.echoLog = true;
        const game::Result result = host.initNewestFirst(init, shutdown);
        if (result != game::ok) fail("the plugin's init returned " + std::to_string(result));
    }
    ~TruckGame() { host.shutdown(); } // before the DLL goes

    // One frame of the game, after telling the plugin of any change to the truck or to pausing.
    void play(const Publication& p, float kmh, float cornerG) {
        if (!configured || p.brand != brand || p.car != name) {
            configured = true;
            brand = p.brand;
            name = p.car;
            host.configure(brand, name);
        }
        if (p.live != driving) {
            driving = p.live;
            driving ? host.start() : host.pause();
        }
        // The yaw rate that goes with the corner at this speed, in rotations a second.
        const float speed = metresPerSecond(kmh), sideways = cornerG * metresPerSecondSquaredPerG;
        const float yaw = speed > 1.0f ? sideways / speed / (2.0f * 3.14159265f) : 0.0f;
        host.frame(speed, sideways, yaw);
    }
};

// A PiBoSo game: the plugin loaded and checked as the game does, and an event played through it.
struct PiBoSoGame {
    UniqueModule plugin;
    PiBoSoGameHost host;
    std::string vehicle, track;
    bool inEvent = false, replay = false, running = false;
    std::chrono::steady_clock::time_point nextTelemetry{};

    static const wchar_t* pluginFile(Game game) {
        return game == Game::kartRacingPro ? L"ventora-krp.dlo"
               : game == Game::mxBikes     ? L"ventora-mxbikes.dlo"
                                           : L"ventora-gpbikes.dlo";
    }

    explicit PiBoSoGame(const Publication& p)
        : plugin(LoadLibraryW(
              (p.pluginPath.empty() ? pluginBesideExe(pluginFile(p.game)) : p.pluginPath).c_str())) {
        if (!plugin.get()) fail("cannot load the plugin, error " + std::to_string(GetLastError()));
        HMODULE module = plugin.get();
        host.game = p.game == Game::kartRacingPro ? piboso::kartRacingPro
                    : p.game == Game::mxBikes     ? piboso::mxBikes
                                                  : piboso::gpBikes;
        host.plugin = {exported<piboso::GetModId>(module, "GetModID"),
                       exported<piboso::GetModDataVersion>(module, "GetModDataVersion"),
                       exported<piboso::GetInterfaceVersion>(module, "GetInterfaceVersion"),
                       exported<piboso::Startup>(module, "Startup"),
                       exported<piboso::Shutdown>(module, "Shutdown"),
                       exported<piboso::EventInit>(module, "EventInit"),
                       exported<piboso::EventDeinit>(module, "EventDeinit"),
                       exported<piboso::RunInit>(module, "RunInit"),
                       exported<piboso::RunDeinit>(module, "RunDeinit"),
                       exported<piboso::RunStart>(module, "RunStart"),
                       exported<piboso::RunStop>(module, "RunStop"),
                       exported<piboso::RunTelemetry>(module, "RunTelemetry"),
                       exported<piboso::RaceEvent>(module, "RaceEvent")};
        if (!host.identityMatches()) fail("the plugin is not this game's (its identity or exports differ)");
        if (!host.load())
            fail("the plugin's Startup asked to be unloaded (" + std::to_string(host.rate) + ")");
    }
    ~PiBoSoGame() {
        leaveEvent();
        host.shutdown(); // before the DLL goes
    }

    void leaveEvent() {
        if (!inEvent) return;
        if (running) host.runStop();
        host.runDeinit();
        host.eventDeinit();
        inEvent = running = false;
    }

    // One frame of the game: a new event when the kart, the track or the replay changed, the run
    // started or stopped, and the telemetry when its time has come.
    void play(const Publication& p, float kmh, std::chrono::steady_clock::time_point now) {
        if (!inEvent || p.car != vehicle || p.track != track || p.replay != replay) {
            leaveEvent();
            vehicle = p.car;
            track = p.track;
            replay = p.replay;
            if (replay) host.raceEvent(piboso::replayRaceEvent);
            host.eventInit(vehicle, track);
            host.runInit();
            inEvent = true;
        }
        if (p.live != running) {
            running = p.live;
            running ? host.runStart() : host.runStop();
        }
        if (running && now >= nextTelemetry) {
            host.telemetry(metresPerSecond(kmh));
            nextTelemetry = now + std::chrono::microseconds(1000000 / host.telemetryPerSecond());
        }
    }
};

class Publisher {
  public:
    // Le Mans Ultimate's event is made first: whoever finds the lock section finds the event too.
    explicit Publisher(const Publication& publication)
        : publication_(publication), lockEvent_(publication.game == Game::leMansUltimate
                                                    ? CreateEventA(nullptr, FALSE, FALSE, lmu::lockEventName)
                                                    : nullptr) {
        auto open = [&](const char* name) {
            sections_.push_back(openSection(name, publication_.newSectionSize));
        };
        switch (publication_.game) {
        case Game::assettoCorsa:
        case Game::assettoCorsaRally:
            open(acPhysics::sectionName);
            open(acGraphics::sectionName);
            open(acStatic::sectionName);
            break;
        case Game::projectCars2: open(pcars2::sectionName); break;
        case Game::raceRoom: open(r3e::sectionName); break;
        case Game::iRacing: sections_.push_back(openSection(iracing::sectionName, iracingSectionSize)); break;
        case Game::rFactor2:
            sections_.push_back(openSection(rf2::scoring::sectionName, rf2ScoringSectionSize));
            sections_.push_back(openSection(rf2::telemetry::sectionName, rf2TelemetrySectionSize));
            break;
        case Game::leMansUltimate:
            if (!lockEvent_.get())
                fail("CreateEvent failed for " + std::string(lmu::lockEventName) + ", error " +
                     std::to_string(GetLastError()));
            sections_.push_back(openSection(lmu::sectionName, lmuSectionSize()));
            sections_.push_back(openSection(lmu::lockSectionName, lmuLockSectionSize));
            break;
        case Game::assettoCorsaEvo:
            sections_.push_back(openSection(acEvo::physics::sectionName, acEvoPhysicsSectionSize));
            sections_.push_back(openSection(acEvo::graphics::sectionName, acEvoGraphicsSectionSize));
            sections_.push_back(openSection(acEvo::statics::sectionName, acEvoStaticSectionSize));
            break;
        case Game::euroTruck:
        case Game::americanTruck: truck_ = std::make_unique<TruckGame>(publication_); break;
        case Game::kartRacingPro:
        case Game::mxBikes:
        case Game::gpBikes: piboso_ = std::make_unique<PiBoSoGame>(publication_); break;
        }
    }

    // Applies a change and writes the page at once, so that the page holds it when this returns.
    template <typename Change> void change(Change&& apply) {
        std::lock_guard lock(mutex_);
        apply(publication_);
        writePage(std::chrono::steady_clock::now());
    }

    void refresh() {
        change([](Publication&) {});
    }

    // Le Mans Ultimate's wait for its lock: one more waiter, asleep on the event until a holder
    // that sees waiters signals it as it lets go. The page's writer goes on meanwhile.
    std::optional<bool> waitForLock(DWORD milliseconds) {
        if (publication_.game != Game::leMansUltimate) return std::nullopt;
        auto* waiters = reinterpret_cast<volatile LONG*>(sections_[1].bytes.data() + lmu::lockWaiters);
        InterlockedIncrement(waiters);
        const DWORD result = WaitForSingleObject(lockEvent_.get(), milliseconds);
        InterlockedDecrement(waiters);
        return result == WAIT_OBJECT_0;
    }

  private:
    void writePage(std::chrono::steady_clock::time_point now) {
        const Publication& p = publication_;
        const float kmh = p.speed.at(now);
        const float cornerG = cornerGAt(p.speed, p.cornerG, now);
        switch (p.game) {
        case Game::assettoCorsa: {
            std::span<std::uint8_t> physics = sections_[0].bytes, graphics = sections_[1].bytes,
                                    statics = sections_[2].bytes;
            storeUtf16(statics, acStatic::carName, acStatic::carNameRoom, p.car);
            storeUtf16(statics, acStatic::trackName, acStatic::trackNameRoom, p.track);
            storeUtf16(statics, acStatic::layoutName, acStatic::layoutNameRoom, p.layout);
            storeFloat(physics, acPhysics::speedKmh, kmh);
            storeFloat(physics, acPhysics::lateralG, -cornerG); // positive while turning left
            storeU32(graphics, acGraphics::state, p.live ? acGraphics::liveState : acGraphics::offState);
            break;
        }
        case Game::assettoCorsaRally: writeRallyPages(p, kmh); break;
        case Game::projectCars2: {
            std::span<std::uint8_t> page = sections_[0].bytes;
            storeText(page, pcars2::carName, pcars2::carNameRoom, p.car);
            storeText(page, pcars2::trackName, pcars2::trackNameRoom, p.track);
            storeText(page, pcars2::layoutName, pcars2::layoutNameRoom, p.layout);
            storeFloat(page, pcars2::speedMetresPerSecond, metresPerSecond(kmh));
            storeFloat(page, pcars2::localAccelerationX, -cornerG * metresPerSecondSquaredPerG); // +x left
            storeU32(page, pcars2::state, p.live ? pcars2::liveState : pcars2::frontEndState);
            break;
        }
        case Game::raceRoom: {
            std::span<std::uint8_t> page = sections_[0].bytes;
            const r3e::Layout& fields = r3e::layoutFor(p.r3eMajor, p.r3eMinor);
            storeU32(page, r3e::majorVersion, static_cast<std::uint32_t>(p.r3eMajor));
            storeU32(page, r3e::minorVersion, static_cast<std::uint32_t>(p.r3eMinor));
            storeText(page, fields.carName, fields.carNameRoom, p.car);
            storeText(page, fields.trackName, fields.trackNameRoom, p.track);
            storeText(page, fields.layoutName, fields.layoutNameRoom, p.layout);
            storeFloat(page, fields.speedMetresPerSecond, metresPerSecond(kmh));
            if (&fields != &r3e::layoutV1)
                storeFloat(page, fields.speedMetresPerSecond + r3e::localAccelerationXAfterSpeed,
                           -cornerG * metresPerSecondSquaredPerG); // +X left
            storeU32(page, fields.state, p.live ? r3e::liveState : r3e::garageState);
            break;
        }
        case Game::iRacing: opened_.writeIRacing(sections_[0].bytes, openedPage(kmh, cornerG)); break;
        case Game::rFactor2:
            opened_.writeRFactor2(sections_[0].bytes, sections_[1].bytes, openedPage(kmh, cornerG));
            break;
        case Game::leMansUltimate:
            opened_.writeLeMansUltimate(sections_[0].bytes, sections_[1].bytes, openedPage(kmh, cornerG));
            break;
        case Game::assettoCorsaEvo:
            opened_.writeAssettoCorsaEvo(sections_[0].bytes, sections_[1].bytes, sections_[2].bytes,
                                         openedPage(kmh, cornerG));
            break;
        case Game::euroTruck:
        case Game::americanTruck: truck_->play(p, kmh, cornerG); break;
        case Game::kartRacingPro:
        case Game::mxBikes:
        case Game::gpBikes: piboso_->play(p, kmh, now); break;
        }
    }

    // Assetto Corsa's layout, with what is known of the rally game: the physics runs while live.
    void writeRallyPages(const Publication& p, float kmh) {
        std::span<std::uint8_t> physics = sections_[0].bytes, graphics = sections_[1].bytes,
                                statics = sections_[2].bytes;
        if (p.garbledNames) {
            // Room after room of control characters and non-characters, with no terminator.
            for (std::size_t at = acStatic::carName;
                 at + 1 < statics.size() && at < acStatic::layoutName + 72; at += 2)
                statics[at] = statics[at + 1] = at % 4 ? 0x07 : 0xFF;
        } else {
            storeUtf16(statics, acStatic::carName, acStatic::carNameRoom, p.car);
            storeUtf16(statics, acStatic::trackName, acStatic::trackNameRoom, p.track);
            storeUtf16(statics, acStatic::layoutName, acStatic::layoutNameRoom, p.layout);
        }
        if (p.live) {
            ++rallyPacketId_;
            storeFloat(physics, acPhysics::speedKmh, kmh);
        }
        storeU32(physics, acPhysics::packetId, rallyPacketId_);
        constexpr std::uint32_t pausedStatus = 3;
        storeU32(graphics, acGraphics::state,
                 p.rallyStatus ? (p.live ? acGraphics::liveState : pausedStatus) : acGraphics::offState);
    }

    OpenedGamePage openedPage(float kmh, float cornerG) const {
        const Publication& p = publication_;
        OpenedGamePage page{p.car, p.track, p.layout, kmh, metresPerSecond(kmh), p.live, p.torn, p.lockHeld};
        page.cornerG = cornerG;
        return page;
    }

    std::mutex mutex_;
    Publication publication_;
    UniqueHandle lockEvent_; // Le Mans Ultimate's, signalled to wake the lock's waiters
    std::vector<Section> sections_;
    OpenedGameWriter opened_;
    std::unique_ptr<TruckGame> truck_;
    std::unique_ptr<PiBoSoGame> piboso_;
    std::uint32_t rallyPacketId_ = 0;
};

bool parseVersion(std::string_view text, std::int32_t& major, std::int32_t& minor) {
    const std::size_t dot = text.find('.');
    const std::string_view majorText = text.substr(0, dot);
    const std::string_view minorText = dot == std::string_view::npos ? "0" : text.substr(dot + 1);
    auto parsed = [](std::string_view part, std::int32_t& value) {
        auto [end, error] = std::from_chars(part.data(), part.data() + part.size(), value);
        return error == std::errc() && end == part.data() + part.size();
    };
    return parsed(majorText, major) && parsed(minorText, minor);
}

void reply(const char* text) {
    std::printf("%s\n", text);
    std::fflush(stdout);
}

// One command line from standard input. Returns false on quit.
bool runCommand(Publisher& publisher, const std::string& line) {
    const std::size_t space = line.find(' ');
    const std::string verb = line.substr(0, space);
    const std::string argument = space == std::string::npos ? "" : line.substr(space + 1);
    if (verb == "quit") return false;

    bool understood = true;
    if (verb == "brand") {
        publisher.change([&](Publication& p) { p.brand = argument; });
    } else if (verb == "car") {
        publisher.change([&](Publication& p) { p.car = argument; });
    } else if (verb == "track") {
        publisher.change([&](Publication& p) { p.track = argument; });
    } else if (verb == "layout") {
        publisher.change([&](Publication& p) { p.layout = argument; });
    } else if (verb == "speed") {
        const auto kmh = parseNumber(argument);
        understood = kmh.has_value();
        if (kmh) publisher.change([&](Publication& p) { p.speed = fixedSpeed(static_cast<float>(*kmh)); });
    } else if (verb == "corner") {
        const auto g = parseNumber(argument);
        understood = g.has_value();
        if (g) publisher.change([&](Publication& p) { p.cornerG = static_cast<float>(*g); });
    } else if (verb == "live" && (argument == "0" || argument == "1")) {
        publisher.change([&](Publication& p) { p.live = argument == "1"; });
    } else if (verb == "replay" && (argument == "0" || argument == "1")) {
        publisher.change([&](Publication& p) { p.replay = argument == "1"; });
    } else if ((verb == "torn" || verb == "lock") && (argument == "0" || argument == "1")) {
        publisher.change([&](Publication& p) { (verb == "torn" ? p.torn : p.lockHeld) = argument == "1"; });
    } else if (verb == "wait-lock") {
        const auto milliseconds = parseNumber(argument);
        const std::optional<bool> woken = milliseconds && *milliseconds >= 0 && *milliseconds <= 600000
                                              ? publisher.waitForLock(static_cast<DWORD>(*milliseconds))
                                              : std::nullopt;
        if (woken) {
            reply(*woken ? "woken" : "timed out");
            return true;
        }
        understood = false;
    } else if (verb == "lap") {
        std::istringstream numbers(argument);
        const std::vector<std::string> words(std::istream_iterator<std::string>(numbers), {});
        SpeedProfile lap;
        understood = parseLap(words, lap);
        if (understood) publisher.change([&](Publication& p) { p.speed = lap; });
    } else {
        understood = false;
    }
    reply(understood ? "ok" : "error: not understood");
    return true;
}

// Reads commands until quit or the end of input. Lines may end in CR LF.
void readCommands(const std::function<bool(const std::string&)>& run) {
    std::string line;
    while (std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        if (!run(line)) break;
    }
}

int holdWithEvent(const std::string& name) {
    UniqueHandle event(CreateEventA(nullptr, TRUE, FALSE, name.c_str()));
    if (!event.get()) fail("CreateEvent failed for " + name + ", error " + std::to_string(GetLastError()));
    reply("ready");
    readCommands([](const std::string& line) {
        if (line == "quit") return false;
        reply("error: only quit while holding a name");
        return true;
    });
    return 0;
}

int publish(const Publication& publication) {
    Publisher publisher(publication);
    publisher.refresh();

    // A lap profile moves the speed between commands; a game rewrites its page many times a second.
    std::atomic<bool> quitting = false;
    std::thread pacer([&] {
        while (!quitting) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            publisher.refresh();
        }
    });
    reply("ready");
    readCommands([&](const std::string& line) { return runCommand(publisher, line); });
    quitting = true;
    pacer.join();

    // As a game that closes leaves its page: not live, for Ventora to see on its next tick.
    publisher.change([](Publication& p) { p.live = false; });
    return 0;
}

// Assetto Corsa Rally is told apart by its process's name: unless this is a copy named acr.exe, one
// is made in the temporary folder (in the game's own folder shape) and run with the same arguments
// and standard handles; it ends with this process, which a job sees to even when this one is killed.
std::optional<int> runAsRallyProcess() {
    std::wstring self(MAX_PATH, L'\0');
    self.resize(GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size())));
    const std::wstring name = self.substr(self.find_last_of(L"\\/") + 1);
    if (lstrcmpiW(name.c_str(), acRally::processName) == 0) return std::nullopt;
    std::wstring folder(MAX_PATH, L'\0');
    folder.resize(GetTempPathW(static_cast<DWORD>(folder.size()), folder.data()));
    for (const wchar_t* part : {L"Assetto Corsa Rally", L"\\acr", L"\\Binaries", L"\\Win64"}) {
        folder += part;
        CreateDirectoryW(folder.c_str(), nullptr);
    }
    const std::wstring copy = folder + L"\\" + acRally::processName;
    if (!CopyFileW(self.c_str(), copy.c_str(), FALSE))
        fail("cannot copy publish_game to " + toUtf8(copy) + ", error " + std::to_string(GetLastError()));

    UniqueHandle job(CreateJobObjectW(nullptr, nullptr));
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    for (auto [which, slot] :
         {std::pair{STD_INPUT_HANDLE, &startup.hStdInput}, std::pair{STD_OUTPUT_HANDLE, &startup.hStdOutput},
          std::pair{STD_ERROR_HANDLE, &startup.hStdError}}) {
        *slot = GetStdHandle(which);
        SetHandleInformation(*slot, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    }
    std::wstring commandLine = GetCommandLineW();
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(copy.c_str(), commandLine.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr,
                        nullptr, &startup, &process))
        fail("cannot start " + toUtf8(copy) + ", error " + std::to_string(GetLastError()));
    AssignProcessToJobObject(job.get(), process.hProcess);
    ResumeThread(process.hThread);
    CloseHandle(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}

[[noreturn]] void badUsage(const std::string& text) {
    std::fprintf(stderr, "publish_game: %s\n\n%s", text.c_str(), usage);
    std::exit(2);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    // Wide arguments, so that names outside the console's code page arrive intact as UTF-8.
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i)
        args.push_back(toUtf8(argv[i]));

    if (args.empty()) badUsage("no game given");
    if (args[0] == "--help" || args[0] == "-h") {
        std::printf("%s%s", usage, udpGameUsage);
        return 0;
    }
    if (args[0] == "--event") {
        if (args.size() != 2) badUsage("--event takes one name");
        return holdWithEvent(args[1]);
    }

    if (isUdpGame(args[0])) return sendUdpGame(args);

    Publication publication;
    if (args[0] == "ac")
        publication.game = Game::assettoCorsa;
    else if (args[0] == "acr")
        publication.game = Game::assettoCorsaRally;
    else if (args[0] == "pcars2")
        publication.game = Game::projectCars2;
    else if (args[0] == "r3e")
        publication.game = Game::raceRoom;
    else if (args[0] == "iracing")
        publication.game = Game::iRacing;
    else if (args[0] == "rf2")
        publication.game = Game::rFactor2;
    else if (args[0] == "lmu")
        publication.game = Game::leMansUltimate;
    else if (args[0] == "acevo")
        publication.game = Game::assettoCorsaEvo;
    else if (args[0] == "ets2")
        publication.game = Game::euroTruck;
    else if (args[0] == "ats")
        publication.game = Game::americanTruck;
    else if (args[0] == "krp")
        publication.game = Game::kartRacingPro;
    else if (args[0] == "mxbikes")
        publication.game = Game::mxBikes;
    else if (args[0] == "gpbikes")
        publication.game = Game::gpBikes;
    else
        badUsage("unknown game " + args[0]);

    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& option = args[i];
        auto value = [&](std::size_t count) {
            if (i + count >= args.size()) badUsage(option + " needs " + std::to_string(count) + " value(s)");
            std::span<const std::string> values(args.data() + i + 1, count);
            i += count;
            return values;
        };
        if (option == "--car")
            publication.car = value(1)[0];
        else if (option == "--track")
            publication.track = value(1)[0];
        else if (option == "--layout")
            publication.layout = value(1)[0];
        else if (option == "--brand")
            publication.brand = value(1)[0];
        else if (option == "--plugin") {
            const std::u16string path = toUtf16(value(1)[0]);
            publication.pluginPath.assign(path.begin(), path.end());
        } else if (option == "--not-live")
            publication.live = false;
        else if (option == "--torn")
            publication.torn = true;
        else if (option == "--lock-held")
            publication.lockHeld = true;
        else if (option == "--replay")
            publication.replay = true;
        else if (option == "--garbled-names")
            publication.garbledNames = true;
        else if (option == "--status") {
            const std::string& status = value(1)[0];
            if (status != "set" && status != "unset") badUsage("--status takes set or unset");
            publication.rallyStatus = status == "set";
        } else if (option == "--speed") {
            const auto kmh = parseNumber(value(1)[0]);
            if (!kmh) badUsage("--speed needs a number");
            publication.speed = fixedSpeed(static_cast<float>(*kmh));
        } else if (option == "--lap") {
            if (!parseLap(value(3), publication.speed)) badUsage("--lap needs SECONDS MIN MAX");
        } else if (option == "--corner") {
            const auto g = parseNumber(value(1)[0]);
            if (!g) badUsage("--corner needs a number");
            publication.cornerG = static_cast<float>(*g);
        } else if (option == "--version") {
            if (!parseVersion(value(1)[0], publication.r3eMajor, publication.r3eMinor))
                badUsage("--version needs MAJOR.MINOR");
        } else if (option == "--section-size") {
            const auto bytes = parseNumber(value(1)[0]);
            if (!bytes || *bytes < 1 || *bytes > 0xFFFFFFFF) badUsage("--section-size needs a byte count");
            publication.newSectionSize = static_cast<std::uint32_t>(*bytes);
        } else
            badUsage("unknown option " + option);
    }
    if (publication.game == Game::assettoCorsaRally)
        if (const std::optional<int> code = runAsRallyProcess()) return *code;
    return publish(publication);
}
