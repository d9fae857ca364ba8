/* Entry, context switches and exception vectors of the board monitor.
   The stack the boot loader leaves is not ours to use, so nothing in C runs
   before sp points into the monitor's own stack. */
#include "context.h"

    .set noreorder
    .set noat

    .section .text.start, "ax"
    .globl _start
_start:
    /* a3: the RAM size the boot loader passes; kept for main. */
    la    $sp, __stack_top
    la    $gp, _gp
    la    $t0, __bss_start
    la    $t1, __bss_end
1:  beq   $t0, $t1, 2f
    nop
    sw    $zero, 0($t0)
    b     1b
    addiu $t0, $t0, 4
2:  /* Kernel mode, exceptions to our own vectors, interrupts off: a fault
       in a loaded program comes back to the monitor. */
    la    $t0, __vectors
    mtc0  $t0, $15, 1           /* EBase */
    li    $t0, 0x10000000       /* CU0 only: BEV, ERL, EXL, IE and IM clear */
    mtc0  $t0, $12
    ehb
    move  $a0, $a3
    jal   monitor_main
    nop
3:  b     3b
    nop

/* int save_context(struct context *): 0 when saved, the value given to
   resume_context when the monitor comes back to it. */
    .text
    .globl save_context
save_context:
    sw    $s0, CTX_S0($a0)
    sw    $s1, CTX_S1($a0)
    sw    $s2, CTX_S2($a0)
    sw    $s3, CTX_S3($a0)
    sw    $s4, CTX_S4($a0)
    sw    $s5, CTX_S5($a0)
    sw    $s6, CTX_S6($a0)
    sw    $s7, CTX_S7($a0)
    sw    $fp, CTX_FP($a0)
    sw    $gp, CTX_GP($a0)
    sw    $sp, CTX_SP($a0)
    sw    $ra, CTX_RA($a0)
    jr    $ra
    move  $v0, $zero

/* void resume_context(struct context *, int why): never returns. */
    .globl resume_context
resume_context:
    lw    $s0, CTX_S0($a0)
    lw    $s1, CTX_S1($a0)
    lw    $s2, CTX_S2($a0)
    lw    $s3, CTX_S3($a0)
    lw    $s4, CTX_S4($a0)
    lw    $s5, CTX_S5($a0)
    lw    $s6, CTX_S6($a0)
    lw    $s7, CTX_S7($a0)
    lw    $fp, CTX_FP($a0)
    lw    $gp, CTX_GP($a0)
    lw    $sp, CTX_SP($a0)
    lw    $ra, CTX_RA($a0)
    jr    $ra
    move  $v0, $a1

/* void start_program(const struct start_registers *): jumps to epc with the
   program's gp, sp and a0..a3, its return address program_returned. */
    .globl start_program
start_program:
    move  $at, $a0
    lw    $t9, START_EPC($at)
    lw    $gp, START_GP($at)
    lw    $sp, START_SP($at)
    lw    $a0, START_A0($at)
    lw    $a1, START_A1($at)
    lw    $a2, START_A2($at)
    lw    $a3, START_A3($at)
    la    $ra, program_returned
    jr.hb $t9
    nop

program_returned:
    la    $t0, program_result
    sw    $v0, 0($t0)
    la    $a0, monitor_home
    j     resume_context
    li    $a1, RESUME_RETURNED

/* void sync_instructions(unsigned from, unsigned to): what was written
   through the data cache becomes visible to instruction fetch. */
    .globl sync_instructions
sync_instructions:
    rdhwr $t0, $1               /* SYNCI_Step: 0 when no cache needs it */
    beq   $t0, $zero, 2f
    subu  $t1, $zero, $t0
    and   $a0, $a0, $t1
1:  synci 0($a0)
    addu  $a0, $a0, $t0
    sltu  $t2, $a0, $a1
    bne   $t2, $zero, 1b
    nop
2:  sync
    jr.hb $ra
    nop

/* void wait_for_line(unsigned deadline): sleeps until the serial line has
   a byte (the 8259's IRQ 4, on IP2) or CP0 Count reaches the deadline (the
   timer, IP7). Under QEMU a CPU in WAIT leaves the host CPU to the thread
   that moves the line's bytes, where polling would compete with it. */
    .globl wait_for_line
wait_for_line:
    mtc0  $a0, $11              /* Compare; also clears a pending timer */
    ehb
    mfc0  $t0, $9
    subu  $t0, $a0, $t0
    blez  $t0, line_waited      /* the deadline has already passed */
    nop
    mfc0  $t0, $12
    ori   $t0, $t0, 0x8401      /* IM7, IM2, IE */
    mtc0  $t0, $12
    ehb
    wait
line_waited:
    mfc0  $t0, $12
    li    $t1, ~0x8401
    and   $t0, $t0, $t1
    mtc0  $t0, $12
    ehb
    jr    $ra
    nop

/* Exception vectors. EBase points here: TLB refill at +0x000, the general
   vector at +0x180. Both note what happened and resume the monitor. */
    .section .text.vectors, "ax"
    .align 12
    .globl __vectors
__vectors:
    j     exception_taken
    nop
    .org 0x180
    j     exception_taken
    nop

    .text
exception_taken:
    /* An interrupt can only come while wait_for_line waits: it goes on
       after the wait with interrupts off again. */
    mfc0  $k0, $13
    andi  $k0, $k0, 0x7c
    bne   $k0, $zero, 1f
    nop
    mfc0  $k0, $12
    ins   $k0, $zero, 0, 1      /* IE off */
    mtc0  $k0, $12
    la    $k1, line_waited
    mtc0  $k1, $14
    ehb
    eret
1:  la    $k0, exception_record
    mfc0  $k1, $13              /* Cause */
    sw    $k1, 0($k0)
    mfc0  $k1, $14              /* EPC */
    sw    $k1, 4($k0)
    mfc0  $k1, $8               /* BadVAddr */
    sw    $k1, 8($k0)
    la    $k1, exception_resume
    mtc0  $k1, $14
    ehb
    eret                        /* leaves exception level, at exception_resume */

exception_resume:
    la    $a0, monitor_home
    j     resume_context
    li    $a1, RESUME_FAULTED
