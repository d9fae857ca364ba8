#!/usr/bin/env bash
# Writes the seed inputs of every fuzz target into corpus/<target>/. The
# files are committed; run this again only to change them.
set -euo pipefail
cd "$(dirname "$0")"

# Little-endian words, as the executables store them.
le16() { printf "\\x$(printf %02x $(($1 & 255)))\\x$(printf %02x $(($1 >> 8 & 255)))"; }
le32() { le16 $(($1 & 65535)); le16 $(($1 >> 16 & 65535)); }
zeros() { head -c "$1" /dev/zero; }
seed() { mkdir -p "$1"; cat > "$1/$2"; }

# --- exe_header: a 2048-byte header, then the data ---
exe_header() {  # pc gp address size stackBase stackSize
    printf 'QORA EXE'; zeros 8
    le32 "$1"; le32 "$2"; le32 "$3"; le32 "$4"; zeros 16; le32 "$5"; le32 "$6"
    zeros $((2048 - 56))
}
{ exe_header 0x80010000 0x80020000 0x80010000 16 0x801f0000 0x8000; printf '0123456789abcdef'; } |
    seed exe_header small_program
{ exe_header 0x80010000 0 0x80010000 0 0 0; } | head -c 136 | seed exe_header header_only
{ exe_header 0x80010000 0 0x80010000 0x1000 0 0; printf 'short'; } | seed exe_header data_cut_short
exe_header 1 2 3 4 5 6 | head -c 100 | seed exe_header header_cut_short
printf '\x62\x01' | seed exe_header ecoff_magic
printf 'QORA EX' | seed exe_header magic_cut_short

