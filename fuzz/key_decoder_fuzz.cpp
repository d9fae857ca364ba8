// Any byte stream from the terminal through the key decoder.
//
// The decoder's promise, read as a cut of the input into pieces from left
// to right:
//  - a plain byte is itself, DEL is backspace (8);
//  - ESC and a digit is Alt+digit: F1..F9 (1..9) or F10 (0); ESC and a letter
//    is Alt+letter: 0 and the letter key's scan code;
//  - ESC [ with parameter bytes (0x20-0x3F) and one final byte (0x40-0x7E)
//    is one key: a known key's prefix and scan code, or nothing; ESC [ [ and
//    one byte is the Linux console's F1..F5 or nothing; ESC O and one byte is
//    an SS3 key or nothing; ESC and any other sign is nothing;
//  - a control byte inside any of these ends it, with nothing, and is a
//    piece of its own; ESC followed by a control byte or another ESC is the
//    ESC key (27).
// A piece still unfinished when the input stops is held (pending); a flush
// makes a lone ESC 27, ESC O Alt+O, and drops the rest. Taking codes out
// between bytes changes none of this.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/require.h"
#include "platform/key_decoder.h"

using fuzzing::require;

namespace {

constexpr std::uint8_t Esc = 27;

bool printable(std::uint8_t byte) { return byte >= 0x20 && byte <= 0x7E; }

// The Windows console keyboard's numbers, plain / Shift / Ctrl / Alt.
struct Row {
    int prefix[4];
    int scan[4];
};
constexpr Row home{{224, 224, 224, 0}, {71, 71, 119, 151}};
constexpr Row up{{224, 224, 224, 0}, {72, 72, 141, 152}};
constexpr Row pageUp{{224, 224, 224, 0}, {73, 73, 132, 153}};
constexpr Row left{{224, 224, 224, 0}, {75, 75, 115, 155}};
constexpr Row right{{224, 224, 224, 0}, {77, 77, 116, 157}};
constexpr Row end{{224, 224, 224, 0}, {79, 79, 117, 159}};
constexpr Row down{{224, 224, 224, 0}, {80, 80, 145, 160}};
constexpr Row pageDown{{224, 224, 224, 0}, {81, 81, 118, 161}};
constexpr Row insert{{224, 224, 224, 0}, {82, 82, 146, 162}};
constexpr Row erase{{224, 224, 224, 0}, {83, 83, 147, 163}};

Row functionRow(int n) {
    if (n >= 11) return {{224, 224, 224, 224}, {133 + n - 11, 135 + n - 11, 137 + n - 11, 139 + n - 11}};
    return {{0, 0, 0, 0}, {58 + n, 83 + n, 93 + n, 103 + n}};
}

// Column of a modifier parameter: Alt (or Meta) over Ctrl over Shift.
int column(long modifier) {
    const long bits = modifier > 1 ? modifier - 1 : 0;
    if (bits & 10) return 3;
    if (bits & 4) return 2;
    if (bits & 1) return 1;
    return 0;
}

void add(std::vector<int>& codes, const Row& row, int col) {
    codes.push_back(row.prefix[col]);
    codes.push_back(row.scan[col]);
}

bool finalRow(std::uint8_t final, Row& row) {
    switch (final) {
    case 'A': row = up; return true;
    case 'B': row = down; return true;
    case 'C': row = right; return true;
    case 'D': row = left; return true;
    case 'H': row = home; return true;
    case 'F': row = end; return true;
    case 'P': case 'Q': case 'R': case 'S': row = functionRow(final - 'P' + 1); return true;
    default: return false;
    }
}

bool tildeRow(long number, Row& row) {
    switch (number) {
    case 1: case 7: row = home; return true;
    case 2: row = insert; return true;
    case 3: row = erase; return true;
    case 4: case 8: row = end; return true;
    case 5: row = pageUp; return true;
    case 6: row = pageDown; return true;
    case 11: case 12: case 13: case 14: case 15: row = functionRow(static_cast<int>(number) - 10); return true;
    case 17: case 18: case 19: case 20: case 21: row = functionRow(static_cast<int>(number) - 11); return true;
    case 23: case 24: row = functionRow(static_cast<int>(number) - 12); return true;
    default: return false;
    }
}

// "n" or "n;m" with decimal numbers, either empty.
bool numbers(std::string_view text, long& number, long& modifier) {
    const std::size_t semicolon = text.find(';');
    const std::string_view first = text.substr(0, semicolon);
    const std::string_view second =
        semicolon == std::string_view::npos ? std::string_view() : text.substr(semicolon + 1);
    long values[2] = {0, 0};
    int index = 0;
    for (std::string_view part : {first, second}) {
        for (const char c : part) {
            if (c < '0' || c > '9') return false;
            values[index] = std::min(values[index] * 10 + (c - '0'), 100000L);
        }
        ++index;
    }
    number = values[0] == 0 ? 1 : values[0];
    modifier = values[1];
    return true;
}

void csiKey(std::string_view parameters, std::uint8_t final, std::vector<int>& codes) {
    long number = 1;
    long modifier = 0;
    if (parameters.size() > 16 || !numbers(parameters, number, modifier) || modifier > 16) return;
    Row row{};
    if (final == '~') {
        if (tildeRow(number, row)) add(codes, row, column(modifier));
    } else if (number == 1 && final == 'Z') {
        codes.insert(codes.end(), {0, 15});
    } else if (number == 1 && finalRow(final, row)) {
        add(codes, row, column(modifier));
    }
}

constexpr int letterScans[26] = {30, 48, 46, 32, 18, 33, 34, 35, 23, 36, 37, 38, 50,
                                 49, 24, 25, 16, 19, 31, 20, 22, 47, 17, 45, 21, 44};

struct Expected {
    std::vector<int> codes;  // before any flush
    bool held = false;       // the input stops inside a piece
    std::vector<int> flushed;  // what a flush lets out
};

// One piece that starts with ESC at data[at]; gives the index after it, or
// size when the input stops inside it.
std::size_t escapePiece(const std::uint8_t* data, std::size_t size, std::size_t at, Expected& e) {
    if (at + 1 == size) {
        e.held = true;
        e.flushed = {Esc};
        return size;
    }
    const std::uint8_t next = data[at + 1];
    if (next == Esc || !printable(next)) {
        e.codes.push_back(Esc);
        return at + 1;
    }
    if (next >= '0' && next <= '9') {
        e.codes.insert(e.codes.end(), {0, next == '0' ? 68 : 59 + (next - '1')});
        return at + 2;
    }
    if (next == 'O') {
        if (at + 2 == size) {
            e.held = true;
            e.flushed = {0, letterScans['o' - 'a']};
            return size;
        }
        const std::uint8_t final = data[at + 2];
        if (!printable(final)) {
            e.codes.insert(e.codes.end(), {0, letterScans['o' - 'a']});
            return at + 2;
        }
        Row row{};
        if (final != 'Z' && finalRow(final, row)) add(e.codes, row, 0);
        return at + 3;
    }
    if ((next | 0x20) >= 'a' && (next | 0x20) <= 'z') {
        e.codes.insert(e.codes.end(), {0, letterScans[(next | 0x20) - 'a']});
        return at + 2;
    }
    if (next != '[') return at + 2;  // Alt and a sign: nothing
    if (at + 2 < size && data[at + 2] == '[') {
        if (at + 3 == size) {
            e.held = true;
            return size;
        }
        const std::uint8_t final = data[at + 3];
        if (final >= 'A' && final <= 'E') add(e.codes, functionRow(final - 'A' + 1), 0);
        return printable(final) ? at + 4 : at + 3;
    }
    std::size_t i = at + 2;
    while (i < size && data[i] >= 0x20 && data[i] <= 0x3F) ++i;
    if (i == size) {
        e.held = true;
        return size;
    }
    if (data[i] < 0x40 || data[i] > 0x7E) return i;  // broken off by a control byte
    csiKey(std::string_view(reinterpret_cast<const char*>(data + at + 2), i - at - 2), data[i],
           e.codes);
    return i + 1;
}

Expected cut(const std::uint8_t* data, std::size_t size) {
    Expected expected;
    std::size_t at = 0;
    while (at < size) {
        if (data[at] == Esc) {
            at = escapePiece(data, size, at, expected);
        } else {
            expected.codes.push_back(data[at] == 127 ? 8 : data[at]);
            ++at;
        }
    }
    return expected;
}

void drain(KeyDecoder& decoder, std::vector<int>& out) {
    while (decoder.hasKey()) out.push_back(decoder.nextKey());
    require(decoder.nextKey() == -1, "no code once the decoder is empty");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Expected expected = cut(data, size);

    // Codes taken out after every byte.
    KeyDecoder eager;
    std::vector<int> eagerCodes;
    for (std::size_t i = 0; i < size; ++i) {
        eager.feed(data[i]);
        drain(eager, eagerCodes);
    }
    require(eagerCodes == expected.codes, "the codes are the input's pieces, in order");
    require(eager.pending() == expected.held, "only an unfinished piece is held");
    eager.flush();
    require(!eager.pending(), "a flush leaves nothing held");
    drain(eager, eagerCodes);

    // Codes taken out only at the end.
    KeyDecoder patient;
    for (std::size_t i = 0; i < size; ++i) patient.feed(data[i]);
    patient.flush();
    std::vector<int> patientCodes;
    drain(patient, patientCodes);

    std::vector<int> all = expected.codes;
    all.insert(all.end(), expected.flushed.begin(), expected.flushed.end());
    require(eagerCodes == all, "a flush ends the held piece as a lone ESC, Alt+O or nothing");
    require(patientCodes == all, "when codes are taken out does not matter");
    return 0;
}
