// The idle page 0 the set-up tool writes while an image goes in, run on the simulated chip behind
// either bootloader: it clears the bus of a v2 shield's PCA9685 holding SDA low, switches the chip
// off where it was left driving the fans, and ends in its loop with every pin an input and the TWI,
// USART and watchdog off, with or without a chip on the bus.
#include "board_setup/idle_page.h"
#include "firmware_run.h"
#include "shield.h"

#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <memory>

extern "C" {
#include <sim_avr.h>
}

namespace {

// Data-space addresses.
constexpr unsigned ddrb = 0x24, portb = 0x25, ddrc = 0x27, portc = 0x28, ddrd = 0x2A, portd = 0x2B,
                   wdtcsr = 0x60, twcr = 0xBC, ucsr0b = 0xC1;
constexpr std::uint8_t twen = 1 << 2, wde = 1 << 3, wdie = 1 << 6;

TEST(IdlePage, TheToolsWordsAreTheAssembledCodeOnAnErasedPage) {
    std::ifstream file(firmwarePath("idle-page.bin"), std::ios::binary);
    ASSERT_TRUE(file) << "the firmware preset assembles firmware/idle_page.S";
    const std::vector<std::uint8_t> assembled{std::istreambuf_iterator<char>(file), {}};
    const std::vector<std::uint8_t> page(idlePage().begin(), idlePage().end());
    ASSERT_EQ(page.size(), 128u);
    ASSERT_LE(assembled.size(), page.size());
    EXPECT_EQ(std::vector<std::uint8_t>(page.begin(), page.begin() + static_cast<long>(assembled.size())),
              assembled);
    EXPECT_TRUE(std::all_of(page.begin() + static_cast<long>(assembled.size()), page.end(),
                            [](std::uint8_t byte) { return byte == 0xFF; }));
}

// As a program before left the v2 shield's chip: awake, both motors forward at full.
void driveBothMotors(board::Pca9685& pca) {
    pca.setRegister(0x00, 0x20);
    for (int channel : {8, 10, 11, 13}) { // PWM and IN1 full on, IN2 (9, 12) full off
        pca.setRegister(static_cast<std::uint8_t>(0x06 + 4 * channel + 1), 0x10);
        pca.setRegister(static_cast<std::uint8_t>(0x06 + 4 * channel + 3), 0x00);
    }
}

TEST(IdlePage, SwitchesAShieldsChipOffAndLoopsWithEveryPinAnInput) {
    const struct {
        const char* what;
        board::Bootloader bootloader;
        bool shield;  // a v2 shield on the bus
        bool answers; // its chip answers
        bool portOpened;
        unsigned sdaHeld; // clocks its chip holds SDA low for, caught partway through a byte
    } cases[] = {
        {"a v2 shield left driving, Optiboot, powered on", board::Bootloader::optiboot, true, true, false, 0},
        {"a v2 shield left driving, the old Nano bootloader", board::Bootloader::oldNano, true, true, true,
         0},
        {"a v2 shield holding SDA for one clock more", board::Bootloader::optiboot, true, true, true, 1},
        {"a v2 shield holding SDA for eight clocks more", board::Bootloader::oldNano, true, true, true, 8},
        {"nothing on the bus to answer", board::Bootloader::optiboot, false, false, true, 0},
    };
    for (const auto& c : cases) {
        board::BoardSetup setup;
        setup.bootloader = c.bootloader;
        FirmwareRun run(setup);
        run.board.writeFlash(0, std::vector<std::uint8_t>(idlePage().begin(), idlePage().end()));
        run.board.writeFlash(0x80, {0x0C, 0x94, 0x42, 0x00}); // the rest of an image on its way
        std::unique_ptr<board::Shield> shield;
        if (c.shield) {
            shield = std::make_unique<board::Shield>(run.board, board::OutputKind::motorShieldV2, c.answers);
            driveBothMotors(*shield->pca());
            shield->pca()->holdSdaLow(c.sdaHeld);
            ASSERT_EQ(shield->fan(1).state, "forward") << c.what;
        }
        if (c.portOpened) {
            run.runTo(0.1);
            run.board.resetExternally();
        }
        const double started = run.runUntilFirmwareRuns(4.0);
        ASSERT_GT(started, 0.0) << c.what;
        // Four bounded TWI steps at most, under a millisecond each.
        run.runTo(started + 0.005);
        const avr_t* avr = run.board.chip();
        const auto loopAt = avr->pc;
        EXPECT_LT(loopAt, 128u) << c.what << ": in page 0";
        for (const unsigned reg : {ddrb, portb, ddrc, portc, ddrd, portd, ucsr0b})
            EXPECT_EQ(avr->data[reg], 0) << c.what << " at " << std::hex << reg;
        EXPECT_EQ(avr->data[twcr] & twen, 0) << c.what << ": the TWI off";
        EXPECT_EQ(avr->data[wdtcsr] & (wde | wdie), 0) << c.what << ": the watchdog off";
        if (c.shield && c.answers) {
            EXPECT_FALSE(shield->pca()->holdsSda()) << c.what;
            EXPECT_FALSE(shield->pca()->sclDrivenHigh()) << c.what;
            EXPECT_GE(shield->pca()->resets(), 1u) << c.what;
            for (int channel = 0; channel < 16; ++channel)
                EXPECT_TRUE(shield->pca()->fullOff(channel)) << c.what << ": channel " << channel;
            EXPECT_EQ(shield->fan(1).state, "coast") << c.what;
            EXPECT_EQ(shield->fan(2).state, "coast") << c.what;
        }
        // And it stays there, the bootloader not started again.
        const unsigned resets = shield ? shield->pca()->resets() : 0;
        run.runTo(started + 2.0);
        EXPECT_EQ(avr->pc, loopAt) << c.what;
        EXPECT_TRUE(run.board.firmwareRunning()) << c.what;
        if (shield) {
            EXPECT_EQ(shield->pca()->resets(), resets) << c.what;
        }
    }
}

} // namespace
