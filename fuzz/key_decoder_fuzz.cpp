// Any byte stream from the terminal through the key decoder.
//
// The decoder's promise, read as a cut of the input into pieces from left
// to right:
//  - ESC and a digit is Alt+digit: 0 and the scan code of F1..F9 (1..9) or
//    F10 (0);
//  - ESC and the bytes of a sequence of the table below is that key: its
//    prefix (0 or 224) and its scan code;
//  - DEL is backspace (8);
//  - every other byte, an ESC that starts none of these included, is itself.
// So the codes are the pieces' codes in input order: no byte is lost or
// added, and there are as many codes as bytes, less (length - 2) for each
// recognised sequence. A sequence still incomplete when the input stops is
// held (pending) and comes out byte for byte on a flush. Taking codes out
// between bytes changes none of this.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "fuzz/require.h"
#include "platform/key_decoder.h"

using fuzzing::require;

namespace {

constexpr std::uint8_t Esc = 27;

struct Known {
    std::string_view tail;  // after the ESC
    int prefix;
    int scan;
};

// The keys of xterm-like terminals and the Linux console.
constexpr Known known[] = {
    {"OP", 0, 59},     {"OQ", 0, 60},     {"OR", 0, 61},     {"OS", 0, 62},
    {"[11~", 0, 59},   {"[12~", 0, 60},   {"[13~", 0, 61},   {"[14~", 0, 62},
    {"[[A", 0, 59},    {"[[B", 0, 60},    {"[[C", 0, 61},    {"[[D", 0, 62},
    {"[[E", 0, 63},    {"[15~", 0, 63},   {"[17~", 0, 64},   {"[18~", 0, 65},
    {"[19~", 0, 66},   {"[20~", 0, 67},   {"[21~", 0, 68},   {"[23~", 224, 133},
    {"[24~", 224, 134}, {"[A", 224, 72},  {"[B", 224, 80},   {"[C", 224, 77},
    {"[D", 224, 75},   {"OA", 224, 72},   {"OB", 224, 80},   {"OC", 224, 77},
    {"OD", 224, 75},   {"[H", 224, 71},   {"OH", 224, 71},   {"[1~", 224, 71},
    {"[7~", 224, 71},  {"[F", 224, 79},   {"OF", 224, 79},   {"[4~", 224, 79},
    {"[8~", 224, 79},  {"[2~", 224, 82},  {"[3~", 224, 83},  {"[5~", 224, 73},
    {"[6~", 224, 81},
};

struct Expected {
    std::vector<int> codes;  // before any flush
    std::vector<int> held;   // what a flush lets out
    std::size_t shortening = 0;
};

Expected cut(const std::uint8_t* data, std::size_t size) {
    Expected expected;
    std::size_t at = 0;
    while (at < size) {
        const std::uint8_t byte = data[at];
        if (byte != Esc) {
            expected.codes.push_back(byte == 127 ? 8 : byte);
            ++at;
            continue;
        }
        const std::string_view rest(reinterpret_cast<const char*>(data + at + 1), size - at - 1);
        if (!rest.empty() && rest[0] >= '0' && rest[0] <= '9') {
            expected.codes.push_back(0);
            expected.codes.push_back(rest[0] == '0' ? 68 : 59 + (rest[0] - '1'));
            at += 2;
            continue;
        }
        const Known* match = nullptr;
        bool couldGoOn = rest.empty();
        for (const Known& key : known) {
            if (rest.substr(0, key.tail.size()) == key.tail &&
                (match == nullptr || key.tail.size() < match->tail.size())) {
                match = &key;
            }
            if (rest.size() < key.tail.size() && key.tail.substr(0, rest.size()) == rest) {
                couldGoOn = true;
            }
        }
        if (match != nullptr) {
            expected.codes.push_back(match->prefix);
            expected.codes.push_back(match->scan);
            expected.shortening += match->tail.size() - 1;
            at += 1 + match->tail.size();
        } else if (couldGoOn) {
            // The input stops inside what may still become a key.
            expected.held.assign(data + at, data + size);
            break;
        } else {
            expected.codes.push_back(Esc);
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
    require(eager.pending() == !expected.held.empty(), "only an unfinished sequence is held");
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
    all.insert(all.end(), expected.held.begin(), expected.held.end());
    require(eagerCodes == all, "a flush lets the held bytes out as they are");
    require(patientCodes == all, "when codes are taken out does not matter");
    require(all.size() == size - expected.shortening, "no byte is lost or added");
    return 0;
}
