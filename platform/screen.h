#pragma once

#include <cstddef>

// Where the console's text goes. Every write reaches the screen at once.
class Screen {
public:
    virtual ~Screen() = default;
    virtual void write(const char* bytes, std::size_t count) = 0;
};

// Standard output, flushed after every write.
class StdoutScreen final : public Screen {
public:
    void write(const char* bytes, std::size_t count) override;
};
