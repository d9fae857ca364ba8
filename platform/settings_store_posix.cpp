#include "platform/settings_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

// A settings file bigger than this was not written by us; nothing in it is
// read, and the next commit replaces it.
constexpr std::size_t MaxFileSize = 64 * 1024;
// Longer lines are not settings of anyone's; they are dropped.
constexpr std::size_t MaxLineLength = 4096;

// A write cut short by a signal goes on.
bool writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t written = ::write(fd, text.data() + done, text.size() - done);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(written);
    }
    return true;
}

// mkdir -p: every missing folder on the way is made.
bool makeFolders(const std::string& path) {
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string part = path.substr(0, slash);
        if (!part.empty() && mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            return false;
        }
        if (slash == std::string::npos) {
            break;
        }
    }
    struct stat status {};
    return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// A line that holds control bytes (other than tab) or is very long is junk,
// not a setting of another program: keeping it would carry the damage into
// every rewrite. Other lines, comments and lines without '=' included, are
// kept as they are, since they may be someone else's.
bool usableLine(const std::string& line) {
    if (line.size() > MaxLineLength) {
        return false;
    }
    for (const char c : line) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 && byte != '\t') || byte == 0x7F) {
            return false;
        }
    }
    return true;
}

bool isLineFor(const std::string& line, const char* name) {
    const std::size_t nameLength = std::strlen(name);
    return line.size() > nameLength && line.compare(0, nameLength, name) == 0 &&
           line[nameLength] == '=';
}

// The value part of a line that isLineFor(name).
std::string_view valueOf(const std::string& line, const char* name) {
    return std::string_view(line).substr(std::strlen(name) + 1);
}

// The settings file: `${XDG_CONFIG_HOME:-$HOME/.config}/kembri/settings`,
// one `name=value` per line.
class FileSettingsStore final : public SettingsStore {
public:
    bool open() override;
    bool readText(const char* name, char* buffer, std::size_t size) override;
    bool readNumber(const char* name, std::int32_t& value) override;
    void writeText(const char* name, const char* value) override;
    void writeNumber(const char* name, std::int32_t value) override;
    void commit() override;

private:
    void readFileLines();
    // The first line for name, or nullptr.
    const std::string* find(const char* name) const;
    void store(const char* name, const std::string& value);

    bool opened_ = false;
    std::string folder_;
    std::string path_;
    mode_t fileMode_ = 0644;
    std::vector<std::string> lines_;
};

bool FileSettingsStore::open() {
    opened_ = false;
    lines_.clear();
    // A relative XDG_CONFIG_HOME is to be ignored, as the base-directory rules say.
    const char* configHome = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    if (configHome != nullptr && configHome[0] == '/') {
        base = configHome;
    } else {
        const char* home = std::getenv("HOME");
        if (home == nullptr || home[0] != '/') {
            return false;
        }
        base = std::string(home) + "/.config";
    }
    folder_ = base + "/kembri";
    path_ = folder_ + "/settings";
    if (!makeFolders(folder_)) {
        return false;
    }
    readFileLines();
    opened_ = true;
    return true;
}

// A file that is missing, cannot be read or makes no sense leaves nothing
// stored: the defaults stand and the next commit writes the file whole.
void FileSettingsStore::readFileLines() {
    int fd;
    do {
        fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return;
    }
    struct stat status {};
    std::string text;
    if (fstat(fd, &status) == 0 && S_ISREG(status.st_mode) &&
        static_cast<std::uint64_t>(status.st_size) <= MaxFileSize) {
        fileMode_ = status.st_mode & 0777;
        char chunk[4096];
        for (;;) {
            const ssize_t got = ::read(fd, chunk, sizeof chunk);
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got <= 0) {
                break;
            }
            text.append(chunk, static_cast<std::size_t>(got));
            if (text.size() > MaxFileSize) {
                text.clear();  // grew while we read: not ours
                break;
            }
        }
    }
    ::close(fd);

    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (usableLine(line)) {
            lines_.push_back(std::move(line));
        }
        start = end + 1;
    }
}

const std::string* FileSettingsStore::find(const char* name) const {
    for (const std::string& line : lines_) {
        if (isLineFor(line, name)) {
            return &line;
        }
    }
    return nullptr;
}

bool FileSettingsStore::readText(const char* name, char* buffer, std::size_t size) {
    const std::string* line = find(name);
    if (line == nullptr) {
        return false;
    }
    const std::string_view value = valueOf(*line, name);
    if (value.size() + 1 > size) {
        return false;
    }
    std::memcpy(buffer, value.data(), value.size());
    buffer[value.size()] = '\0';
    return true;
}

bool FileSettingsStore::readNumber(const char* name, std::int32_t& value) {
    const std::string* line = find(name);
    if (line == nullptr) {
        return false;
    }
    const std::string_view text = valueOf(*line, name);
    std::int32_t number = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, number, 10);
    if (error != std::errc() || stop != end) {
        return false;
    }
    value = number;
    return true;
}

void FileSettingsStore::store(const char* name, const std::string& value) {
    const std::string line = std::string(name) + "=" + value;
    // A value with a line break cannot be kept in a line; rather than let an
    // older value pass for the current one, the setting is dropped.
    const bool storable = usableLine(line);
    bool placed = false;
    for (auto it = lines_.begin(); it != lines_.end();) {
        if (!isLineFor(*it, name)) {
            ++it;
        } else if (storable && !placed) {
            *it = line;
            placed = true;
            ++it;
        } else {
            it = lines_.erase(it);
        }
    }
    if (storable && !placed) {
        lines_.push_back(line);
    }
}

void FileSettingsStore::writeText(const char* name, const char* value) {
    if (opened_) {
        store(name, value);
    }
}

void FileSettingsStore::writeNumber(const char* name, std::int32_t value) {
    if (opened_) {
        store(name, std::to_string(value));
    }
}

// Written beside the file and renamed over it, so that the file is either
// the old one or the new one whole, whatever happens meanwhile.
void FileSettingsStore::commit() {
    if (!opened_) {
        return;
    }
    std::string text;
    for (const std::string& line : lines_) {
        text += line;
        text += '\n';
    }
    std::string temporary = folder_ + "/.settings.XXXXXX";
    const int fd = mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        return;
    }
    const bool written = fchmod(fd, fileMode_) == 0 && writeAll(fd, text) && fsync(fd) == 0;
    const bool closed = ::close(fd) == 0;
    if (!written || !closed || rename(temporary.c_str(), path_.c_str()) != 0) {
        unlink(temporary.c_str());
        return;
    }
    // The rename itself lasts once the folder is on disk too.
    const int folder = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        fsync(folder);
        ::close(folder);
    }
}

}  // namespace

std::unique_ptr<SettingsStore> makeSystemSettingsStore() {
    return std::make_unique<FileSettingsStore>();
}
