#include "tests/windows/vt_screen.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace {

std::string trimmedRight(const std::string& line) {
    const std::size_t end = line.find_last_not_of(' ');
    return end == std::string::npos ? std::string() : line.substr(0, end + 1);
}

}  // namespace

VtScreen::VtScreen(int rows, int columns)
    : rows_(rows), columns_(columns), lines_(static_cast<std::size_t>(rows), std::string(columns, ' ')) {}

void VtScreen::feed(const char* bytes, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        const char c = bytes[i];
        switch (mode_) {
        case Mode::Text:
            if (c == '\x1b') {
                mode_ = Mode::Escape;
            } else {
                put(c);
            }
            break;
        case Mode::Escape:
            if (c == '[') {
                mode_ = Mode::Csi;
                parameters_.clear();
            } else if (c == ']') {
                mode_ = Mode::Osc;
            } else {
                mode_ = Mode::Text;  // two-byte sequences change nothing we read
            }
            break;
        case Mode::Csi:
            if (c >= 0x40 && c <= 0x7E) {
                runCsi(c);
                mode_ = Mode::Text;
            } else {
                parameters_ += c;
            }
            break;
        case Mode::Osc:
            if (c == '\a') {
                mode_ = Mode::Text;
            } else if (c == '\x1b') {
                mode_ = Mode::OscEscape;
            }
            break;
        case Mode::OscEscape:
            mode_ = c == '\\' ? Mode::Text : Mode::Osc;
            break;
        }
    }
}

void VtScreen::put(char c) {
    switch (c) {
    case '\r': column_ = 0; return;
    case '\n': lineFeed(); return;
    case '\b':
        if (column_ > 0) --column_;
        return;
    case '\t': column_ = std::min(columns_ - 1, (column_ / 8 + 1) * 8); return;
    case '\a': return;
    default: break;
    }
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
        return;
    }
    if (column_ >= columns_) {
        column_ = 0;
        lineFeed();
    }
    lines_[static_cast<std::size_t>(row_)][static_cast<std::size_t>(column_)] = c;
    ++column_;
}

void VtScreen::lineFeed() {
    if (row_ + 1 < rows_) {
        ++row_;
        return;
    }
    scrolledOff_.push_back(lines_.front());
    lines_.erase(lines_.begin());
    lines_.emplace_back(static_cast<std::size_t>(columns_), ' ');
}

int VtScreen::parameter(std::size_t index, int fallback) const {
    std::size_t start = 0;
    for (std::size_t i = 0; i < index; ++i) {
        start = parameters_.find(';', start);
        if (start == std::string::npos) return fallback;
        ++start;
    }
    const char* text = parameters_.c_str() + start;
    if (!std::isdigit(static_cast<unsigned char>(*text))) return fallback;
    return std::atoi(text);
}

void VtScreen::runCsi(char final) {
    if (!parameters_.empty() && (parameters_[0] == '?' || parameters_[0] == '>')) {
        return;  // private modes: cursor shown or hidden and the like
    }
    std::string& line = lines_[static_cast<std::size_t>(row_)];
    const int n = std::max(1, parameter(0, 1));
    switch (final) {
    case 'A': row_ -= n; break;
    case 'B': row_ += n; break;
    case 'C': column_ += n; break;
    case 'D': column_ -= n; break;
    case 'G': column_ = n - 1; break;
    case 'd': row_ = n - 1; break;
    case 'H':
    case 'f':
        row_ = std::max(1, parameter(0, 1)) - 1;
        column_ = std::max(1, parameter(1, 1)) - 1;
        break;
    case 'K': {
        const int how = parameter(0, 0);
        const auto at = static_cast<std::size_t>(std::min(column_, columns_));
        if (how == 0) line.replace(at, line.size() - at, line.size() - at, ' ');
        if (how == 1) line.replace(0, std::min(at + 1, line.size()), std::min(at + 1, line.size()), ' ');
        if (how == 2) line.assign(line.size(), ' ');
        break;
    }
    case 'X': {
        const auto at = static_cast<std::size_t>(std::min(column_, columns_));
        const std::size_t count = std::min(static_cast<std::size_t>(n), line.size() - at);
        line.replace(at, count, count, ' ');
        break;
    }
    case 'J': {
        const int how = parameter(0, 0);
        for (int r = 0; r < rows_; ++r) {
            if ((how == 0 && r > row_) || (how == 1 && r < row_) || how >= 2) {
                lines_[static_cast<std::size_t>(r)].assign(static_cast<std::size_t>(columns_), ' ');
            }
        }
        break;
    }
    default: break;  // colours, scroll regions and the like change no text
    }
    clampCursor();
}

void VtScreen::clampCursor() {
    row_ = std::clamp(row_, 0, rows_ - 1);
    column_ = std::clamp(column_, 0, columns_ - 1);
}

std::string VtScreen::text() const {
    std::string all;
    for (const auto* part : {&scrolledOff_, &lines_}) {
        for (const std::string& line : *part) {
            all += trimmedRight(line);
            all += '\n';
        }
    }
    const std::size_t end = all.find_last_not_of('\n');
    return end == std::string::npos ? std::string() : all.substr(0, end + 1);
}
