// The simulated board on simavr: loading, stepping, the serial line in, the outputs out.
#include "board.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <unistd.h>

extern "C" {
#include <avr_ioport.h>
#include <avr_uart.h>
#include <sim_avr.h>
#include <sim_elf.h>
#include <uart_pty.h>
}

namespace board {
namespace {

// Data-space addresses of the registers the outputs are read from.
constexpr unsigned tccr1aAddress = 0x80, tccr1bAddress = 0x81, icr1Address = 0x86, ocr1aAddress = 0x88,
                   ocr1bAddress = 0x8A, portbAddress = 0x25;

// The cycles the current step spent asleep. simavr's sleep callback is told only the AVR, and a
// board is stepped by one thread at a time.
thread_local avr_cycle_count_t sleptThisStep;

// No waiting for the wall clock (tests must not, and rig mode paces itself): a sleeping firmware
// skips straight to its next event. simavr then adds the sleep and one cycle to the clock.
void countSleep(avr_t*, avr_cycle_count_t howLong) {
    sleptThisStep += howLong + 1;
}

// Does nothing but end a sleep exactly at a chosen cycle.
avr_cycle_count_t wakeHere(avr_t*, avr_cycle_count_t, void*) {
    return 0;
}

std::uint16_t word(const avr_t* avr, unsigned address) {
    return static_cast<std::uint16_t>(avr->data[address] | avr->data[address + 1] << 8);
}

avr_irq_t* uartInput(avr_t* avr) {
    return avr_io_getirq(avr, AVR_IOCTL_UART_GETIRQ('0'), UART_IRQ_INPUT);
}

// simavr's chatter (what it loaded) would mix with the report on stdout; only its warnings and
// errors are worth seeing. Not its complaint about compare values written before a timer's clock
// starts: it takes a stopped timer's mode to be 0, while the chip uses the mode bits as written.
void logQuietly(avr_t*, const int level, const char* format, va_list arguments) {
    if (level != LOG_ERROR && level != LOG_WARNING) return;
    char text[256];
    std::vsnprintf(text, sizeof text, format, arguments);
    if (!std::strstr(text, "mode 0 UNSUPPORTED")) std::fputs(text, stderr);
}

} // namespace

void notifyByte(avr_irq_t*, std::uint32_t value, void* param) {
    auto* self = static_cast<SimulatedBoard*>(param);
    if (self->byteListener) self->byteListener(static_cast<std::uint8_t>(value), self->cycle());
}

unsigned Outputs::prescaler() const {
    static constexpr unsigned dividers[8] = {0, 1, 8, 64, 256, 1024, 0, 0};
    return dividers[tccr1b & 0x07];
}

double Outputs::frequencyHz() const {
    return prescaler() == 0 || icr1 == 0 ? 0.0 : double(clockHz) / (2.0 * prescaler() * icr1);
}

double Outputs::highMicroseconds() const {
    return 2.0 * ocr1a * prescaler() * 1e6 / clockHz;
}

SimulatedBoard::SimulatedBoard(const std::string& elfPath) {
    avr_global_logger_set(logQuietly);
    elf_firmware_t firmware{};
    if (elf_read_firmware(elfPath.c_str(), &firmware) != 0) {
        std::fprintf(stderr, "simulated_board: cannot read the firmware %s\n", elfPath.c_str());
        std::exit(2);
    }
    avr = avr_make_mcu_by_name("atmega328p");
    if (!avr || avr_init(avr) != 0) {
        std::fprintf(stderr, "simulated_board: simavr has no ATmega328P\n");
        std::exit(2);
    }
    avr_load_firmware(avr, &firmware);
    std::free(firmware.flash);
    avr->frequency = clockHz;
    avr->sleep = countSleep;
    avr_irq_register_notify(uartInput(avr), notifyByte, this);
    last = settling = outputs();
}

SimulatedBoard::~SimulatedBoard() {
    // The pty's thread waits in select() and simavr stops it with a SIGINT, which rig mode catches
    // to end its loop: a board with a pty is left to the end of the process instead.
    if (pty) return;
    avr_terminate(avr);
    std::free(avr);
}

void SimulatedBoard::feed(std::uint8_t byte) {
    avr_raise_irq(uartInput(avr), byte);
}

std::uint64_t SimulatedBoard::cycle() const {
    return avr->cycle;
}

Outputs SimulatedBoard::outputs() const {
    return {avr->data[tccr1aAddress], avr->data[tccr1bAddress], word(avr, icr1Address),
            word(avr, ocr1aAddress),  word(avr, ocr1bAddress),  avr->data[portbAddress]};
}

void SimulatedBoard::step(const ChangeListener& onChange) {
    const avr_cycle_count_t before = avr->cycle;
    sleptThisStep = 0;
    const int state = avr_run(avr);
    awake += avr->cycle - before - sleptThisStep;
    if (state == cpu_Done || state == cpu_Crashed) {
        std::fprintf(stderr, "simulated_board: the firmware stopped (state %d) at cycle %llu\n", state,
                     static_cast<unsigned long long>(avr->cycle));
        std::exit(3);
    }
    // A 16-bit register is written a byte at a time and both channels one after the other: report
    // a change once the firmware has gone back to sleep, or has left the outputs alone for a while,
    // with the cycle of its last write (a step that ends in sleep has already skipped ahead).
    const Outputs now = outputs();
    if (now != settling) {
        settling = now;
        settledSince = avr->cycle - sleptThisStep;
    }
    constexpr std::uint64_t settleCycles = 64;
    if (settling != last && (state == cpu_Sleeping || avr->cycle - settledSince >= settleCycles)) {
        last = settling;
        if (onChange) onChange(last, settledSince);
    }
}

void SimulatedBoard::runUntil(std::uint64_t until, const ChangeListener& onChange) {
    // A sleeping firmware would skip past the time asked for; a timer there ends the sleep.
    if (until > avr->cycle) avr_cycle_timer_register(avr, until - avr->cycle, wakeHere, this);
    while (avr->cycle < until)
        step(onChange);
}

void SimulatedBoard::runForSeconds(double seconds, const ChangeListener& onChange) {
    runUntil(cycle() + static_cast<std::uint64_t>(seconds * clockHz + 0.5), onChange);
}

void SimulatedBoard::runPaced(const volatile bool& stop, const std::function<void()>& observe) {
    // The simulation runs ahead in bursts and waits for the wall clock whenever it is more than a
    // millisecond ahead, so simulated time never drifts from real time, however the host schedules.
    using clock = std::chrono::steady_clock;
    const auto start = clock::now();
    const std::uint64_t startCycle = cycle();
    constexpr auto slack = std::chrono::milliseconds(1);
    while (!stop) {
        step({});
        observe();
        const auto simulated =
            start + std::chrono::nanoseconds((cycle() - startCycle) * 1'000'000'000ULL / clockHz);
        if (simulated - clock::now() > slack) std::this_thread::sleep_until(simulated);
    }
}

std::string SimulatedBoard::connectPty() {
    auto* bridge = new uart_pty_t{};
    pty = bridge;
    // simavr announces the pty (and its fixed /tmp link) on stdout; the report owns stdout.
    std::fflush(stdout);
    const int savedStdout = dup(STDOUT_FILENO);
    dup2(STDERR_FILENO, STDOUT_FILENO);
    uart_pty_init(avr, bridge);
    uart_pty_connect(bridge, '0');
    std::fflush(stdout);
    dup2(savedStdout, STDOUT_FILENO);
    close(savedStdout);
    return bridge->pty.slavename;
}

} // namespace board
