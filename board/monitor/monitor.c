/* The board monitor: a banner, the ">>" prompt, a line editor that echoes
   what it receives, and the commands the console and its users need. */
#include "context.h"
#include "monitor.h"

#define MAX_LINE 128
#define MAX_WORDS 4
#define DEFAULT_DUMP_WORDS 0x10u
#define MAX_DUMP_WORDS 0x1000u

struct context monitor_home;
unsigned program_result;
struct exception_info exception_record;

static char line[MAX_LINE + 1];
static unsigned line_length;
/* The byte before was a CR, so that CR LF ends one line; kept while a
   program runs, as its LF comes after the program's return. */
static int last_was_cr;

static const char help_text[] =
    "sr REG HEX        set a register (epc, gp, sp, r0..r31, at, v0, ..., ra, hi, lo)\r\n"
    "dr                list the registers\r\n"
    "dw ADDR [COUNT]   dump COUNT memory words (hex, default 10)\r\n"
    "g                 run from epc with gp, sp and a0..a3; a return comes back here\r\n"
    "BWR, BRD          binary write and read exchanges with the host\r\n"
    "help              this list\r\n";

static void set_register_command(char **words, int count)
{
    unsigned value;
    if (count != 3) {
        print("usage: sr REG HEX\r\n");
        return;
    }
    const int index = register_index(words[1]);
    if (index < 0) {
        print("unknown register\r\n");
    } else if (!parse_hex(words[2], &value)) {
        print("bad value\r\n");
    } else {
        set_register(index, value);
    }
}

static void dump_words(char **words, int count)
{
    unsigned address, words_wanted = DEFAULT_DUMP_WORDS;
    if (count < 2 || count > 3) {
        print("usage: dw ADDR [COUNT]\r\n");
        return;
    }
    if (!parse_hex(words[1], &address)) {
        print("bad address\r\n");
        return;
    }
    if (count == 3 && (!parse_hex(words[2], &words_wanted) || words_wanted == 0 || words_wanted > MAX_DUMP_WORDS)) {
        print("bad count\r\n");
        return;
    }
    if ((address & 3u) != 0 || !free_ram(address, words_wanted * 4)) {
        print("not free RAM or not word aligned: ");
        print_hex(address);
        print("\r\n");
        print_free_ram();
        return;
    }
    for (unsigned i = 0; i < words_wanted; ++i) {
        const unsigned at = address + 4 * i;
        if (i % 4 == 0) {
            print_hex(at);
            put_byte(':');
        }
        put_byte(' ');
        print_hex(*(const volatile unsigned *)at);
        if (i % 4 == 3 || i + 1 == words_wanted) print("\r\n");
    }
}

static void go(void)
{
    const struct start_registers start = {
        get_register(REGISTER_EPC), get_register(REGISTER_GP),     get_register(REGISTER_SP),
        get_register(REGISTER_A0),  get_register(REGISTER_A0 + 1), get_register(REGISTER_A0 + 2),
        get_register(REGISTER_A0 + 3)};
    if ((start.epc & 3u) != 0 || !free_ram(start.epc, 4)) {
        print("epc ");
        print_hex(start.epc);
        print(" is not code in free RAM; set it with sr epc or a load\r\n");
        print(PROMPT);
        return;
    }
    sync_written();
    start_program(&start);
}

static int split_words(char **words)
{
    int count = 0;
    char *at = line;
    for (;;) {
        while (*at == ' ' || *at == '\t') *at++ = '\0';
        if (*at == '\0' || count == MAX_WORDS) return count;
        words[count++] = at;
        while (*at != '\0' && *at != ' ' && *at != '\t') ++at;
    }
}

/* 1 when the line was an exchange, which took bytes of its own: the next
   byte then follows them, not the line's CR. */
static int run_line(void)
{
    char *words[MAX_WORDS];
    line[line_length] = '\0';
    line_length = 0;
    const int count = split_words(words);
    /* The exchange commands are the protocol's own words, upper case only;
       they print their own prompt when they end. */
    if (count > 0 && same_text(words[0], "BWR")) {
        binary_write();
        return 1;
    }
    if (count > 0 && same_text(words[0], "BRD")) {
        binary_read();
        return 1;
    }
    if (count > 0 && same_text_folded(words[0], "g")) {
        go();
        return 0;
    }
    if (count == 0) {
    } else if (same_text_folded(words[0], "sr")) {
        set_register_command(words, count);
    } else if (same_text_folded(words[0], "dr")) {
        list_registers();
    } else if (same_text_folded(words[0], "dw")) {
        dump_words(words, count);
    } else if (same_text_folded(words[0], "help")) {
        print(help_text);
    } else {
        print("unknown command\r\n");
    }
    print(PROMPT);
    return 0;
}

/* CR, LF or CR LF end a line; backspace and delete take back a byte; other
   control bytes, and stray abort bytes of an exchange already given up,
   are no part of a command. */
static void serve(void)
{
    for (;;) {
        const unsigned char byte = get_byte();
        const int after_cr = last_was_cr;
        last_was_cr = byte == '\r';
        if (byte == '\n' && after_cr) continue;
        if (byte == '\r' || byte == '\n') {
            print("\r\n");
            if (run_line()) last_was_cr = 0;
        } else if (byte == 0x08 || byte == 0x7f) {
            if (line_length > 0) {
                --line_length;
                print("\b \b");
            }
        } else if (byte >= 0x20 && byte <= 0x7e) {
            if (line_length == MAX_LINE) {
                put_byte('\a');
            } else {
                line[line_length++] = (char)byte;
                put_byte(byte);
            }
        }
    }
}

static const char *exception_name(unsigned code)
{
    switch (code) {
    case 1: return "TLB modified";
    case 2: return "TLB miss on load or fetch";
    case 3: return "TLB miss on store";
    case 4: return "address error on load or fetch";
    case 5: return "address error on store";
    case 6: return "bus error on fetch";
    case 7: return "bus error on data";
    case 9: return "breakpoint";
    case 10: return "reserved instruction";
    case 11: return "coprocessor unusable";
    case 12: return "arithmetic overflow";
    case 13: return "trap";
    default: return "exception";
    }
}

static void report_comeback(int why)
{
    if (why == RESUME_RETURNED) {
        print("\r\nprogram returned ");
        print_hex(program_result);
    } else {
        const unsigned code = (exception_record.cause >> 2) & 0x1fu;
        print("\r\n");
        print(exception_name(code));
        print(" (cause ");
        print_hex(exception_record.cause);
        print(") at ");
        print_hex(exception_record.epc);
        print(", address ");
        print_hex(exception_record.bad_address);
    }
    print(PROMPT);
}

void monitor_main(unsigned boot_ram_size)
{
    line_init();
    memory_map_init(boot_ram_size);
    print("\r\nkembri resident monitor (TOLVANIS board firmware, MIPS Malta)\r\ntype help for the commands\r\n");
    print_free_ram();
    print(PROMPT);
    /* A program's return and a fault, in a program or here, come back to
       this point with the monitor's own stack and registers. */
    const int why = save_context(&monitor_home);
    if (why != 0) {
        line_length = 0;
        report_comeback(why);
    }
    serve();
}
