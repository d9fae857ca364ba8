#include "fuzz/instant_monitor.h"

#include <algorithm>
#include <cstring>

namespace fuzzing {

std::int32_t InstantMonitor::read(void* buffer, std::int32_t count) {
    const std::size_t waiting = answer_.size() - delivered_;
    if (waiting == 0 || count <= 0) {
        // The host waited in vain: an exchange the monitor had open is over.
        monitor.timeOut();
        return 0;
    }
    const std::size_t n = std::min(waiting, static_cast<std::size_t>(count));
    std::memcpy(buffer, answer_.data() + delivered_, n);
    delivered_ += n;
    if (delivered_ == answer_.size()) {
        answer_.clear();
        delivered_ = 0;
    }
    return static_cast<std::int32_t>(n);
}

std::int32_t InstantMonitor::write(const void* buffer, std::int32_t count) {
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    for (std::int32_t i = 0; i < count; ++i) {
        monitor.receive(bytes[i], answer_);
    }
    return count;
}

}  // namespace fuzzing
