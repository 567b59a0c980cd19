// Which host files hold a disk: a formatted image does; a short file, text,
// a directory, a missing file and a FIFO (never opened, so never waited
// on) do not.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "rbf/disk_probe.h"
#include "test_support.h"

TEST(DiskProbe, WhichHostFilesHoldADisk) {
    dvtest::TempDir dir;
    dvtest::ImageBuilder().save(dir / "x.dsk");
    dvtest::bytes damaged = dvtest::ImageBuilder().image();
    damaged[0] = damaged[1] = damaged[2] = 0;  // dd_tot 0
    dvtest::write_file(dir / "damaged.dsk", damaged);
    dvtest::write_file(dir / "short", dvtest::bytes(255, 1));
    dvtest::write_file(dir / "text", dvtest::bytes(4096, 'x'));
    std::filesystem::create_directory(dir / "sub");
    mkfifo((dir / "fifo").c_str(), 0600);
    const std::pair<const char*, bool> cases[] = {
        {"x.dsk", true}, {"damaged.dsk", false}, {"short", false}, {"text", false},
        {"sub", false},  {"fifo", false},        {"missing", false},
    };
    for (const auto& [name, disk] : cases) EXPECT_EQ(rbf::host_file_is_disk_image(dir / name), disk) << name;
}
