/* The binary exchanges with the host: after "BWR" or "BRD" the monitor
   answers "binary\r", takes the header (0x01, address and length, most
   significant byte first) and moves the data in 2048-byte blocks with an
   additive checksum, "Y" or "N" per block, until "end binary\r". The abort
   byte 0xFF, a byte out of place or a silent host ends it early. */
#include "monitor.h"

#define HEADER_BYTE 0x01u
#define BLOCK_START 0x02u
#define ABORT_BYTE 0xffu
#define ACK 'Y'
#define NAK 'N'

enum ending { ENDED, ABORTED, SILENT, OUT_OF_PLACE };

static unsigned char block[BLOCK_SIZE];

struct exchange {
    unsigned address;
    unsigned length;
    int allowed;
};

static enum ending refusal(unsigned char byte)
{
    return byte == ABORT_BYTE ? ABORTED : OUT_OF_PLACE;
}

static enum ending read_header(struct exchange *x)
{
    unsigned char bytes[9];
    for (int i = 0; i < 9; ++i) {
        if (!get_byte_timed(&bytes[i])) return SILENT;
        if (i == 0 && bytes[0] != HEADER_BYTE) return refusal(bytes[0]);
    }
    x->address = (unsigned)bytes[1] << 24 | (unsigned)bytes[2] << 16 | (unsigned)bytes[3] << 8 | bytes[4];
    x->length = (unsigned)bytes[5] << 24 | (unsigned)bytes[6] << 16 | (unsigned)bytes[7] << 8 | bytes[8];
    x->allowed = free_ram(x->address, x->length);
    return ENDED;
}

static unsigned block_bytes(const struct exchange *x, unsigned done)
{
    const unsigned left = x->length - done;
    return left < BLOCK_SIZE ? left : BLOCK_SIZE;
}

static enum ending next_block_start(void)
{
    unsigned char byte;
    if (!get_byte_timed(&byte)) return SILENT;
    return byte == BLOCK_START ? ENDED : refusal(byte);
}

/* The host sends every block whole; only the bytes the length covers are
   its data. A refused range gets "N" for every block, so the host gives up
   with the abort byte and nothing is written. */
static enum ending receive_blocks(const struct exchange *x)
{
    for (unsigned done = 0; done < x->length;) {
        const enum ending start = next_block_start();
        if (start != ENDED) return start;
        unsigned char sum = 0;
        unsigned char checksum;
        for (unsigned i = 0; i < BLOCK_SIZE; ++i) {
            if (!get_byte_timed(&block[i])) return SILENT;
            sum = (unsigned char)(sum + block[i]);
        }
        if (!get_byte_timed(&checksum)) return SILENT;
        if (!x->allowed || checksum != sum) {
            put_byte(NAK);
            continue;
        }
        const unsigned count = block_bytes(x, done);
        copy_bytes((void *)(x->address + done), block, count);
        note_written(x->address + done, count);
        done += BLOCK_SIZE;
        put_byte(ACK);
    }
    unsigned char closing;
    if (!get_byte_timed(&closing)) return SILENT;
    return closing == '\r' ? ENDED : refusal(closing);
}

/* Every block goes out whole; past the length it is padded with zeros, so
   nothing beyond the range is read. A refused range is answered with a
   checksum that cannot match, so the host gives up with the abort byte. */
static enum ending send_blocks(const struct exchange *x)
{
    for (unsigned done = 0; done < x->length;) {
        const enum ending start = next_block_start();
        if (start != ENDED) return start;
        const unsigned count = x->allowed ? block_bytes(x, done) : 0;
        const unsigned char *from = (const unsigned char *)(x->address + done);
        unsigned char sum = 0;
        for (unsigned i = 0; i < BLOCK_SIZE; ++i) {
            const unsigned char byte = i < count ? from[i] : 0;
            sum = (unsigned char)(sum + byte);
            put_byte(byte);
        }
        put_byte(x->allowed ? sum : (unsigned char)(sum + 1));
        unsigned char reply;
        if (!get_byte_timed(&reply)) return SILENT;
        if (reply == ACK) {
            done += BLOCK_SIZE;
        } else if (reply != NAK) {
            return refusal(reply);
        }
    }
    return ENDED;
}

static void report(const struct exchange *x, enum ending how, int header_read)
{
    if (how == ENDED) {
        print("end binary\r");
        print(PROMPT);
        return;
    }
    print("\r\n");
    if (header_read && !x->allowed) {
        print("refused: ");
        print_hex(x->address);
        print(" length ");
        print_hex(x->length);
        print(" is not free RAM\r\n");
        print_free_ram();
    } else if (how == ABORTED) {
        print("exchange aborted by the host\r\n");
    } else if (how == SILENT) {
        print("exchange abandoned: the host went silent\r\n");
    } else {
        print("exchange abandoned: unexpected byte from the host\r\n");
    }
    print(PROMPT);
}

static void run_exchange(enum ending (*blocks)(const struct exchange *))
{
    struct exchange x = {0, 0, 1};
    print("binary\r");
    enum ending how = read_header(&x);
    const int header_read = how == ENDED;
    if (how == ENDED) how = blocks(&x);
    report(&x, how, header_read);
}

void binary_write(void) { run_exchange(receive_blocks); }

void binary_read(void) { run_exchange(send_blocks); }
