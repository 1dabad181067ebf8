// Preparing an image and writing it to the board.
#include "board_setup/flash_command.h"

#include <atomic>
#include <cstdio>
#include <optional>

#include "win32.h"
#include "board_setup/board_link.h"
#include "board_setup/console.h"
#include "board_setup/firmware_images.h"
#include "board_setup/intel_hex.h"
#include "board_setup/kind_choice.h"
#include "board_setup/stk500.h"
#include "board_setup/ventora_aside.h"
#include "board_setup/write_stop.h"

namespace {

std::string builtInImage(const OutputKind& kind) {
    HRSRC resource = FindResourceA(nullptr, MAKEINTRESOURCEA(FIRMWARE_HEX_BASE + kind.variant),
                                   MAKEINTRESOURCEA(10) /* RT_RCDATA */);
    HGLOBAL loaded = resource ? LoadResource(nullptr, resource) : nullptr;
    const char* text = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
    return text ? std::string(text, SizeofResource(nullptr, resource)) : std::string();
}

// Every kind's image this tool carries, read: what a write cut short is matched against.
std::vector<BuiltInImage> builtInImages() {
    std::vector<BuiltInImage> images;
    for (const OutputKind& kind : outputKinds) {
        HexReading reading = readIntelHex(builtInImage(kind));
        if (reading.error.empty()) images.push_back({kind, std::move(reading.image.bytes)});
    }
    return images;
}

std::optional<std::string> readTextFile(const std::string& path) {
    FILE* file = nullptr;
    if (fopen_s(&file, path.c_str(), "rb") != 0 || !file) return std::nullopt;
    std::string text;
    char chunk[4096];
    for (std::size_t count; (count = std::fread(chunk, 1, sizeof chunk, file)) > 0;)
        text.append(chunk, count);
    std::fclose(file);
    return text;
}

// Reads and tunes the image a flash writes: a built-in one of the kind, or the request's file.
// The reason it cannot, ending with "Nothing was written.", is in problem.
std::optional<FlashImage> prepareImage(const FlashRequest& request, const OutputKind& kind,
                                       std::string& imageName, std::string& problem) {
    std::string text;
    if (request.hexPath.empty()) {
        imageName = kind.imageFile;
        text = builtInImage(kind);
        if (text.empty()) {
            problem = "this ventora-board.exe holds no " + imageName + ": it was built without the firmware";
            return std::nullopt;
        }
    } else {
        imageName = request.hexPath;
        const auto file = readTextFile(request.hexPath);
        if (!file) {
            problem = "cannot read " + request.hexPath;
            return std::nullopt;
        }
        text = *file;
    }
    HexReading reading = readIntelHex(text);
    if (!reading.error.empty()) {
        problem = imageName + ": " + reading.error + ". Nothing was written.";
        return std::nullopt;
    }
    const std::string tuneProblem = applyTunables(reading.image.bytes, request.changes);
    if (!tuneProblem.empty()) {
        problem = tuneProblem + ". Nothing was written.";
        return std::nullopt;
    }
    // The firmware would run its defaults in place of a block that is not whole, not what the user
    // asked for. A built-in image is also checked to be the kind asked for.
    const std::uint8_t variant = request.hexPath.empty() ? kind.variant : 0;
    const std::string wholeProblem = blockProblem(reading.image.bytes, variant);
    if (!wholeProblem.empty()) {
        problem = imageName + ": " + wholeProblem + ". Nothing was written.";
        return std::nullopt;
    }
    if (reading.image.end() > bootloaders[0].start) {
        char text[300];
        std::snprintf(
            text, sizeof text,
            "%s is too large: it ends at 0x%04zX, and the flash below the bootloader ends at 0x%04X "
            "(%u bytes). Nothing was written.",
            imageName.c_str(), reading.image.end(), bootloaders[0].start, bootloaders[0].start);
        problem = text;
        return std::nullopt;
    }
    return std::move(reading.image);
}

// Whether the request's file or tunables are refused whatever the board runs: then nothing is
// opened. Without --output, --esc or --hex the kind is the board's, not known yet, so only what
// no kind would take counts (a value out of every range, a file that does not read).
bool refusedBeforeOpening(const FlashRequest& request) {
    std::string imageName;
    std::string problem;
    if (!request.hexPath.empty() || request.kindChosen) {
        if (prepareImage(request, request.kind, imageName, problem)) return false;
    } else {
        std::string firstProblem;
        for (const OutputKind& kind : outputKinds) {
            if (prepareImage(request, kind, imageName, problem)) return false;
            if (firstProblem.empty()) firstProblem = problem;
        }
        problem = firstProblem;
    }
    complain("%s", problem.c_str());
    return true;
}

std::string imageTitle(const FlashImage& image, const std::string& imageName) {
    const TunablesReading reading = readTunables(image.bytes);
    if (!reading.tunables) return imageName;
    char text[120];
    std::snprintf(text, sizeof text, "Ventora firmware %u.%u.%u for %s", reading.tunables->version[0],
                  reading.tunables->version[1], reading.tunables->version[2],
                  variantName(reading.tunables->variant));
    return text;
}

// Whether the board may be written: what it holds now is nothing, Ventora's firmware, a flash of
// ours cut short, or a program the user has said to replace. A rig often holds other Arduinos (a
// dashboard, shift lights, a button box), and a wrong port must not cost one its program. Says why
// not, and leaves programming mode, when it may not.
// The board's first pages, read to decide, come back in firstPages.
bool mayWriteBoard(Board& board, const FlashRequest& request, std::vector<std::uint8_t>& firstPages) {
    const auto flash = readFirstPages(board.link);
    if (!flash) {
        stk500::leave(board.link);
        complain("the flash of the board on COM%d could not be read, so what it holds is not known. Nothing "
                 "was written.",
                 request.port);
        return false;
    }
    firstPages = *flash;
    switch (classifyFlash(*flash)) {
    case FlashContents::empty:
    case FlashContents::ventoraFirmware: return true;
    case FlashContents::cutShort:
        say("It holds a flash of Ventora's firmware that was cut short: writing it whole.\n");
        return true;
    case FlashContents::anotherProgram: break;
    }
    if (request.replace) {
        say("It holds another program, not Ventora's firmware: replacing it, as asked.\n");
        return true;
    }
    stk500::leave(board.link);
    complain(
        "the board on COM%d holds another program, not Ventora's firmware, and a flash would replace it. "
        "Is it the fan board? A new Uno or Nano comes with a sketch that blinks its LED, which is fine to "
        "replace; a board that drives something else on your rig is not. To replace it, run: "
        "ventora-board flash COM%d --replace. Nothing was written.",
        request.port, request.port);
    return false;
}

// How a write came to stop before its end.
enum class Stop { unplugged, consoleClosed, readBackWrong };

// What the board runs after a write that did not finish, and what to do.
std::string whatTheBoardRuns(stk500::BoardLeft left, Stop stop) {
    const std::string again = stop == Stop::unplugged ? " Plug it back in and run the same command again."
                                                      : " Run the same command again.";
    switch (left) {
    case stk500::BoardLeft::asItWas: return "Nothing was written: the board runs what it ran before." + again;
    case stk500::BoardLeft::runsNothing:
        return "The board is safe with its fans off: once its bootloader lets go (a second or two), it runs "
               "only "
               "a page that switches a motor shield's own PWM chip off, and every pin is an input." +
               again;
    case stk500::BoardLeft::unsure:
    case stk500::BoardLeft::theImage: break;
    }
    return std::string(stop == Stop::readBackWrong
                           ? "Its first page could not be made to run nothing either, so the board"
                           : "It stopped while the board's first page was being written, so the board") +
           " may run part of a program: keep the fans' power off until you have run the same command again."
           " A first page left half-written no longer reads as Ventora's, so if it then says the board holds"
           " another program, add --replace.";
}

// A console stop (Ctrl+C, Ctrl+Break, the window closed) while a write goes on: the handler asks
// the write to stop where the board runs nothing, and waits until the writing thread has said so.
std::atomic<int> flashingPort{0};
WriteStop writeStop;

BOOL WINAPI onStopWhileWriting(DWORD) {
    if (stopWriteAndWait(writeStop, stopWaitLimit) == StopWait::waitedOut)
        complain("stopped while writing COM%d. %s", flashingPort.load(),
                 whatTheBoardRuns(stk500::BoardLeft::unsure, Stop::consoleClosed).c_str());
    return FALSE; // the tool ends, after the handlers registered before this one
}

// From the first page written until the write's outcome has been said, however it ends: a console
// stop waits for this.
struct WriteUnderWay {
    explicit WriteUnderWay(int port) {
        flashingPort = port;
        beginWrite(writeStop);
        SetConsoleCtrlHandler(onStopWhileWriting, TRUE);
    }
    WriteUnderWay(const WriteUnderWay&) = delete;
    WriteUnderWay& operator=(const WriteUnderWay&) = delete;
    ~WriteUnderWay() {
        SetConsoleCtrlHandler(onStopWhileWriting, FALSE);
        endWrite(writeStop);
    }
};

// What the flash writes, said before it starts: the kind kept, chosen for lack of one, or changed.
void sayKind(const KindChoice& choice) {
    switch (choice.why) {
    case KindChoice::asked: break;
    case KindChoice::kept:
        say("It runs Ventora's firmware for %s: writing that kind again (--output names another).\n",
            choice.kind.shortName);
        break;
    case KindChoice::defaulted:
        say("It names no kind of Ventora's firmware to keep: writing the one for %s (--output %s); --output "
            "names another: %s.\n",
            choice.kind.shortName, choice.kind.option, outputKindOptions());
        break;
    case KindChoice::resumed:
        say("Its write cut short was of the firmware for %s: writing that kind again (--output names "
            "another).\n",
            choice.kind.shortName);
        break;
    case KindChoice::unknown: break; // refused, in the caller's words
    case KindChoice::changed:
        say("Changing the kind of firmware it runs, as asked: was %s, now %s.\n", choice.was->option,
            choice.kind.option);
        break;
    }
}

} // namespace

