#include "platform/command_line.h"

#include <gtest/gtest.h>

namespace korvane {
namespace {

std::string pathFrom(std::initializer_list<const char*> args)
{
    std::vector<const char*> argv{"korvane"};
    argv.insert(argv.end(), args);
    return Replace(Command(static_cast<int>(argv.size()), argv.data()), "\"", "");
}

TEST(CommandLine, JoinsArgumentsWithSingleSpacesAndDropsQuotes)
{
    EXPECT_EQ(pathFrom({}), "");
    EXPECT_EQ(pathFrom({"/pics/a.jpg"}), "/pics/a.jpg");
    // A shell that passes the quotes through (as a desktop launcher may).
    EXPECT_EQ(pathFrom({"\"/my pics/a b.png\""}), "/my pics/a b.png");
    EXPECT_EQ(pathFrom({"/my", "pics/a.png"}), "/my pics/a.png");
    EXPECT_EQ(pathFrom({"ab\"cd.png"}), "abcd.png");
    EXPECT_EQ(pathFrom({"\"/a.png\"", "\"/b.png\""}), "/a.png /b.png");
}

TEST(CommandLine, KeepsWhatLooksLikeQtOptions)
{
    EXPECT_EQ(pathFrom({"-platform", "xcb"}), "-platform xcb");
    EXPECT_EQ(pathFrom({"-reverse"}), "-reverse");
    EXPECT_EQ(pathFrom({"  lead.png"}), "  lead.png");
}

TEST(Replace, ReplacesEveryOccurrenceExactly)
{
    EXPECT_EQ(Replace("\"\"\"", "\"", ""), "");
    EXPECT_EQ(Replace("aXbxc", "X", "-"), "a-bxc");
    EXPECT_EQ(Replace("abab", "ab", "b"), "bb");
    EXPECT_EQ(Replace("abc", "", "z"), "abc");
}

} // namespace
} // namespace korvane
