; The idle page 0 the set-up tool writes while the rest of an image goes in (and again after a page
; reads back wrong): the program a board runs between a reset and the end of a write, or for good
; when the write is cut short. It switches off a PCA9685 on the I2C bus (the Adafruit Motor
; Shield v2's, which keeps driving through a reset) with the general call's software reset, and
; then loops with every pin an input, the TWI, the USART and the watchdog off.
;
; The bus is bit-banged on A4 (SDA, PC4) and A5 (SCL, PC5), the TWI left off: a chip the reset
; caught partway through a byte holds SDA low, and only clocks on SCL free it (the bus clear), which
; the TWI cannot give; and the page has no room for both. The lines are open-drain, as the bus is:
; the port bits stay 0 and a line is pulled low by making it an output, let go by making it an
; input for the shield's pull-ups to raise. Nothing on A4 or A5 is ever driven high.
;
; The tool carries these words written out (board_setup/idle_page.cpp); the firmware tests check
; them against this file as the firmware preset assembles it, and run them on the simulated chip.
; It must fit one page (64 words) and use no RAM but the stack, set here: a reset leaves nothing to
; count on, and the old Nano bootloader jumps here without one.
#include <avr/io.h>

; A chip partway through a byte lets SDA go within nine clocks: the rest of its byte and the
; acknowledge.
#define busClearClocks 9
; Half a clock: 82 cycles with the call, 5.1 us at 16 MHz; a bit is two of them and a few cycles
; (about 90 kHz, within standard mode's 100 kHz, its 4.7 us low and 4 us high times).
#define halfClockLoops 25

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
    ; Every pin of port C an input without pull-up: SDA and SCL let go.
    out     _SFR_IO_ADDR(DDRC), r1
    out     _SFR_IO_ADDR(PORTC), r1
    ; The bus clear: SCL clocked while SDA stays low, nine times at most.
    ldi     r18, busClearClocks
busClear:
    sbic    _SFR_IO_ADDR(PINC), PC4
    rjmp    busFree
    sbi     _SFR_IO_ADDR(DDRC), PC5         ; SCL low
    rcall   halfClock
    cbi     _SFR_IO_ADDR(DDRC), PC5         ; SCL let go
    rcall   halfClock
    dec     r18
    brne    busClear
busFree:
    ; A STOP ends whatever transfer a chip thought it was in; then START, the general call
    ; address (0, write), the software reset byte (6), STOP. No acknowledge is looked at: with
    ; nothing on the bus each goes unanswered, and the next goes on.
    rcall   stop
    sbi     _SFR_IO_ADDR(DDRC), PC4         ; START: SDA falls while SCL is high
    rcall   halfClock
    mov     r16, r1
    rcall   sendByte
    ldi     r16, 0x06
    rcall   sendByte
    rcall   stop
idle:
    rjmp    idle

; Sends r16, most significant bit first, then lets SDA go for the acknowledge: nine bits, the ninth
; the 1 the carry brings in as r16 and the carry rotate together. SCL is high on entry and exit;
; SDA changes only while it is low. Uses r16, r17, r24.
sendByte:
    sec
    ldi     r17, 9
sendBit:
    sbi     _SFR_IO_ADDR(DDRC), PC5         ; SCL low
    sbi     _SFR_IO_ADDR(DDRC), PC4         ; SDA low for a 0...
    rol     r16
    brcc    bitSet
    cbi     _SFR_IO_ADDR(DDRC), PC4         ; ... let go for a 1
bitSet:
    rcall   halfClock
    cbi     _SFR_IO_ADDR(DDRC), PC5         ; SCL let go: the bit is read
    rcall   halfClock
    dec     r17
    brne    sendBit
    ret

; STOP: SCL low, SDA low, SCL let go, then SDA let go while SCL is high. Both lines end let go.
stop:
    sbi     _SFR_IO_ADDR(DDRC), PC5
    rcall   halfClock
    sbi     _SFR_IO_ADDR(DDRC), PC4
    rcall   halfClock
    cbi     _SFR_IO_ADDR(DDRC), PC5
    rcall   halfClock
    cbi     _SFR_IO_ADDR(DDRC), PC4
    ; and on into halfClock, the time a STOP needs before the next START

; About half a clock. Uses r24.
halfClock:
    ldi     r24, halfClockLoops
halfClockLoop:
    dec     r24
    brne    halfClockLoop
    ret
