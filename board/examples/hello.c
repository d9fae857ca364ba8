/* Prints a greeting and how it was started, then returns to the monitor. */
#include "example.h"

/* Small data: reached through gp, so a wrong gp shows at once. */
const char *greeting = "hello from the board";
unsigned runs;

int main(void)
{
    ++runs;
    uart_print(greeting);
    uart_print("\r\n");
    print_start_registers();
    return 0x2a + (int)runs - 1;
}
