// The STK500 commands and the page-by-page write and read-back over a byte link.
#include "board_setup/stk500.h"

#include <algorithm>

namespace stk500 {

namespace {

// Long enough for a page write (about 4.5 ms on the chip) and the line both ways at 57600 baud,
// many times over: a board on a busy USB hub, or a simulated one on a busy PC, still answers.
constexpr unsigned answerTimeoutMs = 1500;
// Right after a reset Optiboot blinks its LED for about 0.4 s before it reads the line, and a chip
// holds only three bytes meanwhile: a second GET_SYNC sent then would overrun it, and a lost
// byte makes Optiboot start the firmware instead. So the first try waits out the blinking.
constexpr unsigned firstSyncTimeoutMs = 600;
constexpr unsigned syncTimeoutMs = 300;

} // namespace

std::vector<std::uint8_t> loadAddressCommand(std::uint32_t byteAddress) {
    const std::uint32_t word = byteAddress / 2;
    return {loadAddress, static_cast<std::uint8_t>(word), static_cast<std::uint8_t>(word >> 8), crcEop};
}

std::vector<std::uint8_t> programPageCommand(std::span<const std::uint8_t> page) {
    std::vector<std::uint8_t> command(page.size() + 5);
    command[0] = programPage;
    command[1] = static_cast<std::uint8_t>(page.size() >> 8);
    command[2] = static_cast<std::uint8_t>(page.size());
    command[3] = 'F';
    std::copy(page.begin(), page.end(), command.begin() + 4);
    command.back() = crcEop;
    return command;
}

std::vector<std::uint8_t> readPageCommand(std::size_t size) {
    return {readPage, static_cast<std::uint8_t>(size >> 8), static_cast<std::uint8_t>(size), 'F', crcEop};
}

std::optional<std::vector<std::uint8_t>> unframe(std::span<const std::uint8_t> answer,
                                                 std::size_t payloadSize) {
    if (answer.size() != payloadSize + 2 || answer.front() != inSync || answer.back() != ok)
        return std::nullopt;
    return std::vector<std::uint8_t>(answer.begin() + 1, answer.end() - 1);
}

std::optional<std::vector<std::uint8_t>> exchange(Link& link, std::span<const std::uint8_t> command,
                                                  std::size_t payloadSize, unsigned timeoutMs) {
    if (!link.send(command)) return std::nullopt;
    const auto answer = link.receive(payloadSize + 2, timeoutMs);
    return unframe(answer, payloadSize);
}

bool synchronise(Link& link, int attempts) {
    const std::uint8_t command[] = {getSync, crcEop};
    int answered = 0;
    for (int attempt = 0; attempt < attempts && answered < 2; ++attempt) {
        // A bootloader still busy with garbage, or a late answer to an earlier try, would leave
        // bytes that shift every later answer: each try starts from a quiet line.
        link.discardInput();
        answered =
            exchange(link, command, 0, attempt == 0 ? firstSyncTimeoutMs : syncTimeoutMs) ? answered + 1 : 0;
    }
    return answered >= 2;
}

std::optional<Signature> querySignature(Link& link) {
    const std::uint8_t command[] = {readSignature, crcEop};
    const auto payload = exchange(link, command, 3, answerTimeoutMs);
    if (!payload) return std::nullopt;
    return Signature{(*payload)[0], (*payload)[1], (*payload)[2]};
}

std::optional<std::uint8_t> queryParameter(Link& link, std::uint8_t parameter) {
    const std::uint8_t command[] = {getParameter, parameter, crcEop};
    const auto payload = exchange(link, command, 1, answerTimeoutMs);
    if (!payload) return std::nullopt;
    return payload->front();
}

std::optional<std::vector<std::uint8_t>> readFlash(Link& link, std::uint32_t byteAddress, std::size_t size) {
    if (!exchange(link, loadAddressCommand(byteAddress), 0, answerTimeoutMs)) return std::nullopt;
    return exchange(link, readPageCommand(size), size, answerTimeoutMs);
}

bool leave(Link& link) {
    const std::uint8_t command[] = {leaveProgramming, crcEop};
    return exchange(link, command, 0, answerTimeoutMs).has_value();
}

ProgramResult programImage(Link& link, const FlashImage& image,
                           const std::function<void(std::size_t, std::size_t)>& progress) {
    std::vector<std::uint32_t> pages;
    for (std::size_t start = 0; start < image.end(); start += pageSize)
        if (image.pageHeld(start, pageSize)) pages.push_back(static_cast<std::uint32_t>(start));

    const auto pageOf = [&](std::uint32_t start) {
        std::vector<std::uint8_t> page(pageSize, 0xFF);
        const std::size_t count = std::min(pageSize, image.end() - start);
        std::copy_n(image.bytes.begin() + start, count, page.begin());
        return page;
    };

    // Page 0 holds the reset and interrupt vectors. Erased first and written for real last, it
    // never points into a half-written program: a write cut short leaves a board whose reset runs
    // through erased flash into its bootloader, instead of new vectors beside old code.
    const bool vectorsLast = pages.size() > 1 && pages.front() == 0;
    const std::size_t steps = pages.size() * 2 + (vectorsLast ? 1 : 0);
    std::size_t done = 0;
    const auto write = [&](std::uint32_t start, const std::vector<std::uint8_t>& page) {
        if (!exchange(link, loadAddressCommand(start), 0, answerTimeoutMs) ||
            !exchange(link, programPageCommand(page), 0, answerTimeoutMs))
            return false;
        progress(++done, steps);
        return true;
    };

    ProgramResult result;
    if (vectorsLast && !write(0, std::vector<std::uint8_t>(pageSize, 0xFF))) {
        result.outcome = ProgramResult::noAnswer;
        return result;
    }
    std::vector<std::uint32_t> order(pages.begin() + (vectorsLast ? 1 : 0), pages.end());
    if (vectorsLast) order.push_back(0);
    for (const std::uint32_t start : order) {
        if (!write(start, pageOf(start))) {
            result.outcome = ProgramResult::noAnswer;
            result.address = start;
            return result;
        }
        ++result.pages;
    }
    for (std::size_t read = 0; read < pages.size(); ++read) {
        const std::uint32_t start = pages[read];
        const auto readBack = readFlash(link, start, pageSize);
        if (!readBack) {
            result.outcome = ProgramResult::noAnswer;
            result.address = start;
            return result;
        }
        const auto expected = pageOf(start);
        const auto differ = std::mismatch(expected.begin(), expected.end(), readBack->begin());
        if (differ.first != expected.end()) {
            result.outcome = ProgramResult::mismatch;
            result.address = start;
            result.firstBad = start + static_cast<std::uint32_t>(differ.first - expected.begin());
            result.wrote = *differ.first;
            result.read = *differ.second;
            return result;
        }
        progress(++done, steps);
    }
    return result;
}

} // namespace stk500
