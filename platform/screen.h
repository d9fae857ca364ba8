#pragma once

#include <cstddef>

// Where the console's text goes. Every write reaches the screen at once.
class Screen {
public:
    virtual ~Screen() = default;
    virtual void write(const char* bytes, std::size_t count) = 0;
    // Bytes the target sent that the screen does not show (what follows a
    // NUL in a chunk): only a record of the session, such as a log, keeps
    // them, in their place among the bytes written.
    virtual void keepUnshown(const char* /*bytes*/, std::size_t /*count*/) {}
};

// Standard output, flushed after every write.
class StdoutScreen final : public Screen {
public:
    void write(const char* bytes, std::size_t count) override;
};
