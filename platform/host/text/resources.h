// Seam for tests of the resource loader: the program normally reads the .res
// image embedded in its binary.
#pragma once

#include <cstddef>

namespace host {

// Reads resources from `data` (a .res image that outlives its use) instead of
// the embedded ones; nullptr restores those. False when the image is
// malformed: then no resource is found until the next call.
bool SetResourcesForTesting(const void *data, size_t size);

}  // namespace host
