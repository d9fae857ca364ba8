/* Sums the bytes of a memory range, a0 its address and a1 its length (set
   with sr before g), as the host loaded them with dload. */
#include "example.h"

unsigned last_sum;

unsigned main(unsigned address, unsigned length)
{
    print_start_registers();
    if (length == 0) {
        uart_print("sum: set a0 to the address and a1 to the length first\r\n");
        return 0;
    }
    const unsigned char *bytes = (const unsigned char *)address;
    unsigned sum = 0;
    for (unsigned i = 0; i < length; ++i) sum += bytes[i];
    last_sum = sum;
    uart_print("sum of ");
    uart_print_hex(length);
    uart_print(" bytes at ");
    uart_print_hex(address);
    uart_print(": ");
    uart_print_hex(last_sum);
    uart_print("\r\n");
    return sum;
}
