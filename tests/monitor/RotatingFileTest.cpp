// The size limit with one rotation, and what a file that cannot be written does.
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

TEST(RotatingFile, AFileThatCannotBeWrittenStopsForGood)
{
    ScratchFolder folder;
    NativeMonitorPlatform native;
    RotatingFile missingFolder(native, folder.path("no such folder/line.log"), 1000, prologue);
    EXPECT_TRUE(missingFolder.write(""));  // nothing to write, nothing tried
    EXPECT_FALSE(missingFolder.write("a"));

    SteppedPlatform full;  // a disk that fills up after 12 bytes
    full.failAfter = 12;
    const std::string path = folder.path("full.log");
    RotatingFile file(full, path, 1000, prologue);
    EXPECT_TRUE(file.write("abcdef"));  // 5 + 6
    EXPECT_FALSE(file.write("ghij"));
    full.failAfter = -1;  // room again: the file stays stopped all the same
    EXPECT_FALSE(file.write("k"));
    EXPECT_EQ(readFile(path), "[new]abcdef");
}
