/* Which addresses the host and the programs may use: RAM seen through
   kseg0 (cached) or kseg1 (uncached), less the monitor's own memory at its
   top. Everything else is refused by name, never touched: an address in
   kuseg would fault, one in kseg1 beyond RAM may be a device register. */
#include "monitor.h"

#define SEGMENT_MASK 0xe0000000u
#define KSEG0 0x80000000u
#define KSEG1 0xa0000000u
#define DEFAULT_RAM_SIZE 0x04000000u
#define LARGEST_LOW_RAM 0x10000000u

extern char __monitor_start[];
extern char __monitor_end[];

static unsigned ram_size;
static unsigned monitor_low;
static unsigned monitor_high; /* one past the end, physical */
static unsigned written_low = ~0u;
static unsigned written_high;

static unsigned physical(unsigned address) { return address & ~SEGMENT_MASK; }

void memory_map_init(unsigned boot_ram_size)
{
    monitor_low = physical((unsigned)__monitor_start);
    monitor_high = physical((unsigned)__monitor_end);
    /* The boot loader names the RAM below 256 MiB; a value that cannot be
       right (it would not even hold the monitor) is not believed. */
    ram_size = boot_ram_size;
    if (ram_size < monitor_high || ram_size > LARGEST_LOW_RAM) ram_size = DEFAULT_RAM_SIZE;
    if (ram_size < monitor_high) ram_size = monitor_high;
}

int free_ram(unsigned address, unsigned length)
{
    if (length == 0) return 1;
    const unsigned last = address + length - 1;
    const unsigned segment = address & SEGMENT_MASK;
    if (last < address || (segment != KSEG0 && segment != KSEG1)) return 0;
    if ((last & SEGMENT_MASK) != segment) return 0;
    const unsigned low = physical(address);
    const unsigned high = physical(last);
    if (high >= ram_size) return 0;
    return high < monitor_low || low >= monitor_high;
}

void print_free_ram(void)
{
    print("free RAM: ");
    print_hex(KSEG0);
    print("..");
    print_hex(KSEG0 + monitor_low - 1);
    if (monitor_high < ram_size) {
        print(", ");
        print_hex(KSEG0 + monitor_high);
        print("..");
        print_hex(KSEG0 + ram_size - 1);
    }
    print(" (or the same through a0000000)\r\n");
}

void note_written(unsigned address, unsigned length)
{
    /* Kept as kseg0 addresses: instruction fetch goes through the cache. */
    const unsigned low = KSEG0 | physical(address);
    if (low < written_low) written_low = low;
    if (low + length > written_high) written_high = low + length;
}

void sync_written(void)
{
    if (written_low < written_high) sync_instructions(written_low, written_high);
    written_low = ~0u;
    written_high = 0;
}
