// Dates no clock can show, in the FDs and LSN 0 of an image, through the
// programs that print dates or hand them to the host: each is an unknown
// date, never a month 165 nor a host time years away.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>
#include <string>

#include "impossible_dates.h"
#include "os9conv.h"
#include "test_support.h"

namespace {

using dvtest::kImpossibleDates;
using dvtest::TempDir;

TEST(ImpossibleDates, ListedAsUnknown) {
    TempDir dir;
    dvtest::ImageBuilder b;
    const std::vector<int> fds = dvtest::add_impossibly_dated_files(b);
    b.save(dir / "s.dsk");
    std::string text, json;
    for (std::size_t k = 0; k < fds.size(); ++k) {
        const std::string fd = std::to_string(fds[k]), name = "F" + std::to_string(k);
        ASSERT_EQ(fd.size(), 2u);  // one column width for every row
        text += "---wr-wr 0 \?\?\?\?-\?\?-\?\? \?\?:\?\? 1 " + fd + " " + name + "\n";
        json += "{\"image\":\"s.dsk\",\"name\":\"" + name + "\",\"path\":\"" + name + "\",\"fd_lsn\":" + fd +
                ",\"directory\":false,\"size\":1,\"attributes\":\"---wr-wr\",\"owner\":0,\"links\":1,\"created\":" +
                kImpossibleDates[k].created_json + ",\"modified\":null}\n";
    }
    const dvtest::Run listed = dvtest::run_program("dvls", {"-e", "s.dsk"}, dir.path());
    EXPECT_TRUE(dvtest::run_gave(listed, {.out = text, .err = "", .status = 0}));
    const dvtest::Run lines = dvtest::run_program("dvls", {"-j", "s.dsk"}, dir.path());
    EXPECT_TRUE(dvtest::run_gave(lines, {.out = json, .err = "", .status = 0}));
}

// The host file keeps the time the copy made it.
TEST(ImpossibleDates, CopiedOutWithTheTimeOfTheCopy) {
    TempDir dir;
    dvtest::ImageBuilder b;
    dvtest::add_impossibly_dated_files(b);
    b.save(dir / "s.dsk");
    const std::time_t before = std::time(nullptr);
    ASSERT_EQ(dvtest::run_program("dvcopy", {"-r", "s.dsk:", "out"}, dir.path()).status, 0);
    const std::time_t after = std::time(nullptr);
    for (std::size_t k = 0; k < std::size(kImpossibleDates); ++k) {
        struct stat st {};
        ASSERT_EQ(stat((dir / ("out/F" + std::to_string(k))).c_str(), &st), 0);
        EXPECT_GE(st.st_mtime, before - 2) << kImpossibleDates[k].what;
        EXPECT_LE(st.st_mtime, after + 2) << kImpossibleDates[k].what;
    }
}

TEST(ImpossibleDates, FormattingDateReportedAsUnknown) {
    for (const dvtest::ImpossibleDate& d : kImpossibleDates) {
        TempDir dir;
        dvtest::ImageBuilder b;
        std::copy(d.date, d.date + 5, b.image().begin() + 26);
        b.save(dir / "s.dsk");
        const dvtest::Run r = dvtest::run_program("dvspace", {"s.dsk"}, dir.path());
        EXPECT_EQ(r.out.substr(0, r.out.find("Capacity")), "\n\"CoCo Disk\" created on \?\?/\?\?/\?\?\?\?\n") << d.what;
        EXPECT_EQ(r.status, 0) << d.what;
    }
}

// The edges of each range are dates like any other; a day alone ignores the hour.
TEST(ImpossibleDates, RangesEndWhereTheClockDoes) {
    const unsigned char first[5] = {0, 1, 1, 0, 0}, last[5] = {255, 12, 31, 23, 59}, day_only[5] = {126, 3, 3, 99, 99};
    std::time_t when = 0;
    EXPECT_TRUE(rbf::OS9TimeToUnix(first, &when) && rbf::OS9TimeToUnix(last, &when));
    EXPECT_TRUE(rbf::OS9TimeIsPossible(day_only, 3));
    EXPECT_FALSE(rbf::OS9TimeIsPossible(day_only));
}

}  // namespace
