#include "util/Error.h"

#include <gtest/gtest.h>

namespace varnel {
namespace {

TEST(ErrorTest, ChainReadsOutermostFirstWithSubjects) {
    Error e = Error::Make(ErrorCode::NoAnswer, "no answer from the radio", "/dev/sg2")
                  .Wrap("cannot enter tuner mode");
    EXPECT_FALSE(e.ok());
    EXPECT_EQ(e.code(), ErrorCode::NoAnswer);
    EXPECT_EQ(e.Text(), "cannot enter tuner mode: /dev/sg2: no answer from the radio");
}

TEST(ErrorTest, PlaceholderTakesTheSubjectAndKeysTranslate) {
    Error e = Error::Make(ErrorCode::WrongSize, "%1 is not an archive", "a.tdb", "NotArchive")
                  .Wrap("cannot open the archive", {}, "OpenFailed");
    EXPECT_EQ(e.Text(), "cannot open the archive: a.tdb is not an archive");
    auto zh = [](std::string_view key) -> std::string {
        return key == "NotArchive" ? "%1 不是档案" : "";
    };
    EXPECT_EQ(e.Text(zh), "cannot open the archive: a.tdb 不是档案");
}

TEST(ErrorTest, SuccessStaysEmptyWhenWrapped) {
    Error ok;
    ok.Wrap("anything");
    EXPECT_TRUE(ok.ok());
    EXPECT_EQ(ok.Text(), "");
    Result<int> r = 5;
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(*r, 5);
    Result<int> bad = Error::Make(ErrorCode::Busy, "busy", "E:");
    EXPECT_FALSE(bad.ok());
    EXPECT_EQ(bad.error().Text(), "E:: busy");
}

}  // namespace
}  // namespace varnel
