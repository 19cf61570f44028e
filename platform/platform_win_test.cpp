// What the platform does on Windows only: backslash paths and drives, the console box that
// automated runs choose, the program's own file.
#include "platform.h"

#include <gtest/gtest.h>

#include <cstdlib>

TEST(WindowsPaths, BackslashesJoinAndBothSeparatorsCount)
{
    EXPECT_EQ(platform::JoinPath("C:\\out", "error.txt"), "C:\\out\\error.txt");
    EXPECT_EQ(platform::JoinPath("C:\\out\\", "error.txt"), "C:\\out\\error.txt");
    for (auto [folder, stripped] :
         {std::pair{"C:\\out\\\\", "C:\\out"}, {"out\\/", "out"}, {"\\", "\\"}, {"C:\\", "C:"}})
        EXPECT_EQ(platform::StripTrailingSeparators(folder), stripped) << folder;
    for (auto [path, dir] : {std::pair{"C:\\a\\b.txt", "C:\\a"}, {"a/b\\c.txt", "a/b"}, {"\\c.txt", "\\"}})
        EXPECT_EQ(platform::DirName(path), dir) << path;
    for (auto [path, absolute] : {std::pair{"C:\\x", true}, {"c:x", true}, {"\\x", true}, {"/x", true}, {"x\\y", false},
                                  {"1:x", false}, {"", false}})
        EXPECT_EQ(platform::IsAbsolutePath(path), absolute) << path;
}

TEST(WindowsBox, QbxConsoleBoxPutsTheBoxOnTheConsoleWithoutWaiting)
{
    ASSERT_EQ(_putenv_s("QBX_CONSOLE_BOX", "1"), 0);
    testing::internal::CaptureStdout();
    platform::MessageBox("Test Board FAIL\nsee console", platform::BoxIcon::Error);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "\r\n" + platform::FormatMessageBox("Test Board FAIL\nsee console", platform::BoxIcon::Error));
}

TEST(WindowsModules, TheProgramAndItsCodeAreFoundByAddress)
{
    const std::string program = platform::ModuleFile(nullptr);
    EXPECT_TRUE(program.ends_with("platform_tests.exe")) << program;
    EXPECT_EQ(platform::ModuleFile(reinterpret_cast<const void*>(&platform::JoinPath)), program);
    std::string why;
    void* kernel = platform::OpenSharedLibrary("kernel32.dll", why);
    ASSERT_NE(kernel, nullptr) << why;
    EXPECT_NE(platform::SharedLibrarySymbol(kernel, "GetTickCount", why), nullptr);
    EXPECT_EQ(platform::SharedLibrarySymbol(kernel, "FT_Open", why), nullptr);
    EXPECT_NE(why.find("FT_Open"), std::string::npos) << why;
    platform::CloseSharedLibrary(kernel);
}
