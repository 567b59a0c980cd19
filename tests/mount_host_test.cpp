// What dvmount asks of the host before it mounts: whether a directory is a
// mount point already.  Needs no FUSE: the host's own mounts serve.
#include <gtest/gtest.h>

#include <string>

#include "mount/host.h"
#include "run_program.h"

namespace {

TEST(MountHost, MountPointsAreTheHostsOwn) {
    dvtest::TempDir tmp;
    const struct {
        std::string dir;
        bool mount_point;
    } cases[] = {
        {"/", true},         {"/proc", true},       {"/proc/", true},          {"/proc/self/..", true},
        {tmp.path(), false}, {tmp / "none", false}, {tmp / "none/", false},
    };
    for (const auto& c : cases) EXPECT_EQ(dv::mount::is_mount_point(c.dir), c.mount_point) << c.dir;
}

}  // namespace
