#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The telnet framing of a port served over the network with the COM port
// control option: what goes out is escaped, what comes in is split into the
// target's bytes and the server's commands. Pure: no sockets, no clock, so a
// command cut anywhere by the network is picked up where it stopped.
namespace serial::telnet {

inline constexpr std::uint8_t Iac = 255;
inline constexpr std::uint8_t Dont = 254;
inline constexpr std::uint8_t Do = 253;
inline constexpr std::uint8_t Wont = 252;
inline constexpr std::uint8_t Will = 251;
inline constexpr std::uint8_t Sb = 250;
inline constexpr std::uint8_t Se = 240;

inline constexpr std::uint8_t OptionBinary = 0;
inline constexpr std::uint8_t OptionEcho = 1;
inline constexpr std::uint8_t OptionSuppressGoAhead = 3;
inline constexpr std::uint8_t OptionComPort = 44;

// COM port control commands from the client; the server answers each with
// the same command plus ServerOffset.
inline constexpr std::uint8_t SetBaudRate = 1;
inline constexpr std::uint8_t SetDataSize = 2;
inline constexpr std::uint8_t SetParity = 3;
inline constexpr std::uint8_t SetStopSize = 4;
inline constexpr std::uint8_t SetControl = 5;
inline constexpr std::uint8_t ServerOffset = 100;

inline constexpr std::uint8_t ParityNone = 1;
inline constexpr std::uint8_t StopBitsOne = 1;
inline constexpr std::uint8_t ControlHardwareFlow = 3;
inline constexpr std::uint8_t ControlDtrOff = 9;
inline constexpr std::uint8_t ControlRtsOn = 11;
inline constexpr std::uint8_t ControlRtsOff = 12;

// The longest subnegotiation kept; the COM port answers need at most five
// bytes, and anything longer is cut so that a babbling server cannot make
// the client hold more.
inline constexpr std::size_t MaxSubnegotiation = 64;

// Data with every 0xFF doubled, appended to out.
void escapeData(const std::uint8_t* data, std::size_t count, std::string& out);
// IAC verb option.
std::string command(std::uint8_t verb, std::uint8_t option);
// IAC SB COM-PORT-OPTION code value... IAC SE, with 0xFF in the value doubled.
std::string comPortCommand(std::uint8_t code, const std::vector<std::uint8_t>& value);
std::string setBaudRateCommand(std::uint32_t baud);

// A negotiation or subnegotiation the server sent.
struct Event {
    enum class Kind : std::uint8_t { ServerWill, ServerWont, ServerDo, ServerDont, Subnegotiation };
    Kind kind;
    std::uint8_t option;
    // Subnegotiation only: the bytes after the option, unescaped, at most
    // MaxSubnegotiation - 1 of them.
    std::vector<std::uint8_t> payload;
};

// Splits what the server sends into data and events.
class Decoder {
public:
    // Appends the data bytes in [in, in + count) to data and the commands
    // to events. Other telnet commands (NOP, GA, break ...) are dropped.
    void feed(const std::uint8_t* in, std::size_t count, std::string& data,
              std::vector<Event>& events);

private:
    enum class State : std::uint8_t { Data, AfterIac, Verb, Sub, SubIac };
    void feedCommand(std::uint8_t byte, std::string& data, std::vector<Event>& events);
    void feedSubnegotiation(std::uint8_t byte, std::vector<Event>& events);

    State state_ = State::Data;
    std::uint8_t verb_ = 0;
    std::vector<std::uint8_t> sub_;
};

// The answers of a client that asked for binary transfer both ways, offered
// the COM port option and wants nothing else: a refusal for what it does not
// do, nothing for what it asked for itself (no negotiation loops).
std::string answerTo(const Event& event);

// The opening requests of that client.
std::string openingRequests();

}  // namespace serial::telnet
