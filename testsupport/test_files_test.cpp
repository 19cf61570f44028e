// The temporary folder the other tests rely on without seeing it: it goes away with everything in
// it. (What the board helpers of sim_board.h write is checked wherever a simulated board runs.)
#include <gtest/gtest.h>

#include <filesystem>

#include "test_files.h"

using namespace qbxtest;

TEST(TempDir, ExistsWhileTheObjectLivesAndIsRemovedWithItsContent)
{
    std::string path;
    {
        TempDir dir;
        path = dir.Path();
        ASSERT_TRUE(std::filesystem::is_directory(path));
        WriteFile(dir.File("a.txt"), "x");
        std::filesystem::create_directory(dir.File("sub"));
        WriteFile(dir.File("sub/b.txt"), "y\r\n");
        EXPECT_EQ(ReadFile(dir.File("sub/b.txt")), "y\r\n");
        EXPECT_NE(TempDir().Path(), path);
    }
    EXPECT_FALSE(FileExists(path));
}
