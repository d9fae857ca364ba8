/* The little text handling the monitor needs, without a C library. */
#include "monitor.h"

static int hex_digit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

/* 1 to 8 hexadecimal digits with an optional 0x; 0 for anything else. */
int parse_hex(const char *text, unsigned *value)
{
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X') && text[2] != '\0') text += 2;
    unsigned result = 0;
    int digits = 0;
    for (; *text != '\0'; ++text, ++digits) {
        const int digit = hex_digit(*text);
        if (digit < 0 || digits == 8) return 0;
        result = result << 4 | (unsigned)digit;
    }
    if (digits == 0) return 0;
    *value = result;
    return 1;
}

int same_text(const char *a, const char *b)
{
    while (*a != '\0' && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

static char folded(char c) { return c >= 'A' && c <= 'Z' ? (char)(c - 'A' + 'a') : c; }

int same_text_folded(const char *a, const char *b)
{
    while (*a != '\0' && folded(*a) == folded(*b)) {
        ++a;
        ++b;
    }
    return folded(*a) == folded(*b);
}

void copy_bytes(void *to, const void *from, unsigned count)
{
    unsigned char *out = to;
    const unsigned char *in = from;
    while (count-- > 0) *out++ = *in++;
}

/* GCC may turn loops into calls of these even in freestanding code. */
void *memcpy(void *to, const void *from, unsigned count)
{
    copy_bytes(to, from, count);
    return to;
}

void *memset(void *to, int value, unsigned count)
{
    unsigned char *out = to;
    while (count-- > 0) *out++ = (unsigned char)value;
    return to;
}
