// The STK500 commands and the page-by-page write and read-back over a byte link.
#include "board_setup/stk500.h"

#include <algorithm>

#include "board_setup/idle_page.h"

namespace stk500 {

namespace {

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

ProgramResult programImage(Link& link, const FlashImage& image, const Progress& progress,
                           const ProgramResult* earlier) {
    std::vector<std::uint32_t> rest; // every page the image holds a byte of, but page 0
    for (std::size_t start = pageSize; start < image.end(); start += pageSize)
        if (image.pageHeld(start, pageSize)) rest.push_back(static_cast<std::uint32_t>(start));
    const auto pageOf = [&](std::uint32_t start) {
        std::vector<std::uint8_t> page(pageSize, 0xFF);
        const std::size_t count = std::min(pageSize, image.end() - start);
        std::copy_n(image.bytes.begin() + start, count, page.begin());
        return page;
    };
    const std::vector<std::uint8_t> idle(idlePage().begin(), idlePage().end());

    const bool vectorsHeld = image.pageHeld(0, pageSize);
    const bool earlierVectors = earlier && !earlier->boardVectors.empty();
    // Page 0 as the board has it now: after a cut, to see whether it is idle already; and the
    // board's own, when the image leaves page 0 alone.
    std::optional<std::vector<std::uint8_t>> page0Now;
    if (earlier || (!vectorsHeld && !earlierVectors)) {
        page0Now = readFlash(link, 0, pageSize);
        if (!page0Now) {
            ProgramResult cut;
            cut.outcome = ProgramResult::noAnswer;
            if (earlier) cut.left = earlier->left, cut.boardVectors = earlier->boardVectors;
            return cut;
        }
    }
    const bool idleAlready = earlier && isIdlePage(*page0Now);
    // Page 0 twice (the idle page, unless it is there already, then for real) and every other page
    // once, each written and read back; and page 0 read first when it is looked at.
    const std::size_t steps = 2 * rest.size() + 2 + (idleAlready ? 0 : 2) + (page0Now ? 1 : 0);
    std::size_t done = 0;
    ProgramResult result;
    bool stopAsked = false;
    const auto step = [&] {
        if (!progress(++done, steps, result.left)) stopAsked = true;
    };
    // A stop asked for waits for a point where the board runs nothing (or is as it was).
    const auto stopsHere = [&] {
        if (!stopAsked || (result.left != BoardLeft::asItWas && result.left != BoardLeft::runsNothing))
            return false;
        result.outcome = ProgramResult::stopped;
        return true;
    };
    // Page 0 is in doubt from its write command on (Optiboot erases a page as the command comes
    // in) until it reads back.
    const auto write = [&](std::uint32_t start, const std::vector<std::uint8_t>& page) {
        if (!exchange(link, loadAddressCommand(start), 0, answerTimeoutMs)) return false;
        if (start == 0) result.left = BoardLeft::unsure;
        return exchange(link, programPageCommand(page), 0, answerTimeoutMs).has_value();
    };
    const auto noAnswerAt = [&](std::uint32_t start) {
        result.outcome = ProgramResult::noAnswer;
        result.address = start;
        return result;
    };
    // Whatever reads back wrong, the board is left running nothing rather than a page it did not
    // take beside pages of another program.
    const auto idleAgain = [&] {
        if (!write(0, idle)) return BoardLeft::unsure;
        const auto read = readFlash(link, 0, pageSize);
        return read && isIdlePage(*read) ? BoardLeft::runsNothing : BoardLeft::unsure;
    };
    // Reads the page back and compares it; on a difference, says where and leaves the board idle.
    const auto readsBack = [&](std::uint32_t start, const std::vector<std::uint8_t>& page) {
        const auto read = readFlash(link, start, pageSize);
        if (!read) {
            noAnswerAt(start);
            return false;
        }
        const auto differ = std::mismatch(page.begin(), page.end(), read->begin(), read->end());
        if (differ.first == page.end()) return true;
        result.outcome = ProgramResult::mismatch;
        result.address = start;
        result.firstBad = start + static_cast<std::uint32_t>(differ.first - page.begin());
        result.wrote = *differ.first;
        result.read = *differ.second;
        result.left = idleAgain();
        return false;
    };

    // The page 0 the board ends with.
    const std::vector<std::uint8_t> vectors = vectorsHeld      ? pageOf(0)
                                              : earlierVectors ? earlier->boardVectors
                                                               : *page0Now;
    if (!vectorsHeld) result.boardVectors = vectors;
    if (earlier) result.left = idleAlready ? BoardLeft::runsNothing : earlier->left;
    if (page0Now) {
        step();
        if (stopsHere()) return result;
    }

    if (!idleAlready) {
        if (!write(0, idle)) return noAnswerAt(0);
        step();
        // The whole idle page is compared: a board reset into it runs more than its first word.
        if (!readsBack(0, idle)) return result;
        result.left = BoardLeft::runsNothing;
        step();
        if (stopsHere()) return result;
    }

    for (const std::uint32_t start : rest) {
        if (!write(start, pageOf(start))) return noAnswerAt(start);
        step();
        if (stopsHere()) return result;
    }
    for (const std::uint32_t start : rest) {
        if (!readsBack(start, pageOf(start))) return result;
        step();
        if (stopsHere()) return result;
    }

    if (!write(0, vectors)) return noAnswerAt(0);
    step();
    if (!readsBack(0, vectors)) return result;
    result.pages = rest.size() + (vectorsHeld ? 1 : 0);
    result.left = BoardLeft::theImage;
    step();
    return result;
}

ProgramResult programImageOrRetry(Link& link, const FlashImage& image, const Progress& progress,
                                  const std::function<bool()>& stopAsked,
                                  const std::function<bool(const ProgramResult& cut)>& reconnect) {
    ProgramResult result = programImage(link, image, progress);
    if (result.outcome != ProgramResult::noAnswer) return result;
    // A stop asked for is looked for before the board is reset and written again, and once more
    // after: the reconnect takes seconds, and a stop that came meanwhile is honoured before any
    // page goes in.
    if (!stopAsked() && reconnect(result)) {
        const ProgramResult cut = result;
        result = programImage(link, image, progress, &cut);
    }
    if (result.outcome == ProgramResult::noAnswer && stopAsked() &&
        (result.left == BoardLeft::asItWas || result.left == BoardLeft::runsNothing))
        result.outcome = ProgramResult::stopped;
    return result;
}

} // namespace stk500
