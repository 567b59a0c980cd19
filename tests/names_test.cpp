// Every name an OS-9 disk can hold, through every program: 29 characters
// (the last one in byte 28 of the entry, just before the FD's LSN), '$'
// anywhere and '-' after the first character.  The images hold the
// entries as OS-9 writes them.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

using dvtest::bytes;
using dvtest::Run;

// Root: NAME (a file), keep, NEW (empty), TREE holding a directory NAME
// that holds f.
dvtest::ImageBuilder named_image(const std::string& name) {
    dvtest::ImageBuilder b;
    b.add_file(b.root(), name, std::string("hello\r"));
    b.add_file(b.root(), "keep", std::string("keep\r"));
    b.add_dir(b.root(), "NEW");
    b.add_file(b.add_dir(b.add_dir(b.root(), "TREE"), name), "f", std::string("f\r"));
    return b;
}

bool has(const bytes& img, const std::string& path) { return dvtest::list_tree(img).count(path) > 0; }

// The entry of `path` (in NEW or the root) is the one OS-9 would write.
void written_as_os9(const bytes& img, const std::string& path) {
    const auto tree = dvtest::list_tree(img);
    ASSERT_TRUE(tree.count(path)) << path;
    const bool in_new = path.rfind("NEW/", 0) == 0;
    const bytes dir = dvtest::file_bytes(img, in_new ? tree.at("NEW").fd : dvtest::dd_dir(img));
    const bytes want = dvtest::os9_entry(in_new ? path.substr(4) : path, tree.at(path).fd);
    bool found = false;
    for (std::size_t off = 0; off + 32 <= dir.size(); off += 32) found |= dvtest::slice(dir, off, 32) == want;
    EXPECT_TRUE(found) << path;
}

// One use of a name: runs of programs (NAME stands for the name), each to
// succeed, then what the last one wrote, the image and the host hold.
struct Step {
    const char* what;
    std::vector<std::vector<std::string>> runs;
    std::function<void(const Run& last, const bytes& img, const dvtest::TempDir& dir, const std::string& name)> check;
};

const Step kSteps[] = {
    {"list", {{"dvls", "x.dsk"}},
     [](auto& last, auto&, auto&, auto& name) { EXPECT_EQ(last.out, name + "\nkeep\nNEW\nTREE\n"); }},
    {"type", {{"dvtype", "x.dsk:NAME"}}, [](auto& last, auto&, auto&, auto&) { EXPECT_EQ(last.out, "hello\n"); }},
    {"copy out", {{"dvcopy", "x.dsk:NAME", "x.dsk:TREE/NAME/f", "."}},
     [](auto&, auto&, auto& dir, auto& name) {
         EXPECT_EQ(dvtest::read_file(dir / name), bytes({'h', 'e', 'l', 'l', 'o', '\r'}));
         EXPECT_EQ(dvtest::read_file(dir / "f"), bytes({'f', '\r'}));
     }},
    {"copy in", {{"dvcopy", "in", "x.dsk:NEW/NAME"}},
     [](auto&, auto& img, auto&, auto& name) {
         written_as_os9(img, "NEW/" + name);
         EXPECT_EQ(dvtest::list_tree(img)["NEW/" + name].data, bytes({'i', 'n'}));
     }},
    {"delete", {{"dvdel", "x.dsk:NAME"}}, [](auto&, auto& img, auto&, auto& name) { EXPECT_FALSE(has(img, name)); }},
    {"rename away and back", {{"dvrename", "x.dsk:NAME", "other"}, {"dvrename", "x.dsk:other", "NAME"}},
     [](auto&, auto& img, auto&, auto& name) { written_as_os9(img, name); }},
    {"attributes", {{"dvattr", "x.dsk:NAME", "-w"}},
     [](auto& last, auto& img, auto&, auto& name) {
         EXPECT_EQ(last.out, "---wr--r\n");
         EXPECT_EQ(img[static_cast<std::size_t>(dvtest::list_tree(img)[name].fd) * 256], 0x19);
     }},
    {"check", {{"dvcheck", "-v", "x.dsk"}},
     [](auto& last, auto&, auto&, auto& name) {
         // Every file by its whole name.
         EXPECT_NE(last.out.find(":/" + name + " (FD"), std::string::npos) << last.out;
         EXPECT_NE(last.out.find(":/TREE/" + name + "/f (FD"), std::string::npos) << last.out;
         EXPECT_NE(last.out.find(" 0 problems found"), std::string::npos) << last.out;
     }},
    {"new directory", {{"dvnewdir", "x.dsk:NEW/NAME"}},
     [](auto&, auto& img, auto&, auto& name) {
         written_as_os9(img, "NEW/" + name);
         EXPECT_TRUE(dvtest::list_tree(img)["NEW/" + name].dir);
     }},
    {"prune", {{"dvprune", "-q", "x.dsk:TREE/NAME"}},
     [](auto&, auto& img, auto&, auto& name) {
         EXPECT_FALSE(has(img, "TREE/" + name));
         EXPECT_TRUE(has(img, "TREE"));
     }},
};

std::string with_name(std::string s, const std::string& name) {
    for (std::size_t at; (at = s.find("NAME")) != std::string::npos;) s.replace(at, 4, name);
    return s;
}

class EveryName : public ::testing::TestWithParam<std::string> {};

TEST_P(EveryName, ThroughEveryProgram) {
    const std::string& name = GetParam();
    for (const Step& step : kSteps) {
        SCOPED_TRACE(step.what);
        dvtest::TempDir dir;
        named_image(name).save(dir / "x.dsk");
        dvtest::write_file(dir / "in", {'i', 'n'});
        dvtest::Run last;
        for (const auto& run : step.runs) {
            std::vector<std::string> args;
            for (std::size_t k = 1; k < run.size(); ++k) args.push_back(with_name(run[k], name));
            if ((last = dvtest::run_program(run[0], args, dir.path())).status != 0) break;
        }
        if (last.status != 0) {
            ADD_FAILURE() << "status " << last.status << ": " << last.err;
            continue;
        }
        const bytes img = dvtest::read_file(dir / "x.dsk");
        step.check(last, img, dir, name);
        EXPECT_EQ(dvtest::check_tree(img), std::vector<std::string>{});
    }
}

// 29 characters (the longest, plain and with '-' and '$'), '$' first, both
// inside, '-' last.
INSTANTIATE_TEST_SUITE_P(Names, EveryName,
                         ::testing::Values("ABCDEFGHIJKLMNOPQRSTUVWXYZabc", "long-name$of_29_characters.12",
                                           "my-file", "$SYS", "a$b-c.d_e", "x-"),
                         [](const auto& info) { return "name" + std::to_string(info.index); });

}  // namespace
