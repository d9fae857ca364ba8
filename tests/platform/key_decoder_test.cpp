#include "platform/key_decoder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

std::vector<int> decode(const std::string& bytes, bool flushAtEnd = true) {
    KeyDecoder decoder;
    for (const char c : bytes) {
        decoder.feed(static_cast<unsigned char>(c));
    }
    if (flushAtEnd) {
        decoder.flush();
    }
    std::vector<int> keys;
    while (decoder.hasKey()) {
        keys.push_back(decoder.nextKey());
    }
    return keys;
}

std::vector<int> bytesOf(const std::string& text) {
    std::vector<int> codes;
    for (const char c : text) {
        codes.push_back(static_cast<unsigned char>(c));
    }
    return codes;
}

struct KnownKey {
    const char* sequence;
    int prefix;
    int scan;
};

// The sequences terminals send, with the codes the console expects.
const KnownKey knownKeys[] = {
    {"\x1bOP", 0, 59},       {"\x1bOQ", 0, 60},       {"\x1bOR", 0, 61},       {"\x1bOS", 0, 62},
    {"\x1b[11~", 0, 59},     {"\x1b[12~", 0, 60},     {"\x1b[13~", 0, 61},     {"\x1b[14~", 0, 62},
    {"\x1b[[A", 0, 59},      {"\x1b[[B", 0, 60},      {"\x1b[[C", 0, 61},      {"\x1b[[D", 0, 62},
    {"\x1b[[E", 0, 63},      {"\x1b[15~", 0, 63},     {"\x1b[17~", 0, 64},     {"\x1b[18~", 0, 65},
    {"\x1b[19~", 0, 66},     {"\x1b[20~", 0, 67},     {"\x1b[21~", 0, 68},     {"\x1b[23~", 224, 133},
    {"\x1b[24~", 224, 134},  {"\x1b[A", 224, 72},     {"\x1b[B", 224, 80},     {"\x1b[C", 224, 77},
    {"\x1b[D", 224, 75},     {"\x1bOA", 224, 72},     {"\x1bOB", 224, 80},     {"\x1bOC", 224, 77},
    {"\x1bOD", 224, 75},     {"\x1b[H", 224, 71},     {"\x1bOH", 224, 71},     {"\x1b[1~", 224, 71},
    {"\x1b[7~", 224, 71},    {"\x1b[F", 224, 79},     {"\x1bOF", 224, 79},     {"\x1b[4~", 224, 79},
    {"\x1b[8~", 224, 79},    {"\x1b[2~", 224, 82},    {"\x1b[3~", 224, 83},    {"\x1b[5~", 224, 73},
    {"\x1b[6~", 224, 81},
};

TEST(KeyDecoder, TranslatesEveryKnownSequence) {
    for (const KnownKey& key : knownKeys) {
        // Without a flush: a complete sequence needs no time-out.
        EXPECT_EQ(decode(key.sequence, false), (std::vector<int>{key.prefix, key.scan}))
            << "sequence ESC" << (key.sequence + 1);
    }
}

TEST(KeyDecoder, AltDigitsAreTheFirstTenFunctionKeys) {
    for (int digit = 1; digit <= 9; ++digit) {
        const std::string sequence = std::string("\x1b") + static_cast<char>('0' + digit);
        EXPECT_EQ(decode(sequence, false), (std::vector<int>{0, 58 + digit})) << "Alt+" << digit;
    }
    EXPECT_EQ(decode("\x1b" "0", false), (std::vector<int>{0, 68}));
    // Only right after ESC: inside a sequence a digit is part of it.
    EXPECT_EQ(decode("\x1b[1~", false), (std::vector<int>{224, 71}));
}

TEST(KeyDecoder, PlainBytesAndDel) {
    EXPECT_EQ(decode("ab\r\x03", false), bytesOf("ab\r\x03"));
    EXPECT_EQ(decode("\x7f", false), (std::vector<int>{8}));
    EXPECT_EQ(decode(std::string("x\0y", 3), false), (std::vector<int>{'x', 0, 'y'}));
    EXPECT_EQ(decode("\xe0\xff", false), (std::vector<int>{224, 255}));
}

TEST(KeyDecoder, UnknownSequencesPassThroughByteForByte) {
    EXPECT_EQ(decode("\x1b[99~"), bytesOf("\x1b[99~"));
    EXPECT_EQ(decode("\x1b[1;5A"), bytesOf("\x1b[1;5A"));  // Ctrl+Up
    EXPECT_EQ(decode("\x1bx"), bytesOf("\x1bx"));           // Alt+x
    EXPECT_EQ(decode("\x1bOZq"), bytesOf("\x1bOZq"));
    // The byte that broke a sequence may itself be DEL, typed after Alt+[.
    EXPECT_EQ(decode("\x1b[\x7f"), (std::vector<int>{27, '[', 8}));
}

TEST(KeyDecoder, LoneEscWaitsForFlush) {
    KeyDecoder decoder;
    decoder.feed(27);
    EXPECT_TRUE(decoder.pending());
    EXPECT_FALSE(decoder.hasKey());
    decoder.flush();
    EXPECT_FALSE(decoder.pending());
    ASSERT_TRUE(decoder.hasKey());
    EXPECT_EQ(decoder.nextKey(), 27);
    EXPECT_FALSE(decoder.hasKey());
    EXPECT_EQ(decoder.nextKey(), -1);
}

