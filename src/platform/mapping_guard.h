// Reading a file through a mapping while another program truncates it: the
// kernel answers a touch of a page past the new end with SIGBUS, which would
// end the process with no message. The guard catches that signal for the
// mappings registered here, puts zero pages in place of the vanished part and
// notes that the mapping was cut, so the reader finishes and reports the file
// as changed. A SIGBUS anywhere else keeps its usual effect.
#pragma once

#include <cstddef>

namespace zavo {

// Registers the mapping at `start` (page-aligned) of `length` bytes. Returns
// its slot, or -1 when every slot is taken.
int GuardMapping(const void* start, size_t length);

// Whether a page of the mapping in `slot` was touched past the file's end.
bool MappingWasCut(int slot);

// Forgets the mapping in `slot`; call it before unmapping.
void UnguardMapping(int slot);

}  // namespace zavo
