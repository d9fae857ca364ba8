/* The board monitor's parts, shared by its C files. */
#ifndef MONITOR_H
#define MONITOR_H

#define BLOCK_SIZE 2048u
#define PROMPT "\r\n>> "

/* Serial line (serial_line.c). */
void line_init(void);
void put_byte(unsigned char byte);
void print(const char *text);
void print_hex(unsigned value);
unsigned char get_byte(void);
/* 1 with the byte, 0 when the line stayed silent for the exchange limit. */
int get_byte_timed(unsigned char *byte);

/* Text (text.c). */
int parse_hex(const char *text, unsigned *value);
int same_text(const char *a, const char *b);
int same_text_folded(const char *a, const char *b);
void copy_bytes(void *to, const void *from, unsigned count);

/* Memory the host and the programs may use (memory_map.c). */
void memory_map_init(unsigned boot_ram_size);
int free_ram(unsigned address, unsigned length);
void print_free_ram(void);
void note_written(unsigned address, unsigned length);
void sync_written(void);
void sync_instructions(unsigned from, unsigned to);

/* Registers (registers.c). */
int register_index(const char *name);
void set_register(int index, unsigned value);
unsigned get_register(int index);
void list_registers(void);
#define REGISTER_GP 28
#define REGISTER_SP 29
#define REGISTER_A0 4
#define REGISTER_EPC 34

/* Binary exchanges (exchange.c). */
void binary_write(void);
void binary_read(void);

#endif
