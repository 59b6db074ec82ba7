#include "base/FreedMemory.h"

#include <malloc.h>

// Declared weak: it resolves only in programs that link mimalloc.
extern "C" void mi_collect(bool force) __attribute__((weak));

namespace tw {

void giveFreedMemoryBack() {
    if (mi_collect) {
        mi_collect(true);
    } else {
        ::malloc_trim(0);
    }
}

}  // namespace tw
