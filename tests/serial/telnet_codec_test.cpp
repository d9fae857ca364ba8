#include "serial/telnet_codec.h"

#include <gtest/gtest.h>

#include <string>

#include "serial/port_address.h"

namespace {

namespace telnet = serial::telnet;
using namespace std::string_literals;
using serial::NetworkProtocol;

std::string allByteValues() {
    std::string bytes;
    for (int value = 0; value < 256; ++value) bytes.push_back(static_cast<char>(value));
    return bytes + "\xff\xff\xff";
}

const std::uint8_t* raw(const std::string& text) {
    return reinterpret_cast<const std::uint8_t*>(text.data());
}

TEST(PortAddress, UrlsThatNameAServer) {
    const auto v4 = serial::parseNetworkAddress("rfc2217://127.0.0.1:2217");
    ASSERT_TRUE(v4);
    EXPECT_EQ(v4->protocol, NetworkProtocol::Rfc2217);
    EXPECT_EQ(v4->host, "127.0.0.1");
    EXPECT_EQ(v4->port, 2217);
    const auto v6 = serial::parseNetworkAddress("tcp://[::1]:65535");
    ASSERT_TRUE(v6);
    EXPECT_EQ(v6->protocol, NetworkProtocol::RawTcp);
    EXPECT_EQ(v6->host, "::1");
    EXPECT_EQ(v6->port, 65535);
    EXPECT_TRUE(serial::parseNetworkAddress("tcp://board-7.lab:1"));
}

TEST(PortAddress, MalformedUrlsAreRefusedSayingWhy) {
    const std::string number = "the port number must be a number from 1 to 65535";
    const std::pair<const char*, std::string> refused[] = {
        {"rfc2217://host", "no port number (HOST:PORT)"},
        {"rfc2217://host:", number},
        {"rfc2217://host:0", number},
        {"rfc2217://host:65536", number},
        {"rfc2217://host:99999999999", number},
        {"tcp://host:22x", number},
        {"tcp://host:+22", number},
        {"tcp://host:-1", number},
        {"rfc2217://:2217", "no host before the port number"},
        {"rfc2217://[]:2217", "no host before the port number"},
        {"rfc2217://[::1:2217", "the '[' of an IPv6 address is not closed"},
        {"rfc2217://[::1]2217", "no port number after the ']' (as in [::1]:2217)"},
        {"rfc2217://host]:1", "a stray bracket in the host"},
        {"rfc2217://host:2217/", "nothing may follow the port number (a path, a '/')"},
        {"rfc2217://host:2217?x", "nothing may follow the port number (a path, a '/')"},
        {"tcp://::1:2217", "an IPv6 address goes in brackets, as in [::1]:2217"},
        {"tcp://user@host:22", "a user name (user@) is not taken"},
        {"telnet://host:23", "the scheme must be rfc2217:// or tcp://"},
        {"://host:23", "the scheme must be rfc2217:// or tcp://"},
        {"rfc2217://ho st:23", "a space in the host"},
    };
    for (const auto& [url, why] : refused) {
        EXPECT_FALSE(serial::parseNetworkAddress(url)) << url;
        EXPECT_EQ(serial::portNameProblem(url), why) << url;
    }
    const auto upper = serial::parseNetworkAddress("RFC2217://host:1");
    ASSERT_TRUE(upper);
    EXPECT_EQ(upper->protocol, NetworkProtocol::Rfc2217);
    EXPECT_TRUE(serial::parseNetworkAddress("Tcp://host:1"));
    EXPECT_EQ(serial::portNameProblem("rfc2217://[fd00::7]:2001"), "");
    EXPECT_EQ(serial::portNameProblem("/dev/ttyUSB0"), "");
    EXPECT_TRUE(serial::isNetworkPortName("tcp://x:1"));
    EXPECT_FALSE(serial::isNetworkPortName("COM3"));
    EXPECT_FALSE(serial::isNetworkPortName("/dev/ttyUSB0"));
}

TEST(TelnetCodec, DataSurvivesEscapingSplitAtEveryByte) {
    const std::string data = allByteValues();
    std::string wire;
    telnet::escapeData(raw(data), data.size(), wire);
    EXPECT_EQ(wire.size(), data.size() + 4);  // four 0xFF, each doubled

    // Fed one byte at a time, every IAC falls at the end of a read.
    telnet::Decoder decoder;
    std::string decoded;
    std::vector<telnet::Event> events;
    for (std::size_t i = 0; i < wire.size(); ++i) decoder.feed(raw(wire) + i, 1, decoded, events);
    EXPECT_EQ(decoded, data);
    EXPECT_TRUE(events.empty());
}

TEST(TelnetCodec, CommandsAreTakenOutOfTheData) {
    // WILL ECHO, a NOP, DO COM-PORT, then the answer to a baud rate whose
    // value holds an escaped 0xFF, cut in the middle; data around all.
    const std::string wire =
        "a\xff\xfb\x01" "b\xff\xf1" "c\xff\xfd\x2c" "d\xff\xfa\x2c\x65\x00\x01\xff\xff\x00\xff\xf0" "e"s;
    telnet::Decoder decoder;
    std::string decoded;
    std::vector<telnet::Event> events;
    decoder.feed(raw(wire), 12, decoded, events);
    decoder.feed(raw(wire) + 12, wire.size() - 12, decoded, events);
    EXPECT_EQ(decoded, "abcde");
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].kind, telnet::Event::Kind::ServerWill);
    EXPECT_EQ(events[0].option, telnet::OptionEcho);
    EXPECT_EQ(events[1].kind, telnet::Event::Kind::ServerDo);
    EXPECT_EQ(events[1].option, telnet::OptionComPort);
    EXPECT_EQ(events[2].kind, telnet::Event::Kind::Subnegotiation);
    EXPECT_EQ(events[2].payload, (std::vector<std::uint8_t>{0x65, 0x00, 0x01, 0xff, 0x00}));
}

