/* Layouts shared by the assembly and the C of the monitor. */
#ifndef MONITOR_CONTEXT_H
#define MONITOR_CONTEXT_H

#define CTX_S0 0
#define CTX_S1 4
#define CTX_S2 8
#define CTX_S3 12
#define CTX_S4 16
#define CTX_S5 20
#define CTX_S6 24
#define CTX_S7 28
#define CTX_FP 32
#define CTX_GP 36
#define CTX_SP 40
#define CTX_RA 44
#define CTX_WORDS 12

#define START_EPC 0
#define START_GP 4
#define START_SP 8
#define START_A0 12
#define START_A1 16
#define START_A2 20
#define START_A3 24

/* Why the monitor came back to its saved context. */
#define RESUME_RETURNED 1
#define RESUME_FAULTED 2

#ifndef __ASSEMBLER__
struct context {
    unsigned words[CTX_WORDS];
};

struct start_registers {
    unsigned epc, gp, sp, a0, a1, a2, a3;
};

struct exception_info {
    unsigned cause, epc, bad_address;
};

extern struct context monitor_home;
extern unsigned program_result;
extern struct exception_info exception_record;

int save_context(struct context *where);
void resume_context(struct context *where, int why) __attribute__((noreturn));
void start_program(const struct start_registers *registers) __attribute__((noreturn));
void sync_instructions(unsigned from, unsigned to);
#endif

#endif
