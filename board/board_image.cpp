// Makes the board's example programs in the two formats the cross toolchain
// cannot write as a program expects them: an EXE from an ELF executable, and
// the gp of an ECOFF executable that objcopy converted from the ELF (the
// conversion leaves it 0, which breaks every access to small data). The ELF
// is read by the loader's own ElfFileJob, so both carry what a LOAD of the
// ELF would send.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "loader/elf_file_job.h"
#include "loader/exe_file_job.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr const char* usage =
    "usage: tolvanis-board-image exe PROGRAM.elf OUT.exe [STACKBASE STACKSIZE]\n"
    "       tolvanis-board-image ecoff-gp PROGRAM.elf PROGRAM.ecoff\n";

// EXE header fields.
constexpr std::size_t ExeInitialPc = 0x10;
constexpr std::size_t ExeInitialGp = 0x14;
constexpr std::size_t ExeLoadAddress = 0x18;
constexpr std::size_t ExeLoadSize = 0x1C;
constexpr std::size_t ExeStackBase = 0x30;
constexpr std::size_t ExeStackSize = 0x34;
// The ECOFF optional header's gp_value: file header, then 52 bytes in.
constexpr std::size_t EcoffGpValue = 20 + 52;

void putLe32(Bytes& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

bool readFile(const char* path, Bytes& bytes) {
    std::ifstream in(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return static_cast<bool>(in) || in.eof();
}

bool writeFile(const char* path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

struct Program {
    std::uint32_t entry = 0;
    std::uint32_t gp = 0;
    std::uint32_t low = 0;
    Bytes image;  // the loadable segments from low up, gaps zero
};

bool readProgram(const char* path, Program& program) {
    ElfFileJob job;
    const bool opened = job.openFile(path);
    job.close();
    Bytes file;
    if (!opened || job.segments.empty() || !readFile(path, file)) return false;
    program.entry = job.entry;
    program.gp = job.gp;
    std::uint64_t low = UINT32_MAX, high = 0;
    for (const ElfSegment& s : job.segments) {
        low = std::min<std::uint64_t>(low, s.physicalAddress);
        high = std::max<std::uint64_t>(high, std::uint64_t{s.physicalAddress} + s.fileSize);
    }
    // One EXE carries one range: segments far apart would make a huge file.
    if (high - low > 0x200000) return false;
    program.low = static_cast<std::uint32_t>(low);
    program.image.assign(static_cast<std::size_t>(high - low), 0);
    for (const ElfSegment& s : job.segments) {
        if (std::uint64_t{s.fileOffset} + s.fileSize > file.size()) return false;
        std::copy_n(file.begin() + s.fileOffset, s.fileSize, program.image.begin() + (s.physicalAddress - low));
    }
    return true;
}

bool makeExe(const Program& program, std::uint32_t stackBase, std::uint32_t stackSize, const char* out) {
    Bytes exe(ExeDataOffset, 0);
    std::memcpy(exe.data(), "QORA EXE", 8);
    putLe32(exe, ExeInitialPc, program.entry);
    putLe32(exe, ExeInitialGp, program.gp);
    putLe32(exe, ExeLoadAddress, program.low);
    putLe32(exe, ExeLoadSize, static_cast<std::uint32_t>(program.image.size()));
    putLe32(exe, ExeStackBase, stackBase);
    putLe32(exe, ExeStackSize, stackSize);
    exe.insert(exe.end(), program.image.begin(), program.image.end());
    return writeFile(out, exe);
}

bool setEcoffGp(const Program& program, const char* path) {
    Bytes ecoff;
    if (!readFile(path, ecoff) || ecoff.size() < EcoffGpValue + 4 || ecoff[0] != 0x62 || ecoff[1] != 0x01) {
        return false;
    }
    putLe32(ecoff, EcoffGpValue, program.gp);
    return writeFile(path, ecoff);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fputs(usage, stderr);
        return 2;
    }
    const std::string mode = argv[1];
    Program program;
    if (!readProgram(argv[2], program)) {
        std::fprintf(stderr, "tolvanis-board-image: %s is not an ELF program in one range of memory\n", argv[2]);
        return 1;
    }
    bool done = false;
    if (mode == "exe" && (argc == 4 || argc == 6)) {
        const std::uint32_t base = argc == 6 ? static_cast<std::uint32_t>(std::strtoul(argv[4], nullptr, 16)) : 0;
        const std::uint32_t size = argc == 6 ? static_cast<std::uint32_t>(std::strtoul(argv[5], nullptr, 16)) : 0;
        done = makeExe(program, base, size, argv[3]);
    } else if (mode == "ecoff-gp" && argc == 4) {
        done = setEcoffGp(program, argv[3]);
    } else {
        std::fputs(usage, stderr);
        return 2;
    }
    if (!done) std::fprintf(stderr, "tolvanis-board-image: cannot write %s\n", argv[3]);
    return done ? 0 : 1;
}
