// Putting what a process wrote to an image on the host's disk.
#include "os9disk.h"
#include "rbf/image.h"

namespace rbf {

error_code image_sync(os9_image& img) {
    // Frees wait in the map for a write-back; a crash before it only leaks them.
    error_code ec = image_map_write_back(img);
    if (error_code synced = img.dev->sync(); synced && ec == E_SUCCESS) ec = synced;
    return ec;
}

}  // namespace rbf
