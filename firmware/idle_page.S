; The idle page 0 the set-up tool writes while the rest of an image goes in (and again after a page
; reads back wrong): the program a board runs between a reset and the end of a write, or for good
; when the write is cut short. It switches off a PCA9685 on the I2C bus (the Adafruit Motor
; Shield v2's, which keeps driving through a reset) with the general call's software reset, and
; then loops with every pin an input, the TWI, the USART and the watchdog off.
;
; The tool carries these words written out (board_setup/idle_page.cpp); the firmware tests check
; them against this file as the firmware preset assembles it, and run them on the simulated chip.
; It must fit one page (64 words) and use no RAM but the stack, set here: a reset leaves nothing to
; count on, and the old Nano bootloader jumps here without one.
#include <avr/io.h>

; 16 MHz / (16 + 2 * 72) = 100 kHz: standard mode, which the chip's own weak pull-ups carry when a
; board has no others.
#define bitRate 72
; Looks at the TWI per step, 7 cycles each: 0.9 ms, some ten bytes' time. A bus that never answers
; (nothing on it, a line held low) costs four of them before the loop.
#define twiLooks 2000

    .section .text
    .global idlePage
idlePage:
    cli                                     ; interrupts stay off: no vector table here
    clr     r1
    ldi     r16, hi8(RAMEND)
    out     _SFR_IO_ADDR(SPH), r16
    ldi     r16, lo8(RAMEND)
    out     _SFR_IO_ADDR(SPL), r16
    ; The watchdog off, WDRF first (it holds WDE on): a board that came here by a watchdog reset
    ; would otherwise restart every 16 ms.
    out     _SFR_IO_ADDR(MCUSR), r1
    ldi     r16, _BV(WDCE) | _BV(WDE)
    sts     WDTCSR, r16
    sts     WDTCSR, r1
    ; What a bootloader may have left driving a pin: its USART (TXD), SPI, its LED.
    sts     UCSR0B, r1
    out     _SFR_IO_ADDR(SPCR), r1
    out     _SFR_IO_ADDR(DDRB), r1
    out     _SFR_IO_ADDR(PORTB), r1
    out     _SFR_IO_ADDR(DDRD), r1
    out     _SFR_IO_ADDR(PORTD), r1
    out     _SFR_IO_ADDR(DDRC), r1
    ; SDA (A4) and SCL (A5) pulled up while the TWI uses them, so the bus idles high without a
    ; shield's pull-ups. The TWI only ever pulls them low: nothing on A4 or A5 is driven high.
    ldi     r16, _BV(PC4) | _BV(PC5)
    out     _SFR_IO_ADDR(PORTC), r16
    sts     PRR, r1
    sts     TWSR, r1
    ldi     r16, bitRate
    sts     TWBR, r16
    ; START, the general call address (0, write), the software reset byte (6), STOP. No step's
    ; outcome matters: with nothing on the bus each is left unanswered, and the next goes on.
    ldi     r16, _BV(TWINT) | _BV(TWSTA) | _BV(TWEN)
    rcall   twiStep
    sts     TWDR, r1
    ldi     r16, _BV(TWINT) | _BV(TWEN)
    rcall   twiStep
    ldi     r17, 0x06
    sts     TWDR, r17
    rcall   twiStep
    ; A STOP sets no TWINT: the step waits its whole bound, long enough for the STOP to go out.
    ldi     r16, _BV(TWINT) | _BV(TWSTO) | _BV(TWEN)
    rcall   twiStep
    ; The TWI off gives A4 and A5 back to the port: inputs, and the pull-ups off.
    sts     TWCR, r1
    out     _SFR_IO_ADDR(PORTC), r1
idle:
    rjmp    idle

; Writes r16 to TWCR and waits until TWINT is set, at most twiLooks looks. Uses r17, r24, r25.
twiStep:
    sts     TWCR, r16
    ldi     r24, lo8(twiLooks)
    ldi     r25, hi8(twiLooks)
twiLook:
    lds     r17, TWCR
    sbrc    r17, TWINT
    ret
    sbiw    r24, 1
    brne    twiLook
    ret
