#include "platform/key_decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
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

TEST(KeyDecoder, ModifiedKeysHaveTheirOwnCodes) {
    const KnownKey modified[] = {
        {"\x1b[1;5C", 224, 116}, {"\x1b[1;5D", 224, 115}, {"\x1b[1;5A", 224, 141},
        {"\x1b[1;3A", 0, 152},   {"\x1b[1;2A", 224, 72},  {"\x1b[1;5H", 224, 119},
        {"\x1b[5;5~", 224, 132}, {"\x1b[3;3~", 0, 163},   {"\x1b[15;5~", 0, 98},
        {"\x1b[1;2P", 0, 84},    {"\x1b[1;3S", 0, 107},   {"\x1b[21;2~", 0, 93},
        {"\x1b[23;5~", 224, 137}, {"\x1b[24;3~", 224, 140}, {"\x1b[Z", 0, 15},
        {"\x1b" "a", 0, 30},        {"\x1bQ", 0, 16},        {"\x1b[1;7C", 0, 157},
        {"\x1bz", 0, 44},         {"\x1bZ", 0, 44},         {"\x1b[1;9A", 0, 152},
        // Every modifier at once: the most a terminal sends.
        {"\x1b[1;16A", 0, 152},
    };
    for (const KnownKey& key : modified) {
        EXPECT_EQ(decode(key.sequence, false), (std::vector<int>{key.prefix, key.scan}))
            << "sequence ESC" << (key.sequence + 1);
    }
}

TEST(KeyDecoder, OtherCompleteSequencesAreDroppedWhole) {
    EXPECT_EQ(decode("\x1b[99~x", false), bytesOf("x"));
    EXPECT_EQ(decode("\x1b[?1;2c", false), bytesOf(""));
    EXPECT_EQ(decode("\x1b[2A\x1b[1;5X", false), bytesOf(""));
    EXPECT_EQ(decode("\x1b[" + std::string(40, '1') + "~q", false), bytesOf("q"));
    EXPECT_EQ(decode("\x1bOZq", false), bytesOf("q"));
    EXPECT_EQ(decode("\x1b.", false), bytesOf(""));
    EXPECT_EQ(decode("\x1b[[Zk", false), bytesOf("k"));
    EXPECT_EQ(decode("\x1b[1[A", false), bytesOf("A"));
    // A modifier number past the four bits, or a third field: no key of ours.
    EXPECT_EQ(decode("\x1b[1;17A\x1b[1;1;5C", false), bytesOf(""));
    // 2^32 + 11: a number that would wrap round to F1's.
    EXPECT_EQ(decode("\x1b[4294967307~q", false), bytesOf("q"));
    // Sixteen parameter bytes are read; a seventeenth makes the sequence no key.
    EXPECT_EQ(decode("\x1b[" + std::string(14, '0') + "11~", false), (std::vector<int>{0, 59}));
    EXPECT_EQ(decode("\x1b[" + std::string(15, '0') + "11~q", false), bytesOf("q"));
    // A control byte breaks a sequence off and counts on its own.
    EXPECT_EQ(decode("\x1b[1\x7f"), (std::vector<int>{8}));
    EXPECT_EQ(decode("\x1b\r"), (std::vector<int>{27, 13}));
    EXPECT_EQ(decode("\x1bO\r"), (std::vector<int>{0, 24, 13}));
    EXPECT_EQ(decode("\x1b[[\r"), (std::vector<int>{13}));
    EXPECT_EQ(decode("\x1b\xe9"), (std::vector<int>{27, 0xe9}));
}

TEST(KeyDecoder, EachSequenceStartsAfresh) {
    const std::string overlong = "\x1b[" + std::string(40, '1') + "~";
    EXPECT_EQ(decode(overlong + "\x1b[1;5C\x1b[A", false), (std::vector<int>{224, 116, 224, 72}));
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

TEST(KeyDecoder, IncompleteSequencesAreDroppedAndEscOIsAltO) {
    EXPECT_EQ(decode("\x1b["), bytesOf(""));
    EXPECT_EQ(decode("\x1b[1;5"), bytesOf(""));
    EXPECT_EQ(decode("\x1b[[", true), bytesOf(""));
    EXPECT_EQ(decode("\x1bO", true), (std::vector<int>{0, 24}));
}

TEST(KeyDecoder, EscEsc) {
    EXPECT_EQ(decode("\x1b\x1b"), (std::vector<int>{27, 27}));
    // The second ESC starts a sequence of its own.
    EXPECT_EQ(decode("\x1b\x1b[A", false), (std::vector<int>{27, 224, 72}));
    EXPECT_EQ(decode("\x1b[\x1bOP", false), (std::vector<int>{0, 59}));
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

// Random streams of sequence bytes: codes come out the same however often
// they are taken, nothing stays held after a flush, and an ESC reaches the
// console only where nothing of a sequence followed it.
TEST(KeyDecoder, RandomStreamsLetOnlyLoneEscapesThrough) {
    std::mt19937 random(20240611);
    const std::string alphabet = "\x1b\x1b\x1b[[[OO0123456789;;~~ABCDEFHPQRSZx\x7f";
    for (int round = 0; round < 3000; ++round) {
        std::string input(random() % 24, '\0');
        for (char& byte : input) {
            byte = random() % 4 == 0 ? static_cast<char>(random() % 256)
                                     : alphabet[random() % alphabet.size()];
        }
        KeyDecoder eager;
        std::vector<int> output;
        for (const char byte : input) {
            eager.feed(static_cast<unsigned char>(byte));
            while (eager.hasKey()) output.push_back(eager.nextKey());
        }
        eager.flush();
        EXPECT_FALSE(eager.pending());
        while (eager.hasKey()) output.push_back(eager.nextKey());
        ASSERT_EQ(output, decode(input)) << "round " << round;

        std::size_t lone = 0;
        for (std::size_t i = 0; i < input.size(); ++i) {
            const auto next = i + 1 < input.size() ? static_cast<unsigned char>(input[i + 1]) : 0;
            lone += input[i] == 27 && (i + 1 == input.size() || next < 0x20 || next > 0x7E);
        }
        EXPECT_LE(static_cast<std::size_t>(std::count(output.begin(), output.end(), 27)), lone)
            << "round " << round;
    }
}

}  // namespace
