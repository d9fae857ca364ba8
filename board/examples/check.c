/* A test program as a CI job runs one: a few checks of the board, each
   reported, then "RESULT: PASS" or "RESULT: FAIL". a0 (set with sr before g)
   names a check to spoil on purpose, 1 to 3, so that a job can see its
   failing verdict too; 0 spoils none. */
#include "example.h"

static unsigned char scratch[256];

static int memory_holds_a_pattern(unsigned spoil)
{
    for (unsigned i = 0; i < sizeof scratch; ++i) scratch[i] = (unsigned char)(i * 7 + 1);
    if (spoil) scratch[100] ^= 0x40;
    for (unsigned i = 0; i < sizeof scratch; ++i) {
        if (scratch[i] != (unsigned char)(i * 7 + 1)) return 0;
    }
    return 1;
}

static int arithmetic_is_right(unsigned spoil)
{
    /* volatile: worked out on the CPU, not by the compiler. */
    volatile unsigned a = 1234567;
    volatile unsigned b = 89 + spoil;
    return a * b == 109876463u && a / b == 13871u && a % b == 48u;
}

static int words_compare(unsigned spoil)
{
    static const char expected[] = "kembri";
    char copy[sizeof expected];
    for (unsigned i = 0; i < sizeof expected; ++i) copy[i] = expected[i];
    if (spoil) copy[2] = 'x';
    for (unsigned i = 0; i < sizeof expected; ++i) {
        if (copy[i] != expected[i]) return 0;
    }
    return 1;
}

static int report(const char *name, int passed)
{
    uart_print("check ");
    uart_print(name);
    uart_print(passed ? ": ok\r\n" : ": FAILED\r\n");
    return passed;
}

unsigned main(unsigned spoiled)
{
    int passed = report("memory", memory_holds_a_pattern(spoiled == 1));
    passed = report("arithmetic", arithmetic_is_right(spoiled == 2)) && passed;
    passed = report("words", words_compare(spoiled == 3)) && passed;
    uart_print(passed ? "RESULT: PASS\r\n" : "RESULT: FAIL\r\n");
    return passed ? 0 : 1;
}
