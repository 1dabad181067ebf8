// The simulated board on simavr: loading, stepping, the serial line in, the outputs out.
#include "board.h"
#include "line_rate.h"
#include "firmware/tunables_block.h"

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <sys/inotify.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

extern "C" {
#include <avr_ioport.h>
#include <avr_uart.h>
#include <avr_watchdog.h>
#include <sim_avr.h>
#include <sim_elf.h>
#include <sim_hex.h>
#include <uart_pty.h>
}

namespace board {
namespace {

// Data-space addresses of the registers the outputs are read from.
constexpr unsigned tccr1aAddress = 0x80, tccr1bAddress = 0x81, icr1Address = 0x86, ocr1aAddress = 0x88,
                   ocr1bAddress = 0x8A, portbAddress = 0x25, ddrbAddress = 0x24;
// The shields' lines: PORTD (DDRD below it), and TCCRnA with TCCRnB, OCRnA and OCRnB above it.
constexpr unsigned portdAddress = 0x2B, tccr0aAddress = 0x44, tccr2aAddress = 0xB0;
// The same on the ATmega328P and the ATmega168.
constexpr unsigned mcusrAddress = 0x54, wdtcsrAddress = 0x60, ucsr0aAddress = 0xC0, ubrr0Address = 0xC4;
constexpr unsigned ucsr0bAddress = 0xC1, spmcsrAddress = 0x57;
// SPMCSR's command bits as the bootloaders set them before SPM: SPMEN with PGERS or with PGWRT.
constexpr std::uint8_t spmCommandBits = 0x3F, pageErase = 0x03, pageWrite = 0x05;
constexpr std::uint16_t spmOpcode = 0x95E8;
constexpr std::uint32_t flashPageSize = 128; // the ATmega328P's and the ATmega168's
constexpr std::uint8_t porf = 1 << 0, extrf = 1 << 1, wdrf = 1 << 3, u2x0 = 1 << 1, rxen0 = 1 << 4,
                       wde = 1 << 3, wdie = 1 << 6;
constexpr unsigned usartCapacity = 3;
// simavr's USART input carries a framing error in this bit of the value raised.
constexpr std::uint32_t framingErrorFlag = 0x8000;

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

// The pty's speed as its other end set it (SetCommState under Wine, tcsetattr): tcgetattr on the
// master returns the slave's settings.
double lineBaudOf(int master) {
    termios settings{};
    if (tcgetattr(master, &settings) != 0) return 0.0;
    static constexpr struct {
        speed_t code;
        double baud;
    } speeds[] = {{B300, 300},       {B1200, 1200},      {B2400, 2400},     {B4800, 4800},
                  {B9600, 9600},     {B19200, 19200},    {B38400, 38400},   {B57600, 57600},
                  {B115200, 115200}, {B230400, 230400},  {B460800, 460800}, {B500000, 500000},
                  {B921600, 921600}, {B1000000, 1000000}};
    const speed_t code = cfgetospeed(&settings);
    for (const auto& speed : speeds)
        if (speed.code == code) return speed.baud;
    return 0.0;
}

avr_uart_t* usart0Of(avr_t* avr) {
    for (avr_io_t* io = avr->io_port; io; io = io->next)
        if (io->kind && std::strcmp(io->kind, "uart") == 0 && reinterpret_cast<avr_uart_t*>(io)->name == '0')
            return reinterpret_cast<avr_uart_t*>(io);
    return nullptr;
}

// simavr's header declares its fifos' helpers but defines them in the library only.
unsigned unreadBytes(const uart_fifo_t& fifo) {
    return (fifo.write + uart_fifo_fifo_size - fifo.read) & (uart_fifo_fifo_size - 1);
}

const char* chipOf(Bootloader bootloader) {
    return bootloader == Bootloader::optiboot168 ? "atmega168" : "atmega328p";
}

[[noreturn]] void fail(const std::string& why) {
    std::fprintf(stderr, "simulated_board: %s\n", why.c_str());
    std::exit(2);
}

} // namespace

std::string bootloaderImage(Bootloader bootloader) {
    const char* built = std::getenv("VENTORA_BOOTLOADERS");
    const std::string builtDir = built ? built : VENTORA_BOOTLOADERS;
    switch (bootloader) {
    case Bootloader::optiboot: return builtDir + "/optiboot_atmega328.hex";
    case Bootloader::optiboot168: return builtDir + "/optiboot_atmega168.hex";
    case Bootloader::oldNano:
        return "/usr/share/arduino/hardware/arduino/avr/bootloaders/atmega/ATmegaBOOT_168_atmega328.hex";
    case Bootloader::none: break;
    }
    return {};
}

// simavr's bridge hands over a whole write from the pty at once, maybe from its own thread: the
// bytes wait on the line and reach the USART one byte time apart, as on a wire.
void byteFromPty(avr_irq_t*, std::uint32_t value, void* param) {
    auto* self = static_cast<SimulatedBoard*>(param);
    const double baud = lineBaudOf(static_cast<uart_pty_t*>(self->pty)->pty.s);
    const std::lock_guard<std::mutex> hold(self->lineMutex);
    self->line.push_back({static_cast<std::uint8_t>(value), baud});
    self->lineWaiting = true;
}

void SimulatedBoard::passLineByte() {
    LineByte next;
    {
        const std::lock_guard<std::mutex> hold(lineMutex);
        if (line.empty()) return;
        next = line.front();
        line.pop_front();
        lineWaiting = !line.empty();
    }
    // A pty nobody has set a speed on counts as 9600, for the byte as for its time on the line.
    const double baud = next.baud > 0 ? next.baud : 9600.0;
    deliver(next.byte, baud);
    // Start, eight data bits and stop.
    nextLineCycle = cycle() + static_cast<std::uint64_t>(10.0 * clockHz / baud);
}

void notifyByte(avr_irq_t*, std::uint32_t value, void* param) {
    auto* self = static_cast<SimulatedBoard*>(param);
    if (self->byteListener) self->byteListener(static_cast<std::uint8_t>(value), self->cycle());
}

void notifyTransmit(avr_irq_t*, std::uint32_t value, void* param) {
    auto* self = static_cast<SimulatedBoard*>(param);
    if (self->transmitListener) self->transmitListener(static_cast<std::uint8_t>(value), self->cycle());
}

void SimulatedBoard::onTransmit(std::function<void(std::uint8_t, std::uint64_t)> listener) {
    if (!transmitListener)
        avr_irq_register_notify(avr_io_getirq(avr, AVR_IOCTL_UART_GETIRQ('0'), UART_IRQ_OUTPUT),
                                notifyTransmit, this);
    transmitListener = std::move(listener);
}

int SimulatedBoard::leftFanOutput() const {
    const std::uint8_t* flashBytes = avr->flash;
    const std::size_t window = tunablesBlock::searchWindow;
    const auto found = std::search(flashBytes, flashBytes + window, std::begin(tunablesBlock::marker),
                                   std::end(tunablesBlock::marker));
    // A block the firmware would not use leaves it on its compiled default, output 1.
    if (found + tunablesBlock::blockSize > flashBytes + window ||
        tunablesBlock::checkBlock(found, 0).problem != tunablesBlock::whole)
        return 1;
    return found[tunablesBlock::leftFanOutputOffset] == 2 ? 2 : 1;
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
    uart = usart0Of(avr);
    last = settling = outputs();
}

SimulatedBoard::SimulatedBoard(const BoardSetup& setup) {
    if (setup.bootloader == Bootloader::none) fail("a board set up from parts needs a bootloader");
    avr_global_logger_set(logQuietly);
    avr = avr_make_mcu_by_name(chipOf(setup.bootloader));
    if (!avr || avr_init(avr) != 0) fail(std::string("simavr has no ") + chipOf(setup.bootloader));
    avr->frequency = clockHz;
    avr->sleep = countSleep;
    rateCheck = setup.rateCheck;
    flashFile = setup.flashFile;
    corruptPage = setup.corruptPage;
    unplugAtPageWrite = setup.unplugAtPageWrite;

    std::memset(avr->flash, 0xFF, avr->flashend + 1);
    std::ifstream kept(flashFile, std::ios::binary);
    if (!flashFile.empty() && kept) {
        const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(kept), {}};
        if (bytes.size() != avr->flashend + 1)
            fail(flashFile + " is " + std::to_string(bytes.size()) + " bytes, not the chip's " +
                 std::to_string(avr->flashend + 1));
        std::memcpy(avr->flash, bytes.data(), bytes.size());
        savedFlash = bytes;
    } else if (!setup.firmware.empty()) {
        loadImage(setup.firmware);
    }
    // The boot section is the bootloader's whatever the file says: a flashing tool never writes it.
    loadBootloader(setup.bootloader);
    avr->codeend = avr->flashend;

