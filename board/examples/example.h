/* What the example programs share: the board's serial port and a line
   that shows the start registers were as the program was linked to expect. */
#ifndef EXAMPLE_H
#define EXAMPLE_H

#include "board_uart.h"

extern unsigned entry_sp;
extern char _gp[];

static inline unsigned current_gp(void)
{
    unsigned value;
    __asm__("move %0, $gp" : "=r"(value));
    return value;
}

/* "gp 80028ff0 as linked, sp 801ffff0" */
static inline void print_start_registers(void)
{
    uart_print("gp ");
    uart_print_hex(current_gp());
    uart_print(current_gp() == (unsigned)_gp ? " as linked" : " NOT as linked");
    uart_print(", sp ");
    uart_print_hex(entry_sp);
    uart_print("\r\n");
}

#endif
