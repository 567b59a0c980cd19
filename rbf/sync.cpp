// Putting what a process wrote to an image on the host's disk.
#include <unistd.h>

#include "os9disk.h"
#include "rbf/image.h"

namespace rbf {

error_code image_sync(os9_image& img) {
    // Frees wait in the map for a write-back; a crash before it only leaks them.
    error_code ec = image_map_write_back(img);
    if (!img.memory && img.fd >= 0 && img.rw && fdatasync(img.fd) != 0 && ec == E_SUCCESS) ec = E_GENERAL;
    return ec;
}

}  // namespace rbf