    // The bootloader polls the USART: simavr would sleep the host on every empty poll and run it at
    // a fraction of real speed. The rig paces to the wall clock itself.
    std::uint32_t flags = 0;
    avr_ioctl(avr, AVR_IOCTL_UART_GET_FLAGS('0'), &flags);
    flags &= ~AVR_UART_FLAG_POLL_SLEEP;
    avr_ioctl(avr, AVR_IOCTL_UART_SET_FLAGS('0'), &flags);

    avr_irq_register_notify(uartInput(avr), notifyByte, this);
    uart = usart0Of(avr);
    // Powered up by plugging in the USB cable: a power-on reset, after which Optiboot starts the
    // firmware at once.
    avr->data[mcusrAddress] = porf;
    running = false;
    last = settling = outputs();
    if (!flashFile.empty() && savedFlash.empty()) saveFlash();
}

void SimulatedBoard::loadBootloader(Bootloader bootloader) {
    bootStart = loadHex(bootloaderImage(bootloader));
    // BOOTRST programmed: every reset starts the bootloader.
    avr->reset_pc = bootStart;
    avr->pc = bootStart;
}

void SimulatedBoard::loadImage(const std::string& path) {
    if (path.size() > 4 && path.compare(path.size() - 4, 4, ".hex") == 0) {
        loadHex(path);
        return;
    }
    elf_firmware_t firmware{};
    if (elf_read_firmware(path.c_str(), &firmware) != 0) fail("cannot read " + path);
    if (firmware.flashbase + firmware.flashsize > avr->flashend + 1) fail(path + " does not fit the flash");
    std::memcpy(avr->flash + firmware.flashbase, firmware.flash, firmware.flashsize);
    std::free(firmware.flash);
}

