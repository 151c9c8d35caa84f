#include "heap_usage.h"

#include <malloc.h>

namespace orvane::ui::testing {

// The sum of the C run-time heap's blocks in use.
std::size_t HeapInUse() {
    _HEAPINFO entry{};
    std::size_t used = 0;
    while (_heapwalk(&entry) == _HEAPOK) {
        if (entry._useflag == _USEDENTRY)
            used += entry._size;
    }
    return used;
}

} // namespace orvane::ui::testing
