/* The monitor's side of the serial line: polled, no interrupts. */
#include "board_uart.h"
#include "monitor.h"

/* CP0 Count runs at half the 200 MHz clock QEMU gives the Malta's CPU; a
   real board's rate differs, which only stretches or shrinks the limit. */
#define COUNT_TICKS_PER_MS 100000u
/* A host that stops in the middle of an exchange must not leave the
   monitor taking its next command for block data. */
#define EXCHANGE_SILENCE_MS 2000u

static unsigned count_now(void)
{
    unsigned value;
    __asm__ volatile("mfc0 %0, $9" : "=r"(value));
    return value;
}

/* The southbridge's 8259s: only IRQ 4, the UART, reaches the CPU, and
   level-triggered, so the CPU's line follows "data ready" with no
   acknowledgement (interrupts are only ever taken to end a WAIT). */
#define ISA_PORT(port) ((volatile unsigned char *)(0xb8000000u + (port)))
static void interrupt_controller_init(void)
{
    *ISA_PORT(0x20) = 0x11; /* ICW1: cascade, ICW4 follows */
    *ISA_PORT(0x21) = 0x00; /* ICW2: vector base, unused */
    *ISA_PORT(0x21) = 0x04; /* ICW3: the slave on IRQ 2 */
    *ISA_PORT(0x21) = 0x01; /* ICW4: 8086 mode */
    *ISA_PORT(0x21) = 0xef; /* everything masked but IRQ 4 */
    *ISA_PORT(0xa1) = 0xff; /* the slave masked whole */
    *ISA_PORT(0x4d0) = 0x10; /* ELCR: IRQ 4 level-triggered */
}

void line_init(void)
{
    /* 115200 baud from the 1.8432 MHz clock, 8 data bits, no parity, one
       stop bit, FIFOs on; QEMU does not pace the line, a real UART does. */
    *uart_register(UART_INTERRUPTS) = 0;
    *uart_register(UART_LINE_CONTROL) = 0x80;
    *uart_register(UART_DATA) = 1;
    *uart_register(UART_INTERRUPTS) = 0;
    *uart_register(UART_LINE_CONTROL) = 0x03;
    /* FIFOs on and cleared, receive trigger at 14 bytes: QEMU then hands
       over up to 14 bytes at a time instead of one. */
    *uart_register(UART_FIFO_CONTROL) = 0xc7;
    /* DTR, RTS, and OUT2, which lets the UART's interrupt out on a PC-style
       board; the interrupt says "data ready" and nothing else. */
    *uart_register(UART_MODEM_CONTROL) = 0x0b;
    *uart_register(UART_INTERRUPTS) = 0x01;
    interrupt_controller_init();
}

void put_byte(unsigned char byte) { uart_put(byte); }

void print(const char *text) { uart_print(text); }

void print_hex(unsigned value) { uart_print_hex(value); }

/* Sleeps until a byte comes or Count reaches the deadline (start.S). */
void wait_for_line(unsigned deadline);

/* Each sleep is short, so that a deadline far off never depends on Count
   wrapping round. */
#define WAIT_SLICE_TICKS (100u * COUNT_TICKS_PER_MS)

unsigned char get_byte(void)
{
    while (!uart_has_byte()) wait_for_line(count_now() + WAIT_SLICE_TICKS);
    return uart_take_byte();
}

int get_byte_timed(unsigned char *byte)
{
    const unsigned start = count_now();
    while (!uart_has_byte()) {
        const unsigned waited = count_now() - start;
        const unsigned limit = EXCHANGE_SILENCE_MS * COUNT_TICKS_PER_MS;
        if (waited > limit) return 0;
        wait_for_line(count_now() + (limit - waited < WAIT_SLICE_TICKS ? limit - waited + 1 : WAIT_SLICE_TICKS));
    }
    *byte = uart_take_byte();
    return 1;
}