std::uint32_t SimulatedBoard::loadHex(const std::string& path) {
    ihex_chunk_p chunks = nullptr;
    const int count = read_ihex_chunks(path.c_str(), &chunks);
    if (count <= 0) fail("cannot read " + path + " (the bootloaders are built by the firmware preset)");
    std::uint32_t lowest = avr->flashend + 1;
    for (int i = 0; i < count; ++i) {
        if (chunks[i].baseaddr + chunks[i].size > avr->flashend + 1) fail(path + " does not fit the flash");
        std::memcpy(avr->flash + chunks[i].baseaddr, chunks[i].data, chunks[i].size);
        lowest = std::min(lowest, chunks[i].baseaddr);
    }
    free_ihex_chunks(chunks);
    return lowest;
}

void SimulatedBoard::resetExternally() {
    halted = false;
    avr_reset(avr);
    avr->data[mcusrAddress] = extrf;
    running = bootStart == 0;
}

void SimulatedBoard::feedAtRate(std::uint8_t byte, double lineBaud) {
    deliver(byte, lineBaud);
}

void SimulatedBoard::deliver(std::uint8_t byte, double lineBaud) {
    // A receiver that is off hears nothing, and one whose two-byte buffer and shift register are
    // full loses what comes next (a data overrun): a bootloader that has stopped reading, waiting
    // for its watchdog, does not hand a firmware the levels of its last second.
    if (unplugged || !(avr->data[ucsr0bAddress] & rxen0)) return;
    const std::vector<ReceivedByte> read =
        rateCheck ? receiveAtRate(byte, lineBaud, uartBaud()) : std::vector<ReceivedByte>{{byte, false}};
    for (const ReceivedByte& one : read) {
        if (uart && unreadBytes(uart->input) >= usartCapacity) return;
        avr_raise_irq(uartInput(avr), one.value | (one.framingError ? framingErrorFlag : 0));
    }
}