# --- ecoff_file: file header, optional header, section table, data ---
ecoff_headers() {  # sections flags entry gp
    le16 0x0162; le16 "$1"; zeros 12; le16 56; le16 "$2"
    zeros 16; le32 "$3"; zeros 32; le32 "$4"
}
section() {  # name address size position flags
    printf '%s' "$1"; zeros $((8 - ${#1}))
    le32 "$2"; le32 "$2"; le32 "$3"; le32 "$4"; zeros 12; le32 "$5"
}
{
    ecoff_headers 2 0x0207 0x80010000 0x80018000
    section .text 0x80010000 16 156 0x20
    section .data 0x80010010 8 172 0x40
    printf '0123456789abcdef01234567'
} | seed ecoff_file text_and_data
{
    ecoff_headers 3 0x0002 0x80010000 0
    section .bss 0x80020000 4096 0 0x80
    section .sdata 0x80010000 4 196 0x200
    section .rdata 0x80010004 4 200 0x100
    printf 'sdatrdat'
} | seed ecoff_file bss_sdata_rdata
{ ecoff_headers 0xffff 0x0002 0 0; section .text 0 4 0 0x20; } | seed ecoff_file count_beyond_file
{ ecoff_headers 1 0x0000 0 0; section .text 0 0 0 0x20; } | seed ecoff_file not_executable
{ ecoff_headers 1 0x0002 0 0; section .textxyz 0 4 116 0x20; printf 'abcd'; } |
    seed ecoff_file name_fills_field
{ ecoff_headers 1 0x0002 0 0; section .text 0 16 0xfffffff0 0x20; } | seed ecoff_file far_position

# --- elf_file: ELF header, program header table, data, sections ---
elf_header() {  # entry phnum shoff shnum shstrndx
    printf '\x7fELF\x01\x01\x01'; zeros 9; le16 2; le16 8; le32 1; le32 "$1"
    le32 52; le32 "$3"; le32 0x1001; le16 52; le16 32; le16 "$2"; le16 40; le16 "$4"; le16 "$5"
}
segment() {  # type offset address filesize memsize
    le32 "$1"; le32 "$2"; le32 "$3"; le32 "$3"; le32 "$4"; le32 "$5"; le32 5; le32 16
}
elf_section() {  # name type offset size link entsize
    le32 "$1"; le32 "$2"; le32 0; le32 0; le32 "$3"; le32 "$4"; le32 "$5"; le32 0; le32 4; le32 "$6"
}
{
    # Two loadable segments, then .reginfo with gp 0x80028000 and the names.
    elf_header 0x80010000 2 184 3 2
    segment 1 116 0x80010000 16 16
    segment 1 132 0x80020000 8 0x100
    printf '0123456789abcdefdatadata'
    le32 0x10000001; zeros 16; le32 0x80028000
    printf '\0.reginfo\0.shstrtab\0'
    elf_section 0 0 0 0 0 0
    elf_section 1 0x70000006 140 24 0 24
    elf_section 10 3 164 20 0 0
} | seed elf_file segments_and_reginfo
{
    # One segment and a symbol table whose _gp gives gp.
    elf_header 0x80010004 1 168 4 3
    segment 1 84 0x80010000 8 8
    printf 'codecode'
    zeros 16; le32 1; le32 0x80018000; le32 0; le16 0x11; le16 1
    printf '\0_gp\0'
    printf '\0.symtab\0.strtab\0.shstrtab\0'
    zeros 12
    elf_section 0 0 0 0 0 0
    elf_section 1 2 92 32 2 16
    elf_section 9 3 124 5 0 0
    elf_section 17 3 129 27 0 0
} | seed elf_file symbol_gp
{ elf_header 0 3 0 0 0; segment 1 148 0 0 0x1000; segment 4 148 0 4 4; segment 1 148 0x80010000 4 4; printf 'abcd'; } |
    seed elf_file bss_note_and_code
{ elf_header 0 0xffff 0 0 0; segment 1 84 0 4 4; } | seed elf_file count_beyond_file
{ elf_header 0 1 0 0 0; segment 1 0xfffffff0 0x80010000 16 16; } | seed elf_file far_offset

# --- script_line: script files ---
printf 'dw 80010000\r\nsr epc 80010000\n' | seed script_line plain_lines
printf 'local echo hello\nlocal sleep 1\nlocal beep\nlocal dos dir\nlocal sh ls\nlocal !true\nlocal wait-prompt\nlocal help\n' |
    seed script_line host_commands
printf 'local dload file.bin 80010000\nlocal load prog.exe\nlocal dsave out.bin 80010000 100\n' |
    seed script_line transfers
printf 'local auto script\ndr\nlocal auto-again\nlocal quit\n' | seed script_line nesting
{ printf 'x\0local sh hidden\nlocal '; head -c 250 /dev/zero | tr '\0' 'a'; printf ' sh tail\n'; } |
    seed script_line nul_and_long_line
printf 'local pause\nlocal sleep -5\nlocal sleep 99999999999\nlocal beep pause\n' |
    seed script_line pause_and_sleeps

# --- prompt_line: argument lines, command lines, settings files ---
printf 'prog.exe\r' | seed prompt_line load_line
printf 'file.bin 80010000 100\r' | seed prompt_line dsave_line
printf 'a\b\bb 0x10 0X20 junk\r' | seed prompt_line backspace_and_prefixes
printf -- '-p/dev/ttyUSB0\0-b230400\0boot.txt' | seed prompt_line command_line
printf -- '--help\0-b 99999999999\0--version\0-p' | seed prompt_line information_requests
printf -- '--log\0--strict-rts\0--strict-rts\0s.txt' | seed prompt_line long_options
printf 'tolvanisPort=COM3\ntolvanisBaud=9600\n# kept\r\nother=1\ntolvanisPort=COM4\n' |
    seed prompt_line settings_file
printf 'tolvanisBaud=-0\ntolvanisPort=\x01bad\ntolvanisBaud=+5\n' | seed prompt_line settings_junk
printf 't\ntolvanisBaud=0000000000000000000000506742680\n# k0 kher=1\nnis' | seed prompt_line settings_leading_zeros

# --- key_decoder: keyboard bytes ---
printf '\x1bOP\x1b[11~\x1b[A\x1b1\x1b0\x1b[[E\x1b[24~' | seed key_decoder known_keys
printf '\x1b[1\x1b[[\x1b\x1b[B\x1bO' | seed key_decoder broken_sequences
printf 'abc\x7f\r\0\xe0' | seed key_decoder plain_bytes
printf '\x1b[2' | seed key_decoder ends_inside_a_key

# --- console_output: a length byte (mod 11; bit 7 sets Typing), then the chunk ---
printf '\x04abc>\x01>\x82>>\x85x\0>>y' | seed console_output split_and_nul
printf '\x0a0123456789\x0b\x03>>>\x8a>>>>>>>>>>' | seed console_output full_chunks
printf '\x06dr\r\n>\x02> \x01>\x00\x81>' | seed console_output split_prompts
