// The size limit with one rotation. (A file that cannot be written: the
// monitor's tests, where the user hears of it.)
#include <gtest/gtest.h>

#include "platform/monitor/RotatingFile.h"
#include "tests/monitor/MonitorRig.h"

namespace {
std::string prologue(bool empty, bool rotated) { return std::string(empty ? "[new]" : "[again]") + (rotated ? "[rotated]" : ""); }
}  // namespace

TEST(RotatingFile, AWriteThatWouldPassTheLimitRotatesToNameDotOne)
{
    ScratchFolder folder;
    NativeMonitorPlatform platform;
    const std::string path = folder.path("line.log");
    {
        RotatingFile file(platform, path, 30, prologue);
        EXPECT_TRUE(file.write("0123456789"));  // 5 + 10
        EXPECT_TRUE(file.write("abcdefghij"));  // 25
        EXPECT_TRUE(file.write("ABCDEFGHIJ"));  // would be 35: rotated first
        EXPECT_EQ(readFile(path + ".1"), "[new]0123456789abcdefghij");
        EXPECT_EQ(readFile(path), "[new][rotated]ABCDEFGHIJ");
        EXPECT_TRUE(file.write("klmnopqrst"));  // 34: the second rotation replaces the first's file
        EXPECT_EQ(readFile(path + ".1"), "[new][rotated]ABCDEFGHIJ");
        EXPECT_EQ(readFile(path), "[new][rotated]klmnopqrst");
    }
    // A later session appends, after rotating a file that is already full.
    RotatingFile again(platform, path, 40, prologue);
    EXPECT_TRUE(again.write("x"));
    EXPECT_EQ(readFile(path), "[new][rotated]klmnopqrst[again]x");
    RotatingFile full(platform, path, 20, prologue);
    EXPECT_TRUE(full.write("y"));
    EXPECT_EQ(readFile(path + ".1"), "[new][rotated]klmnopqrst[again]x");
    EXPECT_EQ(readFile(path), "[new]y");
}
