/* The Malta board's first serial port: a 16550 on the ISA bus, reached
   uncached through kseg1, its registers one byte apart. Shared by the
   monitor and the example programs, which print on the same port. */
#ifndef BOARD_UART_H
#define BOARD_UART_H

#define UART_BASE 0xb80003f8u
#define UART_DATA 0u
#define UART_INTERRUPTS 1u
#define UART_FIFO_CONTROL 2u
#define UART_LINE_CONTROL 3u
#define UART_MODEM_CONTROL 4u
#define UART_LINE_STATUS 5u
#define UART_DATA_READY 0x01u
#define UART_TRANSMIT_EMPTY 0x20u

static inline volatile unsigned char *uart_register(unsigned offset)
{
    return (volatile unsigned char *)(UART_BASE + offset);
}

static inline int uart_has_byte(void)
{
    return (*uart_register(UART_LINE_STATUS) & UART_DATA_READY) != 0;
}

static inline unsigned char uart_take_byte(void)
{
    return *uart_register(UART_DATA);
}

static inline void uart_put(unsigned char byte)
{
    while ((*uart_register(UART_LINE_STATUS) & UART_TRANSMIT_EMPTY) == 0) {
    }
    *uart_register(UART_DATA) = byte;
}

static inline void uart_print(const char *text)
{
    while (*text != '\0') uart_put((unsigned char)*text++);
}

/* Eight lower-case hexadecimal digits, as the monitor writes every value. */
static inline void uart_print_hex(unsigned value)
{
    for (int shift = 28; shift >= 0; shift -= 4) uart_put((unsigned char)"0123456789abcdef"[(value >> shift) & 0xfu]);
}

#endif