bool flashBoard(const FlashRequest& request, FirmwareTunables* written) {
    if (refusedBeforeOpening(request)) return false;

    waitForFailsafe(request.port);
    const ULONGLONG started = GetTickCount64();
    say("Looking for the bootloader on COM%d...\n", request.port);
    Board board;
    const std::string problem = reachBootloader(describeComPort(request.port), board);
    if (!problem.empty()) {
        complain("%s Nothing was written.", problem.c_str());
        return false;
    }
    say("Found an ATmega328P, %s at %lu baud.\n", board.bootloader->name,
        static_cast<unsigned long>(board.bootloader->baudRate));
    std::vector<std::uint8_t> firstPages;
    if (!mayWriteBoard(board, request, firstPages)) return false;
    // Without --output, --esc or --hex, the kind the board runs: a shield board retuned must not get
    // the 4-pin fans' pins.
    OutputKind kind = request.kind;
    if (request.hexPath.empty()) {
        // Only a board whose page 0 names no kind may be a write of ours cut short and need the
        // images read: the flash of every other board goes on at once.
        const FlashContents contents = classifyFlash(firstPages);
        const bool mayBeCutShort =
            contents == FlashContents::cutShort || contents == FlashContents::anotherProgram;
        const KindChoice choice =
            chooseOutputKind(request.kindChosen ? std::optional(request.kind) : std::nullopt, firstPages,
                             mayBeCutShort ? builtInImages() : std::vector<BuiltInImage>{});
        if (choice.why == KindChoice::unknown) {
            stk500::leave(board.link);
            complain(
                "the board on COM%d holds a write cut short whose kind of firmware no page of it says (an "
                "upgrade from an earlier version, say). Run the flash again with --output and the kind its "
                "fans are wired for, one of: %s. Nothing was written; the board is safe with its fans off.",
                request.port, outputKindOptions());
            return false;
        }
        sayKind(choice);
        kind = choice.kind;
    }
    // A built-in image takes the board's own tunables (its tuning, its left fan), then the ones the
    // command line gives. A block the firmware would not run is no tuning to keep.
    FlashRequest tuned = request;
    const TunablesReading onBoard = readTunables(firstPages);
    if (request.hexPath.empty() && onBoard.tunables && blockProblem(firstPages, 0).empty()) {
        std::vector<TunableChange> kept = keptTunables(*onBoard.tunables, kind.variant);
        say("It keeps its tunables (those given here go over them).\n");
        kept.insert(kept.end(), request.changes.begin(), request.changes.end());
        tuned.changes = kept;
    }
    std::string imageName;
    std::string imageProblem;
    const std::optional<FlashImage> image = prepareImage(tuned, kind, imageName, imageProblem);
    if (!image) {
        stk500::leave(board.link);
        complain("%s", imageProblem.c_str());
        return false;
    }
    const std::string title = imageTitle(*image, imageName);
    if (image->end() > board.bootloader->start) {
        stk500::leave(board.link);
        complain("%s is too large: it ends at 0x%04zX, and the flash below %s ends at 0x%04X. Nothing was "
                 "written.",
                 imageName.c_str(), image->end(), board.bootloader->name, board.bootloader->start);
        return false;
    }

    say("Writing %s to COM%d\n", title.c_str(), request.port);
    const bool console = onConsole();
    const WriteUnderWay underWay(request.port);
    const auto progress = [&](std::size_t done, std::size_t all, stk500::BoardLeft) {
        if (console) say("\r  [%s] %3zu %%", bar(done, all, 40).c_str(), done * 100 / all);
        return !stopAsked(writeStop);
    };
    const auto asked = [] { return stopAsked(writeStop); };
    const auto reconnect = [&](const stk500::ProgramResult& cut) {
        if (!reachBootloader(describeComPort(request.port), board, asked).empty()) return false;
        // Still there, so not unplugged: the PC stalled for longer than the bootloader's one-second
        // watchdog, and it started what page 0 held. A reset brings it back for a second try.
        say("%sCOM%d stopped answering at the page at 0x%04X; the board is back after a reset, so once "
            "more from the start.\n",
            console ? "\n" : "", request.port, static_cast<unsigned>(cut.address));
        return true;
    };
    const stk500::ProgramResult result =
        stk500::programImageOrRetry(board.link, *image, progress, asked, reconnect);
    if (console) say("\n");
    if (result.outcome == stk500::ProgramResult::stopped) {
        complain("stopped while writing COM%d, as asked. %s", request.port,
                 whatTheBoardRuns(result.left, Stop::consoleClosed).c_str());
        return false;
    }
    if (result.outcome == stk500::ProgramResult::noAnswer) {
        complain("COM%d stopped answering at the page at 0x%04X: was the board unplugged? %s", request.port,
                 static_cast<unsigned>(result.address),
                 whatTheBoardRuns(result.left, Stop::unplugged).c_str());
        return false;
    }
    if (result.outcome == stk500::ProgramResult::mismatch) {
        stk500::leave(board.link);
        complain(
            "the page at 0x%04X reads back wrong (0x%04X: wrote %02X, read %02X): the board's flash did not "
            "take it. %s If it happens again, the chip's flash may be worn out.",
            static_cast<unsigned>(result.address), static_cast<unsigned>(result.firstBad), result.wrote,
            result.read, whatTheBoardRuns(result.left, Stop::readBackWrong).c_str());
        return false;
    }
    // Leaving programming mode starts the new firmware: Optiboot resets into it at once, the old
    // bootloader once the line has been quiet for a moment.
    const bool left = stk500::leave(board.link);
    board.line.close();
    const double seconds = static_cast<double>(GetTickCount64() - started) / 1000.0;
    say("Wrote %s to COM%d: %zu bytes in %zu pages, each read back equal, in %.1f s.\n", title.c_str(),
        request.port, image->end(), result.pages, seconds);
    const TunablesReading tunables = readTunables(image->bytes);
    if (tunables.tunables) say("Tunables: %s\n", describeTunables(*tunables.tunables).c_str());
    if (written && tunables.tunables) *written = *tunables.tunables;
    say(left ? "The board now runs it.\n"
             : "The board runs it once it is reset (unplug it and plug it back in).\n");
    return true;
}