double SimulatedBoard::uartBaud() const {
    const std::uint16_t ubrr = word(avr, ubrr0Address) & 0x0FFF;
    return uartBaudOf(ubrr, avr->data[ucsr0aAddress] & u2x0, clockHz);
}

bool SimulatedBoard::watchdogResets() const {
    return (avr->data[wdtcsrAddress] & wde) || (avr->data[mcusrAddress] & wdrf);
}

std::vector<std::uint8_t> SimulatedBoard::flash() const {
    return {avr->flash, avr->flash + avr->flashend + 1};
}

void SimulatedBoard::writeFlash(std::uint32_t address, const std::vector<std::uint8_t>& bytes) {
    if (address + bytes.size() > avr->flashend + 1) fail("a write past the end of flash");
    std::memcpy(avr->flash + address, bytes.data(), bytes.size());
}

void SimulatedBoard::saveFlash() {
    if (flashFile.empty() || (savedFlash.size() == avr->flashend + 1 &&
                              std::memcmp(savedFlash.data(), avr->flash, savedFlash.size()) == 0))
        return;
    savedFlash = flash();
    // A new file, then a rename: a reader never sees half a flash.
    const std::string partial = flashFile + ".partial";
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(savedFlash.data()),
              static_cast<std::streamsize>(savedFlash.size()));
    out.close();
    if (!out || std::rename(partial.c_str(), flashFile.c_str()) != 0) fail("cannot write " + flashFile);
    tell(BoardEvent::flashWritten);
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
    Outputs out{avr->data[tccr1aAddress], avr->data[tccr1bAddress], word(avr, icr1Address),
                word(avr, ocr1aAddress),  word(avr, ocr1bAddress),  avr->data[portbAddress],
                avr->data[ddrbAddress]};
    out.portd = avr->data[portdAddress];
    out.ddrd = avr->data[portdAddress - 1];
    out.tccr0a = avr->data[tccr0aAddress];
    out.tccr0b = avr->data[tccr0aAddress + 1];
    out.ocr0a = avr->data[tccr0aAddress + 3];
    out.ocr0b = avr->data[tccr0aAddress + 4];
    out.tccr2a = avr->data[tccr2aAddress];
    out.tccr2b = avr->data[tccr2aAddress + 1];
    out.ocr2a = avr->data[tccr2aAddress + 3];
    out.ocr2b = avr->data[tccr2aAddress + 4];
    return out;
}

