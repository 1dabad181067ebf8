// STK500 version 1 as the Arduino bootloaders (Optiboot, the old ATmegaBOOT) speak it: every
// command ends with CRC_EOP and every answer is framed by STK_INSYNC ... STK_OK. The session runs
// over any byte link, so the same code drives a COM port and the tests' simulated bootloader.
// Platform-neutral.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "board_setup/intel_hex.h"

namespace stk500 {

inline constexpr std::uint8_t ok = 0x10;
inline constexpr std::uint8_t inSync = 0x14;
inline constexpr std::uint8_t crcEop = 0x20;
inline constexpr std::uint8_t getSync = 0x30;
inline constexpr std::uint8_t getParameter = 0x41;
inline constexpr std::uint8_t enterProgramming = 0x50;
inline constexpr std::uint8_t leaveProgramming = 0x51;
inline constexpr std::uint8_t loadAddress = 0x55;
inline constexpr std::uint8_t programPage = 0x64;
inline constexpr std::uint8_t readPage = 0x74;
inline constexpr std::uint8_t readSignature = 0x75;
inline constexpr std::uint8_t softwareMajor = 0x81;
inline constexpr std::uint8_t softwareMinor = 0x82;

// The ATmega328P's flash page, which both bootloaders write whole.
inline constexpr std::size_t pageSize = 128;

// How long a command waits for its answer: a page write (about 4.5 ms on the chip) and the line
// both ways at 57600 baud, many times over, so a board on a busy USB hub, or a simulated one on a
// busy PC, still answers.
inline constexpr unsigned answerTimeoutMs = 1500;
// The longest one step of a write can take, a page's address and its write or read each waiting
// their whole time: what a stop asked for may have to wait before the write gets to stop.
inline constexpr unsigned longestStepMs = 2 * answerTimeoutMs;

// Commands as bytes on the wire. Addresses are byte addresses here; the bootloaders take words.
std::vector<std::uint8_t> loadAddressCommand(std::uint32_t byteAddress);
std::vector<std::uint8_t> programPageCommand(std::span<const std::uint8_t> page);
std::vector<std::uint8_t> readPageCommand(std::size_t size);

// The payload of an answer framed INSYNC payload OK, or nothing when the frame is not that.
std::optional<std::vector<std::uint8_t>> unframe(std::span<const std::uint8_t> answer,
                                                 std::size_t payloadSize);

// What the session needs of a serial line. receive returns what arrived within the time, which is
// fewer bytes than asked for when the line stayed silent or failed.
struct Link {
    std::function<bool(std::span<const std::uint8_t>)> send;
    std::function<std::vector<std::uint8_t>(std::size_t count, unsigned timeoutMs)> receive;
    std::function<void()> discardInput;
};

using Signature = std::array<std::uint8_t, 3>;
inline constexpr Signature atmega328p{0x1E, 0x95, 0x0F};
inline constexpr Signature atmega168{0x1E, 0x94, 0x06};

// Sends GET_SYNC until a bootloader answers it twice in a row, within about attempts x 300 ms.
bool synchronise(Link& link, int attempts);
// One command and its framed answer of payloadSize bytes; nothing when it does not come.
std::optional<std::vector<std::uint8_t>> exchange(Link& link, std::span<const std::uint8_t> command,
                                                  std::size_t payloadSize, unsigned timeoutMs);
std::optional<Signature> querySignature(Link& link);
std::optional<std::uint8_t> queryParameter(Link& link, std::uint8_t parameter);
// Reads size bytes of flash from byteAddress (one page read, size at most pageSize).
std::optional<std::vector<std::uint8_t>> readFlash(Link& link, std::uint32_t byteAddress, std::size_t size);
bool leave(Link& link);

// What the board runs if a write stops at this point (unplugged, stalled, the tool ended).
enum class BoardLeft {
    asItWas,     // nothing was written yet
    runsNothing, // page 0 read back as the idle page
    unsure,      // page 0 is being written, or did not read back as the idle page
    theImage,    // every page read back equal
};

// How a write of an image went.
struct ProgramResult {
    enum Outcome { written, noAnswer, mismatch, stopped } outcome = written;
    std::size_t pages = 0;      // the image's pages, written and read back equal (when written)
    std::uint32_t address = 0;  // noAnswer, mismatch: the page's first byte
    std::uint32_t firstBad = 0; // mismatch: the first byte that differs
    std::uint8_t wrote = 0, read = 0;
    BoardLeft left = BoardLeft::asItWas;
    // An image that leaves page 0 alone: the board's own page 0, read before the idle page went in,
    // which it ends with (empty until read).
    std::vector<std::uint8_t> boardVectors;
};

// Told after each page written and each page read back: steps done of all, and what the board
// runs if the write stops there. Returning false asks the write to stop (the user pressed Ctrl+C):
// it stops at the next point where the board runs nothing, or as it was, and never in between.
using Progress = std::function<bool(std::size_t done, std::size_t all, BoardLeft left)>;

// Writes every page the image holds a byte of and reads each back. Page 0 (the vectors) first gets
// the idle page (idle_page.h), read back whole; it is written for real only once every other page
// reads back equal, and gets the idle page again after any page reads back wrong, its own included. A page 0
// the image leaves alone ends as the board had it. Given the earlier try that got no answer, the
// write starts again by reading page 0: one that already reads back as the idle page is not written
// again, and the board's own page 0 the earlier try read is the one it ends with.
ProgramResult programImage(Link& link, const FlashImage& image, const Progress& progress,
                           const ProgramResult* earlier = nullptr);

// programImage, and once more when a page got no answer but the board comes back: the PC stalled
// for longer than the bootloader's one-second watchdog, which then started page 0's loop.
// reconnect resets the board into its bootloader and says whether it answers again (it gives up
// when a stop is asked meanwhile). A stop asked before the reconnect, or during it, ends the write
// there, with the board as the cut left it.
ProgramResult programImageOrRetry(Link& link, const FlashImage& image, const Progress& progress,
                                  const std::function<bool()>& stopAsked,
                                  const std::function<bool(const ProgramResult& cut)>& reconnect);

} // namespace stk500
