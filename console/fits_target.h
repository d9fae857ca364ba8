#pragma once

#include <cstdint>

// An address or length typed without a width limit is read as a wider number
// and kept only when it fits in 32 bits: the formatted-input rules would
// otherwise keep the low digits of a longer number, and a mistyped length
// would silently become another one.
inline bool fitsTarget(unsigned long long value) { return value <= 0xFFFFFFFFull; }