void SimulatedBoard::step(const ChangeListener& onChange) {
    const avr_cycle_count_t before = avr->cycle;
    sleptThisStep = 0;
    if (halted || unplugged) {
        // A chip stuck in a bad firmware, or without power, still lets time pass.
        avr->cycle += clockHz / 1000;
        return;
    }
    const bool spoiled = (corruptPage >= 0 || unplugAtPageWrite > 0) && spoilPageWrite();
    if (unplugged) return;
    const int state = avr_run(avr);
    if (spoiled) {
        const std::uint32_t page = word(avr, 30) / flashPageSize; // Z
        avr->flash[page * flashPageSize + flashPageSize - 1] ^= 0x01;
    }
    awake += avr->cycle - before - sleptThisStep;
    if ((state == cpu_Done || state == cpu_Crashed) && bootStart != 0) {
        // A firmware for another chip (or none that makes sense): a board with a bootloader waits
        // for the next reset, when the bootloader can take a better one.
        halted = true;
        tell(BoardEvent::firmwareCrashed);
        return;
    }
    if (state == cpu_Done || state == cpu_Crashed) {
        std::fprintf(stderr, "simulated_board: the firmware stopped (state %d) at cycle %llu\n", state,
                     static_cast<unsigned long long>(avr->cycle));
        std::exit(3);
    }
    if (lineWaiting && avr->cycle >= nextLineCycle) passLineByte();
    // simavr's watchdog keeps counting the period it was started with when a program switches to
    // a shorter one, where the chip's times out at the new one: Optiboot's 16 ms after noise would
    // be a whole second. Restarting the count at the change gets the chip's timing within the few
    // cycles since the program's last reset of the watchdog.
    if (avr->data[wdtcsrAddress] != lastWatchdogControl) {
        lastWatchdogControl = avr->data[wdtcsrAddress];
        if (lastWatchdogControl & (wde | wdie)) avr_ioctl(avr, AVR_IOCTL_WATCHDOG_RESET, nullptr);
    }
    // A reset of the chip's own (its watchdog) starts the bootloader again, as a port opened does.
    if (running && bootStart != 0 && avr->pc >= bootStart) running = false;
    if (!running && avr->pc < bootStart) {
        running = true;
        // Erased flash runs through to the bootloader again: no firmware to speak of.
        if (avr->flash[0] != 0xFF || avr->flash[1] != 0xFF) tell(BoardEvent::firmwareStarted);
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
    // The simulation runs ahead in bursts of a simulated millisecond and waits for the wall clock
    // whenever it is more than a millisecond ahead, so it never runs ahead of real time. On a busy
    // host it may fall behind and stay behind: a test that needs so many simulated seconds asks the
    // board (SIGUSR1) rather than the wall clock. A bootloader never sleeps: it polls the USART, one
    // step per instruction, so the burst keeps the clock out of the inner loop.
    using clock = std::chrono::steady_clock;
    const auto start = clock::now();
    const std::uint64_t startCycle = cycle();
    constexpr auto slack = std::chrono::milliseconds(1);
    while (!stop) {
        const std::uint64_t burstEnd = cycle() + clockHz / 1000;
        while (cycle() < burstEnd) {
            step({});
            observe();
        }
        lookAfterRig();
        const auto simulated =
            start + std::chrono::nanoseconds((cycle() - startCycle) * 1'000'000'000ULL / clockHz);
        if (simulated - clock::now() > slack) std::this_thread::sleep_until(simulated);
    }
}

void SimulatedBoard::lookAfterRig() {
    // Once a simulated millisecond: the port's opens, and every 50 ms the flash.
    if (ptyOpens >= 0) {
        alignas(inotify_event) char events[4096];
        bool opened = false;
        while (read(ptyOpens, events, sizeof events) > 0)
            opened = true;
        if (opened && !unplugged) {
            resetExternally();
            tell(BoardEvent::resetByPortOpen);
        }
    }
    if (cycle() - lastFlashCheckCycle >= clockHz / 20) {
        lastFlashCheckCycle = cycle();
        saveFlash();
    }
}

bool SimulatedBoard::spoilPageWrite() {
    // Looked at just before SPM runs: the bootloader has set SPMCSR's command and Z the page.
    if ((avr->flash[avr->pc] | avr->flash[avr->pc + 1] << 8) != spmOpcode) return false;
    const std::uint8_t command = avr->data[spmcsrAddress] & spmCommandBits;
    // Both bootloaders erase a page before they write it: the erase starts a page write.
    if (command == pageErase && ++pageWrites == unplugAtPageWrite) {
        unplugged = true;
        saveFlash();
        tell(BoardEvent::unplugged);
    }
    return command == pageWrite && static_cast<int>(word(avr, 30) / flashPageSize) == corruptPage;
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
    // The pty's bytes go through the line's rate on their way into the USART.
    avr_unconnect_irq(bridge->irq + IRQ_UART_PTY_BYTE_OUT, uartInput(avr));
    avr_irq_register_notify(bridge->irq + IRQ_UART_PTY_BYTE_OUT, byteFromPty, this);
    // simavr's bridge keeps its own slave end open, so the master never sees a hang-up; inotify
    // tells each open of the slave's path by another process.
    ptyOpens = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (ptyOpens < 0 || inotify_add_watch(ptyOpens, bridge->pty.slavename, IN_OPEN) < 0)
        fail(std::string("cannot watch ") + bridge->pty.slavename + " for opens");
    return bridge->pty.slavename;
}

} // namespace board
