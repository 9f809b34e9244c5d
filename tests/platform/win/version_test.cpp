#include <gtest/gtest.h>

#include <algorithm>
#include <string>

TEST(Build, VersionIsDotted)
{
    const std::string v = TORVO_VERSION;
    EXPECT_EQ(2, std::count(v.begin(), v.end(), '.'));
}