TEST(TelnetCodec, AnEndlessSubnegotiationIsCutAndABrokenOneEnds) {
    telnet::Decoder decoder;
    std::string decoded;
    std::vector<telnet::Event> events;
    const std::string start = "\xff\xfa\x2c";
    decoder.feed(raw(start), start.size(), decoded, events);
    const std::string babble(100000, 'x');
    for (int i = 0; i < 10; ++i) decoder.feed(raw(babble), babble.size(), decoded, events);
    const std::string end = "\xff\xf0" "ok" "\xff\xfa\x2c\x01\xff\xf1" "go" "\xff\xfa\xff\xf0" "!";
    decoder.feed(raw(end), end.size(), decoded, events);
    // Nothing of the babble is data; the one kept is cut to the limit; the
    // subnegotiation broken by a stray command ends there and drops nothing
    // after; an empty one is no event.
    EXPECT_EQ(decoded, "okgo!");
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].payload.size(), telnet::MaxSubnegotiation - 1);
}

TEST(TelnetCodec, RequestsAndAnswersOfTheClient) {
    EXPECT_EQ(telnet::setBaudRateCommand(115200), std::string("\xff\xfa\x2c\x01\x00\x01\xc2\x00\xff\xf0", 10));
    EXPECT_EQ(telnet::setBaudRateCommand(0x1ffff), std::string("\xff\xfa\x2c\x01\x00\x01\xff\xff\xff\xff\xff\xf0", 12));
    using K = telnet::Event::Kind;
    // What the client asked for is not answered again (no loop); the rest
    // is refused; refusals are not answered.
    EXPECT_EQ(telnet::answerTo({K::ServerDo, telnet::OptionComPort, {}}), "");
    EXPECT_EQ(telnet::answerTo({K::ServerWill, telnet::OptionBinary, {}}), "");
    EXPECT_EQ(telnet::answerTo({K::ServerWill, telnet::OptionEcho, {}}), "\xff\xfe\x01");
    EXPECT_EQ(telnet::answerTo({K::ServerDo, 24, {}}), "\xff\xfc\x18");
    EXPECT_EQ(telnet::answerTo({K::ServerDont, telnet::OptionBinary, {}}), "");
    EXPECT_EQ(telnet::answerTo({K::ServerWont, 24, {}}), "");
}

}  // namespace
