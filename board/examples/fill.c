/* Fills a memory range, a0 its address and a1 its length (set with sr
   before g), with a pattern the host can check after a dsave: byte i is
   the top byte of the i+1-th value of x = x * 1664525 + 1013904223 from
   x = a2, the generator the host's tests make their data with. */
#include "example.h"

unsigned seed_used;

unsigned main(unsigned address, unsigned length, unsigned seed)
{
    print_start_registers();
    if (length == 0) {
        uart_print("fill: set a0 to the address, a1 to the length, a2 to the seed first\r\n");
        return 0;
    }
    seed_used = seed;
    unsigned char *bytes = (unsigned char *)address;
    unsigned state = seed;
    for (unsigned i = 0; i < length; ++i) {
        state = state * 1664525u + 1013904223u;
        bytes[i] = (unsigned char)(state >> 24);
    }
    uart_print("filled ");
    uart_print_hex(length);
    uart_print(" bytes at ");
    uart_print_hex(address);
    uart_print(" from seed ");
    uart_print_hex(seed_used);
    uart_print("\r\n");
    return length;
}
