// How many bytes the C library's heap has handed out and not taken back, for tests that check
// that nothing grows with the input. One implementation per C library.
#pragma once

#include <cstddef>

namespace orvane::ui::testing {

std::size_t HeapInUse();

} // namespace orvane::ui::testing
