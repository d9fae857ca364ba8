#include "platform/settings_store.h"
#include "platform/terminal.h"

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

// A settings file larger than this is not read into memory, and so not
// rewritten either: it is left as it is.
constexpr std::size_t MaxFileSize = 64 * 1024 * 1024;
// Our own lines longer than this are not settings of ours.
constexpr std::size_t MaxLineLength = 4096;
// Symbolic links followed on the way to the file, as the system would.
constexpr int MaxLinks = 40;

// A write cut short by a signal goes on.
bool writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t written = ::write(fd, text.data() + done, text.size() - done);
        if (written < 0 && errno == EINTR && !platform::terminationRequested()) {
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

// A line of ours that holds control bytes (other than tab) or is very long
// is damage, not a setting: its value is not used, and a value that would
// make such a line is not stored. Everyone else's lines are kept byte for
// byte, whatever they hold.
bool usableLine(std::string_view line) {
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

// The file a path names once symbolic links are followed, so that a link is
// written through rather than replaced. A link to nowhere names the file it
// would create. Relative targets are taken from the link's own folder.
std::string followLinks(std::string path) {
    for (int hop = 0; hop < MaxLinks; ++hop) {
        struct stat status {};
        if (lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) {
            return path;
        }
        std::string target(4096, '\0');
        const ssize_t length = readlink(path.c_str(), target.data(), target.size());
        if (length <= 0 || static_cast<std::size_t>(length) >= target.size()) {
            return path;  // unreadable: the open then says what is wrong
        }
        target.resize(static_cast<std::size_t>(length));
        if (target[0] != '/') {
            target = path.substr(0, path.rfind('/') + 1) + target;
        }
        path = target;
    }
    return path;
}

bool isLineFor(const std::string& line, const char* name) {
    const std::size_t nameLength = std::strlen(name);
    return line.size() > nameLength && line.compare(0, nameLength, name) == 0 &&
           line[nameLength] == '=';
}

// The value part of a line that isLineFor(name), without the carriage
// return of a file written elsewhere.
std::string_view valueOf(const std::string& line, const char* name) {
    std::string_view value = std::string_view(line).substr(std::strlen(name) + 1);
    if (!value.empty() && value.back() == '\r') {
        value.remove_suffix(1);
    }
    return value;
}

// The settings file: `${XDG_CONFIG_HOME:-$HOME/.config}/kembri/settings`,
// one `name=value` per line.
class FileSettingsStore final : public SettingsStore {
public:
    bool open() override;
    bool readText(const char* name, std::string& value) override;
    bool readNumber(const char* name, std::int32_t& value) override;
    void writeText(const char* name, const char* value) override;
    void writeNumber(const char* name, std::int32_t value) override;
    void commit() override;
    std::string notice() const override { return notice_; }

private:
    bool readFileLines();
    // The first line for name, or nullptr.
    const std::string* find(const char* name) const;
    void store(const char* name, const std::string& value);

    bool opened_ = false;
    std::string folder_;
    std::string path_;
    mode_t fileMode_ = 0644;
    std::vector<std::string> lines_;
    // Set when the file is there but could not be read whole: it is then
    // left untouched, and the user told so once.
    bool keepFile_ = false;
    std::string notice_;
};

bool FileSettingsStore::open() {
    opened_ = false;
    keepFile_ = false;
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
    if (!makeFolders(base + "/kembri")) {
        return false;
    }
    path_ = followLinks(base + "/kembri/settings");
    folder_ = path_.substr(0, path_.rfind('/'));
    if (!readFileLines()) {
        keepFile_ = true;
        notice_ = "settings not stored: cannot read " + path_ + "\n";
    }
    opened_ = true;
    return true;
}

// A missing file is an empty one. A file that is there must be read whole,
// or it is not rewritten: what it holds is not ours to lose.
bool FileSettingsStore::readFileLines() {
    int fd;
    do {
        fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    } while (fd < 0 && errno == EINTR && !platform::terminationRequested());
    if (fd < 0) {
        return errno == ENOENT;
    }
    struct stat status {};
    std::string text;
    bool whole = fstat(fd, &status) == 0 && S_ISREG(status.st_mode) &&
                 static_cast<std::uint64_t>(status.st_size) <= MaxFileSize;
    fileMode_ = status.st_mode & 0777;
    char chunk[65536];
    while (whole) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR && !platform::terminationRequested()) {
            continue;
        }
        if (got == 0) {
            break;
        }
        text.append(chunk, got > 0 ? static_cast<std::size_t>(got) : 0);
        whole = got > 0 && text.size() <= MaxFileSize;
    }
    ::close(fd);
    if (!whole) {
        return false;
    }
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        lines_.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return true;
}

const std::string* FileSettingsStore::find(const char* name) const {
    for (const std::string& line : lines_) {
        if (isLineFor(line, name)) {
            return &line;
        }
    }
    return nullptr;
}

bool FileSettingsStore::readText(const char* name, std::string& value) {
    const std::string* line = find(name);
    if (line == nullptr || !usableLine(valueOf(*line, name))) {
        return false;
    }
    value = valueOf(*line, name);
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
    if (!opened_ || keepFile_) {
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
