#include "serial/telnet_codec.h"

namespace serial::telnet {

void escapeData(const std::uint8_t* data, std::size_t count, std::string& out) {
    out.reserve(out.size() + count + count / 64);
    for (std::size_t i = 0; i < count; ++i) {
        out.push_back(static_cast<char>(data[i]));
        if (data[i] == Iac) {
            out.push_back(static_cast<char>(Iac));
        }
    }
}

std::string command(std::uint8_t verb, std::uint8_t option) {
    return {static_cast<char>(Iac), static_cast<char>(verb), static_cast<char>(option)};
}

std::string comPortCommand(std::uint8_t code, const std::vector<std::uint8_t>& value) {
    std::string out = {static_cast<char>(Iac), static_cast<char>(Sb),
                       static_cast<char>(OptionComPort), static_cast<char>(code)};
    escapeData(value.data(), value.size(), out);
    out.push_back(static_cast<char>(Iac));
    out.push_back(static_cast<char>(Se));
    return out;
}

std::string setBaudRateCommand(std::uint32_t baud) {
    // Network byte order.
    return comPortCommand(SetBaudRate, {static_cast<std::uint8_t>(baud >> 24),
                                        static_cast<std::uint8_t>(baud >> 16),
                                        static_cast<std::uint8_t>(baud >> 8),
                                        static_cast<std::uint8_t>(baud)});
}

void Decoder::feed(const std::uint8_t* in, std::size_t count, std::string& data,
                   std::vector<Event>& events) {
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t byte = in[i];
        if (state_ == State::Data) {
            if (byte == Iac) {
                state_ = State::AfterIac;
            } else {
                data.push_back(static_cast<char>(byte));
            }
        } else if (state_ == State::Sub || state_ == State::SubIac) {
            feedSubnegotiation(byte, events);
        } else {
            feedCommand(byte, data, events);
        }
    }
}

void Decoder::feedCommand(std::uint8_t byte, std::string& data, std::vector<Event>& events) {
    if (state_ == State::Verb) {
        using K = Event::Kind;
        const K kind = verb_ == Will ? K::ServerWill : verb_ == Wont ? K::ServerWont : verb_ == Do ? K::ServerDo : K::ServerDont;
        events.push_back(Event{kind, byte, {}});
        state_ = State::Data;
        return;
    }
    // After IAC.
    if (byte == Iac) {
        data.push_back(static_cast<char>(Iac));
        state_ = State::Data;
    } else if (byte >= Will && byte <= Dont) {
        verb_ = byte;
        state_ = State::Verb;
    } else if (byte == Sb) {
        sub_.clear();
        state_ = State::Sub;
    } else {
        state_ = State::Data;
    }
}

void Decoder::feedSubnegotiation(std::uint8_t byte, std::vector<Event>& events) {
    if (state_ == State::Sub) {
        if (byte == Iac) {
            state_ = State::SubIac;
        } else if (sub_.size() < MaxSubnegotiation) {
            sub_.push_back(byte);
        }
        return;
    }
    // After IAC inside a subnegotiation.
    if (byte == Iac) {
        if (sub_.size() < MaxSubnegotiation) {
            sub_.push_back(Iac);
        }
        state_ = State::Sub;
        return;
    }
    if (byte == Se && !sub_.empty()) {
        events.push_back(Event{Event::Kind::Subnegotiation, sub_.front(),
                               std::vector<std::uint8_t>(sub_.begin() + 1, sub_.end())});
    }
    // SE ends it; any other command inside one is a broken server's, and
    // ending there keeps the data that follows from being swallowed.
    sub_.clear();
    state_ = State::Data;
}

namespace {

bool weOffer(std::uint8_t option) {
    return option == OptionBinary || option == OptionComPort || option == OptionSuppressGoAhead;
}

bool weAccept(std::uint8_t option) {
    return option == OptionBinary || option == OptionSuppressGoAhead;
}

}  // namespace

std::string answerTo(const Event& event) {
    switch (event.kind) {
    case Event::Kind::ServerDo: return weOffer(event.option) ? std::string() : command(Wont, event.option);
    case Event::Kind::ServerWill: return weAccept(event.option) ? std::string() : command(Dont, event.option);
    default: return {};
    }
}

std::string openingRequests() {
    return command(Will, OptionBinary) + command(Do, OptionBinary) +
           command(Will, OptionSuppressGoAhead) + command(Do, OptionSuppressGoAhead) +
           command(Will, OptionComPort);
}

}  // namespace serial::telnet
