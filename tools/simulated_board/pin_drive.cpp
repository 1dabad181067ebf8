// The pins' drive from the registers: the port's direction and value, or a timer's PWM where its
// compare output is connected. Duty formulas as the datasheet gives them for each waveform mode.
#include "pin_drive.h"
#include "board.h"

#include <cstdio>

extern "C" {
#include <sim_avr.h>
}

namespace board {
namespace {

// Data-space addresses: PINx, DDRx, PORTx follow each other for B, C and D.
constexpr unsigned ddrbAddress = 0x24, ddrcAddress = 0x27, ddrdAddress = 0x2A;
constexpr unsigned tccr0aAddress = 0x44, tccr0bAddress = 0x45, ocr0aAddress = 0x47, ocr0bAddress = 0x48;
constexpr unsigned tccr1aAddress = 0x80, tccr1bAddress = 0x81, icr1Address = 0x86, ocr1aAddress = 0x88,
                   ocr1bAddress = 0x8A;
constexpr unsigned tccr2aAddress = 0xB0, tccr2bAddress = 0xB1, ocr2aAddress = 0xB3, ocr2bAddress = 0xB4;

struct Compare {
    int timer;     // 0, 1, 2
    bool channelB; // OCxB rather than OCxA
};

// The pins a timer can drive: OC0A D6, OC0B D5, OC1A D9, OC1B D10, OC2A D11, OC2B D3.
bool compareOf(int pin, Compare& compare) {
    switch (pin) {
    case 6: compare = {0, false}; return true;
    case 5: compare = {0, true}; return true;
    case 9: compare = {1, false}; return true;
    case 10: compare = {1, true}; return true;
    case 11: compare = {2, false}; return true;
    case 3: compare = {2, true}; return true;
    default: return false;
    }
}

std::uint16_t word(const avr_t* avr, unsigned address) {
    return static_cast<std::uint16_t>(avr->data[address] | avr->data[address + 1] << 8);
}

unsigned prescalerOf(int timer, std::uint8_t clockSelect) {
    static constexpr unsigned timer01[8] = {0, 1, 8, 64, 256, 1024, 0, 0};
    static constexpr unsigned timer2[8] = {0, 1, 8, 32, 64, 128, 256, 1024};
    return timer == 2 ? timer2[clockSelect & 7] : timer01[clockSelect & 7];
}

// The PWM on a connected compare output, or false when the timer makes none there.
bool timerPwm(const avr_t* avr, const Compare& compare, PinDrive& drive) {
    const unsigned controlA = compare.timer == 0   ? tccr0aAddress
                              : compare.timer == 1 ? tccr1aAddress
                                                   : tccr2aAddress;
    const std::uint8_t tccrA = avr->data[controlA], tccrB = avr->data[controlA + 1];
    const unsigned com = (tccrA >> (compare.channelB ? 4 : 6)) & 3;
    if (com < 2) return false; // not connected (toggle mode makes no PWM a fan would use)
    const unsigned prescaler = prescalerOf(compare.timer, tccrB);
    double duty = 0.0, hz = 0.0;
    if (compare.timer == 1) {
        const unsigned mode = (tccrA & 3) | ((tccrB >> 1) & 0x0C);
        const double top = word(avr, icr1Address);
        const double ocr = word(avr, compare.channelB ? ocr1bAddress : ocr1aAddress);
        if (top == 0 || prescaler == 0) return false;
        if (mode == 8 || mode == 10) { // phase (and frequency) correct, TOP = ICR1
            duty = ocr / top;
            hz = clockHz / (2.0 * prescaler * top);
        } else if (mode == 14) { // fast, TOP = ICR1
            duty = (ocr + 1) / (top + 1);
            hz = clockHz / (prescaler * (top + 1));
        } else {
            return false;
        }
    } else {
        const unsigned base = compare.timer == 0 ? ocr0aAddress : ocr2aAddress;
        const unsigned mode = (tccrA & 3) | ((tccrB >> 1) & 4);
        const double ocrA = avr->data[base], ocr = avr->data[compare.channelB ? base + 1 : base];
        if (prescaler == 0) return false;
        if (mode == 3) { // fast, TOP 255: OCR 0 is still a one-count spike
            duty = (ocr + 1) / 256.0;
            hz = clockHz / (prescaler * 256.0);
        } else if (mode == 7 && compare.channelB) { // fast, TOP = OCRA
            duty = (ocr + 1) / (ocrA + 1);
            hz = clockHz / (prescaler * (ocrA + 1));
        } else if (mode == 1) { // phase correct, TOP 255
            duty = ocr / 255.0;
            hz = clockHz / (prescaler * 510.0);
        } else if (mode == 5 && compare.channelB && ocrA > 0) { // phase correct, TOP = OCRA
            duty = ocr / ocrA;
            hz = clockHz / (prescaler * 2.0 * ocrA);
        } else {
            return false;
        }
    }
    if (duty > 1.0) duty = 1.0;
    if (com == 3) duty = 1.0 - duty; // inverting
    drive = {PinDrive::pwm, duty, hz};
    return true;
}

} // namespace

PinDrive pinDrive(const avr_t* avr, int pin) {
    const unsigned ddr = pin < 8 ? ddrdAddress : pin < pinA0 ? ddrbAddress : ddrcAddress;
    const int bit = pin < 8 ? pin : pin < pinA0 ? pin - 8 : pin - pinA0;
    const bool output = avr->data[ddr] & (1 << bit);
    const bool set = avr->data[ddr + 1] & (1 << bit);
    if (!output) return {set ? PinDrive::pulledUp : PinDrive::released, 0.0, 0.0};
    Compare compare;
    PinDrive drive;
    if (compareOf(pin, compare) && timerPwm(avr, compare, drive)) return drive;
    return set ? PinDrive{PinDrive::high, 1.0, 0.0} : PinDrive{PinDrive::low, 0.0, 0.0};
}

const char* describePin(const PinDrive& drive, char* text, unsigned size) {
    switch (drive.kind) {
    case PinDrive::released: std::snprintf(text, size, "released"); break;
    case PinDrive::pulledUp: std::snprintf(text, size, "pulled up"); break;
    case PinDrive::low: std::snprintf(text, size, "low"); break;
    case PinDrive::high: std::snprintf(text, size, "high"); break;
    case PinDrive::pwm:
        std::snprintf(text, size, "%.1f %% at %.2f kHz", 100.0 * drive.duty, drive.hz / 1000.0);
        break;
    }
    return text;
}

} // namespace board
