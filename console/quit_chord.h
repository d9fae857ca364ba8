#pragma once

#include "console/console.h"

// F10 then F2 (Alt+0 then Alt+2), each as its two codes, looked for while
// the console does not take keys as typing: waiting for a port. Any other
// key is dropped and starts the chord again.
class QuitChord {
public:
    bool take(int key) {
        const bool prefix = key == keys::PrefixZero || key == keys::PrefixExtended;
        static constexpr int ScanCodes[] = {keys::F10, keys::F2};
        if (step_ % 2 == 0) {
            step_ = prefix ? step_ + 1 : 0;
        } else if (key == ScanCodes[step_ / 2]) {
            ++step_;
        } else {
            step_ = prefix ? 1 : 0;
        }
        return step_ == 4;
    }

private:
    int step_ = 0;
};
