#include "heap_usage.h"

#include <malloc.h>

namespace orvane::ui::testing {

std::size_t HeapInUse() {
    return mallinfo2().uordblks;
}

} // namespace orvane::ui::testing
