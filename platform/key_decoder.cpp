#include "platform/key_decoder.h"

#include <cstring>

namespace {

constexpr unsigned char Esc = 27;
constexpr unsigned char Del = 127;
constexpr int Backspace = 8;
constexpr int PrefixZero = 0;
constexpr int PrefixExtended = 224;
constexpr int ScanF1 = 59;
constexpr int ScanF10 = 68;

struct Sequence {
    const char* bytes;  // after the ESC
    int prefix;
    int scan;
};

// What xterm-like terminals and the Linux console send for the keys the
// console knows. Function keys F1..F10 come as 0 and a scan code, the rest
// as 224 and a scan code.
constexpr Sequence sequences[] = {
    {"OP", PrefixZero, 59},      {"OQ", PrefixZero, 60},      {"OR", PrefixZero, 61},
    {"OS", PrefixZero, 62},      {"[11~", PrefixZero, 59},    {"[12~", PrefixZero, 60},
    {"[13~", PrefixZero, 61},    {"[14~", PrefixZero, 62},    {"[[A", PrefixZero, 59},
    {"[[B", PrefixZero, 60},     {"[[C", PrefixZero, 61},     {"[[D", PrefixZero, 62},
    {"[[E", PrefixZero, 63},     {"[15~", PrefixZero, 63},    {"[17~", PrefixZero, 64},
    {"[18~", PrefixZero, 65},    {"[19~", PrefixZero, 66},    {"[20~", PrefixZero, 67},
    {"[21~", PrefixZero, 68},    {"[23~", PrefixExtended, 133}, {"[24~", PrefixExtended, 134},
    {"[A", PrefixExtended, 72},  {"[B", PrefixExtended, 80},  {"[C", PrefixExtended, 77},
    {"[D", PrefixExtended, 75},  {"OA", PrefixExtended, 72},  {"OB", PrefixExtended, 80},
    {"OC", PrefixExtended, 77},  {"OD", PrefixExtended, 75},  {"[H", PrefixExtended, 71},
    {"OH", PrefixExtended, 71},  {"[1~", PrefixExtended, 71}, {"[7~", PrefixExtended, 71},
    {"[F", PrefixExtended, 79},  {"OF", PrefixExtended, 79},  {"[4~", PrefixExtended, 79},
    {"[8~", PrefixExtended, 79}, {"[2~", PrefixExtended, 82}, {"[3~", PrefixExtended, 83},
    {"[5~", PrefixExtended, 73}, {"[6~", PrefixExtended, 81},
};

enum class Match { None, Prefix, Complete };

// How the held bytes after the ESC stand against the table.
Match lookUp(const unsigned char* tail, std::size_t length, const Sequence*& found) {
    bool prefix = false;
    for (const Sequence& sequence : sequences) {
        const std::size_t sequenceLength = std::strlen(sequence.bytes);
        if (length > sequenceLength || std::memcmp(sequence.bytes, tail, length) != 0) {
            continue;
        }
        if (length == sequenceLength) {
            found = &sequence;
            return Match::Complete;
        }
        prefix = true;
    }
    return prefix ? Match::Prefix : Match::None;
}

}  // namespace

void KeyDecoder::feed(unsigned char byte) {
    if (held_ == 0) {
        start(byte);
        return;
    }
    // Alt+digit: terminals send ESC and the digit together. Alt+1..Alt+9 are
    // F1..F9 and Alt+0 is F10, for terminals that keep F1 and F10 to
    // themselves.
    if (held_ == 1 && byte >= '0' && byte <= '9') {
        held_ = 0;
        keys_.push_back(PrefixZero);
        keys_.push_back(byte == '0' ? ScanF10 : ScanF1 + (byte - '1'));
        return;
    }
    const Sequence* found = nullptr;
    bytes_[held_] = byte;
    switch (lookUp(bytes_ + 1, held_, found)) {
    case Match::Complete:
        held_ = 0;
        keys_.push_back(found->prefix);
        keys_.push_back(found->scan);
        return;
    case Match::Prefix:
        ++held_;
        return;
    case Match::None:
        // Not ours: what was held goes out as typed, and the new byte starts
        // afresh, since it may be the ESC of the next key.
        passThroughHeld();
        start(byte);
        return;
    }
}

void KeyDecoder::start(unsigned char byte) {
    if (byte == Esc) {
        bytes_[0] = byte;
        held_ = 1;
    } else if (byte == Del) {
        keys_.push_back(Backspace);
    } else {
        keys_.push_back(byte);
    }
}

void KeyDecoder::flush() {
    passThroughHeld();
}

void KeyDecoder::passThroughHeld() {
    for (std::size_t i = 0; i < held_; ++i) {
        keys_.push_back(bytes_[i]);
    }
    held_ = 0;
}

int KeyDecoder::nextKey() {
    if (keys_.empty()) {
        return -1;
    }
    const int key = keys_.front();
    keys_.pop_front();
    return key;
}
