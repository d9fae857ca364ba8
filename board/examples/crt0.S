/* Start of every example program. The monitor's g jumps here with gp, sp
   and a0..a3 set and ra pointing back into the monitor; the program keeps
   the stack it is given, clears its uninitialised data and returns. */
    .set noreorder

    .section .text.start, "ax"
    .globl _start
_start:
    la    $t0, entry_sp
    sw    $sp, 0($t0)
    addiu $sp, $sp, -16
    sw    $ra, 12($sp)
    la    $t0, __bss_start
    la    $t1, __bss_end
1:  beq   $t0, $t1, 2f
    nop
    sb    $zero, 0($t0)
    b     1b
    addiu $t0, $t0, 1
2:  jal   main                  /* a0..a3 as the monitor set them */
    nop
    lw    $ra, 12($sp)
    jr    $ra
    addiu $sp, $sp, 16

    .data
    .globl entry_sp
entry_sp:
    .word 0
