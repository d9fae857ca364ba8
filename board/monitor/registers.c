/* The register file a program starts with: what sr sets and dr lists. */
#include "monitor.h"

#define REGISTER_COUNT 35

static const char *const names[REGISTER_COUNT] = {
    "zero", "at", "v0", "v1", "a0", "a1", "a2", "a3", "t0", "t1", "t2", "t3",
    "t4",   "t5", "t6", "t7", "s0", "s1", "s2", "s3", "s4", "s5", "s6", "s7",
    "t8",   "t9", "k0", "k1", "gp", "sp", "s8", "ra", "hi", "lo", "epc"};

static unsigned values[REGISTER_COUNT];

/* A name from the table, fp for s8, or r0 to r31; -1 for anything else. */
int register_index(const char *name)
{
    for (int i = 0; i < REGISTER_COUNT; ++i) {
        if (same_text_folded(name, names[i])) return i;
    }
    if (same_text_folded(name, "fp")) return 30;
    if (name[0] != 'r' && name[0] != 'R') return -1;
    const char *digits = name + 1;
    if (digits[0] < '0' || digits[0] > '9') return -1;
    if (digits[1] == '\0') return digits[0] - '0';
    if (digits[0] == '0' || digits[1] < '0' || digits[1] > '9' || digits[2] != '\0') return -1;
    const int number = (digits[0] - '0') * 10 + (digits[1] - '0');
    return number < 32 ? number : -1;
}

void set_register(int index, unsigned value)
{
    if (index > 0 && index < REGISTER_COUNT) values[index] = value;
}

unsigned get_register(int index) { return values[index]; }

void list_registers(void)
{
    for (int i = 0; i < REGISTER_COUNT; ++i) {
        const char *name = names[i];
        int length = 0;
        while (name[length] != '\0') ++length;
        for (; length < 4; ++length) put_byte(' ');
        print(name);
        put_byte('=');
        print_hex(values[i]);
        print(i % 4 == 3 || i == REGISTER_COUNT - 1 ? "\r\n" : "  ");
    }
}
