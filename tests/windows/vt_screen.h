#pragma once

#include <cstddef>
#include <string>
#include <vector>

// A small terminal renderer for what Wine's console sends to its terminal:
// text, line ends, cursor movements and erasures. Wine draws blanks as
// cursor movements, so screen text is compared after rendering, not as bytes.
class VtScreen {
public:
    VtScreen(int rows, int columns);

    void feed(const char* bytes, std::size_t count);
    // Lines scrolled off the top, then the screen, without trailing blanks.
    std::string text() const;

private:
    enum class Mode { Text, Escape, Csi, Osc, OscEscape };

    void put(char c);
    void lineFeed();
    void runCsi(char final);
    int parameter(std::size_t index, int fallback) const;
    void clampCursor();

    int rows_;
    int columns_;
    int row_ = 0;
    int column_ = 0;
    std::vector<std::string> lines_;
    std::vector<std::string> scrolledOff_;
    Mode mode_ = Mode::Text;
    std::string parameters_;
};
