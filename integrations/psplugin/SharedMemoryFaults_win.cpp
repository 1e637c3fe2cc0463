#include "SharedMemoryFaults.h"

// A view of a Windows section keeps the whole section alive and its size fixed: the filter
// module cannot cut it short under us, so there is nothing to watch.
void SharedMemoryFaults::watch(const void *, std::size_t) { }
