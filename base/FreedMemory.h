#pragma once

namespace tw {

// Asks the allocator to give the memory that the calling thread's blocks left free back to the
// system. mimalloc, where the program links it, keeps a thread's emptied pages until that thread
// allocates again, and blocks freed by other threads until then too; glibc keeps free memory at
// the top of its heaps. For a thread that is about to wait a long time after dropping a lot.
void giveFreedMemoryBack();

}  // namespace tw