TEST(KeyDecoder, IncompleteSequenceFlushesAsTyped) {
    EXPECT_EQ(decode("\x1b["), bytesOf("\x1b["));
    EXPECT_EQ(decode("\x1b[1"), bytesOf("\x1b[1"));
    EXPECT_EQ(decode("\x1b[[", true), bytesOf("\x1b[["));
    EXPECT_EQ(decode("\x1bO", true), bytesOf("\x1bO"));
}

TEST(KeyDecoder, EscEsc) {
    EXPECT_EQ(decode("\x1b\x1b"), (std::vector<int>{27, 27}));
    // The second ESC starts a sequence of its own.
    EXPECT_EQ(decode("\x1b\x1b[A", false), (std::vector<int>{27, 224, 72}));
    EXPECT_EQ(decode("\x1b[\x1bOP", false), (std::vector<int>{27, '[', 0, 59}));
}

TEST(KeyDecoder, SequenceSplitAcrossFeeds) {
    KeyDecoder decoder;
    for (const char c : std::string("\x1b[2")) {
        decoder.feed(static_cast<unsigned char>(c));
        EXPECT_FALSE(decoder.hasKey());
        EXPECT_TRUE(decoder.pending());
    }
    decoder.feed('1');
    EXPECT_FALSE(decoder.hasKey());
    decoder.feed('~');
    EXPECT_FALSE(decoder.pending());
    EXPECT_EQ(decoder.nextKey(), 0);
    EXPECT_EQ(decoder.nextKey(), 68);
    // Keys already decoded stay in order with the ones after them.
    decoder.feed('q');
    decoder.feed(27);
    decoder.feed('O');
    EXPECT_EQ(decoder.nextKey(), 'q');
    decoder.feed('B');
    EXPECT_EQ(decoder.nextKey(), 224);
    EXPECT_EQ(decoder.nextKey(), 80);
}

// Checks that output is input with some known sequences replaced by their
// codes and DEL by backspace, and nothing else: no byte lost, none invented.
class ConservationOracle {
public:
    ConservationOracle(const std::vector<unsigned char>& input, const std::vector<int>& output)
        : input_(input), output_(output) {}

    bool explains() { return explain(0, 0); }

private:
    bool explain(std::size_t in, std::size_t out) {
        if (in == input_.size() || out == output_.size()) {
            return in == input_.size() && out == output_.size();
        }
        if (!visited_.insert({in, out}).second) {
            return false;
        }
        const int expectedSingle = input_[in] == 127 ? 8 : input_[in];
        if (output_[out] == expectedSingle && explain(in + 1, out + 1)) {
            return true;
        }
        if (input_[in] != 27 || out + 1 >= output_.size()) {
            return false;
        }
        if (in + 1 < input_.size() && input_[in + 1] >= '0' && input_[in + 1] <= '9') {
            const int scan = input_[in + 1] == '0' ? 68 : 58 + (input_[in + 1] - '0');
            if (output_[out] == 0 && output_[out + 1] == scan && explain(in + 2, out + 2)) {
                return true;
            }
        }
        for (const KnownKey& key : knownKeys) {
            const std::size_t length = std::strlen(key.sequence);
            if (in + length <= input_.size() &&
                std::memcmp(input_.data() + in, key.sequence, length) == 0 &&
                output_[out] == key.prefix && output_[out + 1] == key.scan &&
                explain(in + length, out + 2)) {
                return true;
            }
        }
        return false;
    }

    const std::vector<unsigned char>& input_;
    const std::vector<int>& output_;
    std::set<std::pair<std::size_t, std::size_t>> visited_;
};

TEST(KeyDecoder, RandomStreamsLoseAndInventNothing) {
    std::mt19937 random(20240611);
    // Bytes that make up sequences come often, so that real sequences,
    // near misses and broken ones all turn up.
    const std::string alphabet = "\x1b\x1b\x1b[[[OO0123456789~~ABCDEFHPQRS;x\x7f";
    for (int round = 0; round < 3000; ++round) {
        std::vector<unsigned char> input(random() % 24);
        for (unsigned char& byte : input) {
            byte = random() % 4 == 0 ? static_cast<unsigned char>(random() % 256)
                                     : static_cast<unsigned char>(alphabet[random() % alphabet.size()]);
        }
        KeyDecoder decoder;
        std::vector<int> output;
        for (const unsigned char byte : input) {
            decoder.feed(byte);
            // Keys are taken while bytes keep coming, as the keyboard does.
            if (random() % 3 == 0) {
                while (decoder.hasKey()) {
                    output.push_back(decoder.nextKey());
                }
            }
        }
        decoder.flush();
        EXPECT_FALSE(decoder.pending());
        while (decoder.hasKey()) {
            output.push_back(decoder.nextKey());
        }
        ConservationOracle oracle(input, output);
        ASSERT_TRUE(oracle.explains()) << "round " << round;
    }
}

}  // namespace
