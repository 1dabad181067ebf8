// The simulated chips and wiring a shield adds, held to the parts they stand for, so that a
// firmware the real part would fault cannot pass on the model: the PCA9685 takes a prescaler only
// while asleep and resets on the general call; a driver module's input let go reads as floating.
#include "firmware_run.h"
#include "pca9685.h"
#include "shield.h"

#include <gtest/gtest.h>
#include <vector>

extern "C" {
#include <avr_twi.h>
#include <sim_avr.h>
}

namespace {

// A write transfer on the I2C bus, as simavr's TWI announces it to the chips on it.
struct Transfer {
    std::uint8_t address; // 7-bit
    std::vector<std::uint8_t> bytes;
};

void send(avr_t* avr, const Transfer& transfer) {
    avr_irq_t* bus = avr_io_getirq(avr, AVR_IOCTL_TWI_GETIRQ(0), TWI_IRQ_OUTPUT);
    const std::uint8_t address = static_cast<std::uint8_t>(transfer.address << 1);
    avr_raise_irq(bus, avr_twi_irq_msg(TWI_COND_START, address, 0));
    for (const std::uint8_t byte : transfer.bytes)
        avr_raise_irq(bus, avr_twi_irq_msg(TWI_COND_WRITE, address, byte));
    avr_raise_irq(bus, avr_twi_irq_msg(TWI_COND_STOP, address, 1));
}

constexpr double powerOnHz = 25e6 / (4096 * 31), fastestHz = 25e6 / (4096 * 4);
const Transfer wake{0x60, {0x00, 0x20}};                             // MODE1: awake, auto-increment
const Transfer sleep{0x60, {0x00, 0x30}};                            // MODE1: asleep
const Transfer fastest{0x60, {0xFE, 3}};                             // PRE_SCALE
const Transfer everyChannelOn{0x60, {0xFA, 0x00, 0x10, 0x00, 0x00}}; // ALL_LED: full on, not off

TEST(Pca9685Model, TakesThePrescalerOnlyAsleepAndResetsOnTheGeneralCall) {
    const struct {
        const char* what;
        std::vector<Transfer> transfers;
        double hz;
        bool asleep;
        bool channelsOn;
    } cases[] = {
        // clang-format off
        {"the prescaler written asleep", {sleep, fastest, wake}, fastestHz, false, false},
        // A firmware that skips the sleep leaves the chip at 200 Hz, where the fans whine.
        {"the prescaler written awake", {wake, fastest}, powerOnHz, false, false},
        {"the general call's software reset", {sleep, fastest, wake, everyChannelOn, {0x00, {0x06}}}, powerOnHz, true, false},
        {"the general call with another byte", {wake, everyChannelOn, {0x00, {0x07}}}, powerOnHz, false, true},
        // clang-format on
    };
    for (const auto& c : cases) {
        FirmwareRun run("ventora-fan.elf"); // any chip: the TWI's messages come from the test
        board::Pca9685 pca(run.board.chip(), 0x60);
        for (const Transfer& transfer : c.transfers)
            send(run.board.chip(), transfer);
        EXPECT_NEAR(pca.frequencyHz(), c.hz, 0.01) << c.what;
        EXPECT_EQ(pca.asleep(), c.asleep) << c.what;
        for (int channel = 0; channel < 16; ++channel)
            EXPECT_EQ(pca.fullOn(channel), c.channelsOn) << c.what << ": channel " << channel;
    }
}

TEST(DriverModel, ReadsAnInputLetGoAsFloating) {
    const struct {
        const char* what;
        int pin; // made an input without pull-up
        const char* fan1;
        const char* fan2;
    } cases[] = {
        {"every line driven", -1, "forward", "forward"},
        {"D8 let go", 8, "floating", "floating"},
        {"D10 let go", 10, "forward", "floating"},
    };
    for (const auto& c : cases) {
        FirmwareRun run("ventora-fan-driver.elf");
        board::Shield shield(run.board, board::OutputKind::driver);
        run.feedAt(0.1, 40);
        run.runTo(0.2);
        if (c.pin >= 0) {
            avr_t* avr = run.board.chip();
            avr->data[0x24] &= static_cast<std::uint8_t>(~(1 << (c.pin - 8))); // DDRB
            avr->data[0x25] &= static_cast<std::uint8_t>(~(1 << (c.pin - 8))); // PORTB
        }
        EXPECT_EQ(shield.fan(1).state, c.fan1) << c.what;
        EXPECT_EQ(shield.fan(2).state, c.fan2) << c.what;
    }
}

} // namespace
