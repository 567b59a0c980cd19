// Writes the host does not take: every writing call reports them.  Each
// operation runs once to count its writes, then again with the image
// refusing writes after each count in turn; a run cut short must not report
// success.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>

#include "image_builder.h"
#include "os9disk.h"
#include "os9path.h"
#include "rbf/image.h"
#include "test_support.h"
#include "tree_check.h"

namespace {

using dvtest::bytes;
using dvtest::ImageBuilder;

// DIR holding SUB (holding g) and f; F at the root with 600 bytes.
bytes sample() {
    ImageBuilder b;
    b.add_file(b.root(), "F", bytes(600, 'f'));
    int dir = b.add_dir(b.root(), "DIR");
    int sub = b.add_dir(dir, "SUB");
    b.add_file(sub, "g", std::string("g"));
    b.add_file(dir, "f", std::string("f"));
    return b.image();
}

int write_and_close(const rbf::image_ref& img, const char* in_image, int mode, bool create) {
    rbf::os9_path_id p = nullptr;
    int ec = create ? rbf::_os9_create(&p, img, in_image, mode, 0x1B) : rbf::_os9_open(&p, img, in_image, mode);
    if (ec) return ec;
    std::string text(3000, 't');
    int size = static_cast<int>(text.size());
    if (!create) ec = rbf::_os9_seek(p, 0, 2);
    if (!ec) ec = rbf::_os9_write(p, text.data(), &size);
    int closed = rbf::_os9_close(p);
    return ec ? ec : closed;
}

struct Op {
    const char* what;
    std::function<int(const rbf::image_ref&)> run;
};

const Op kOps[] = {
    {"delete a file", [](const rbf::image_ref& img) { return rbf::_os9_delete(img, "F"); }},
    {"create and write a file", [](const rbf::image_ref& img) { return write_and_close(img, "NEW", 2, true); }},
    {"grow a file", [](const rbf::image_ref& img) { return write_and_close(img, "F", 3, false); }},
    {"make a directory", [](const rbf::image_ref& img) { return rbf::_os9_makdir(img, "DIR/NEWDIR"); }},
    {"remove a tree", [](const rbf::image_ref& img) { return rbf::_os9_prune(img, "m:DIR", "DIR", {}).error; }},
};

TEST(WriteFailure, EveryOperationCutShortReportsIt) {
    for (const Op& op : kOps) {
        rbf::image_ref whole = rbf::image_in_memory(sample());
        const std::uint64_t before = whole->generation;
        ASSERT_EQ(op.run(whole), 0) << op.what;
        const long writes = static_cast<long>(whole->generation - before);
        ASSERT_GT(writes, 0) << op.what;
        for (long n = 0; n < writes; ++n) {
            rbf::image_ref img = rbf::image_in_memory(sample());
            rbf::image_limit_writes(*img, n);
            EXPECT_NE(op.run(img), 0) << op.what << ": writes refused after " << n << " of " << writes;
        }
    }
}

// A crash after any number of writes: the image holds exactly the writes
// before it.  At every such point the disk shows nothing worse than units in
// use that nothing claims: no dangling entry, no half-made directory, no
// unit both free and used.
TEST(WriteFailure, StoppingAfterAnyWriteLeavesAtWorstLeakedUnits) {
    for (const Op& op : kOps) {
        rbf::image_ref whole = rbf::image_in_memory(sample());
        const std::uint64_t before = whole->generation;
        ASSERT_EQ(op.run(whole), 0) << op.what;
        const long writes = static_cast<long>(whole->generation - before);
        for (long n = 0; n <= writes; ++n) {
            rbf::image_ref img = rbf::image_in_memory(sample());
            rbf::image_limit_writes(*img, n);
            op.run(img);
            EXPECT_EQ(dvtest::problems_beyond_leaks(rbf::image_contents(*img)), std::vector<std::string>{})
                << op.what << ": stopped after " << n << " of " << writes << " writes";
        }
    }
}

// A host without room for new sectors (a sparse image on a full disk):
// writes into the units in use land, those into free units do not.  Each
// call that needs new units says 248 and leaves the image as it was.
TEST(WriteFailure, NoRoomIsReported248AndTheImageIsLeftAsItWas) {
    const bytes before = sample();
    const std::uint64_t first_free = static_cast<std::uint64_t>(dvtest::lowest_free_run(
                                         dvtest::image_bitmap(before), dvtest::dd_tot(before), 1)) * 256;
    for (const Op& op : kOps) {
        const std::string what = op.what;
        if (what == "delete a file" || what == "remove a tree") continue;  // they need no room
        rbf::image_ref img = rbf::image_in_memory(before);
        rbf::image_refuse_beyond(*img, first_free, 28 /* ENOSPC */);
        EXPECT_EQ(op.run(img), 248) << what;
        const auto differs = std::mismatch(before.begin(), before.end(), rbf::image_contents(*img).begin(), rbf::image_contents(*img).end());
        EXPECT_EQ(rbf::image_contents(*img), before) << what << ": first difference at byte " << (differs.first - before.begin());
    }
}

}  // namespace
