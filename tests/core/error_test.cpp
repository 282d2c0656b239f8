#include "util/Error.h"

#include <gtest/gtest.h>

namespace varnel {
namespace {

TEST(ErrorTest, ChainReadsOutermostFirstWithSubjects) {
    Error e = Error::make(ErrorCode::NoAnswer, "no answer from the radio", "/dev/sg2")
                  .wrap("cannot enter tuner mode");
    EXPECT_FALSE(e.ok());
    EXPECT_EQ(e.code(), ErrorCode::NoAnswer);
    EXPECT_EQ(e.text(), "cannot enter tuner mode: /dev/sg2: no answer from the radio");
}

TEST(ErrorTest, PlaceholderTakesTheSubjectAndKeysTranslate) {
    Error e = Error::make(ErrorCode::WrongSize, "%1 is not an archive", "a.tdb", "NotArchive")
                  .wrap("cannot open the archive", {}, "OpenFailed");
    EXPECT_EQ(e.text(), "cannot open the archive: a.tdb is not an archive");
    auto zh = [](std::string_view key) -> std::string {
        return key == "NotArchive" ? "%1 不是档案" : "";
    };
    EXPECT_EQ(e.text(zh), "cannot open the archive: a.tdb 不是档案");
}

TEST(ErrorTest, SuccessStaysEmptyWhenWrapped) {
    Error ok;
    ok.wrap("anything");
    EXPECT_TRUE(ok.ok());
    EXPECT_EQ(ok.text(), "");
    Result<int> r = 5;
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(*r, 5);
    Result<int> bad = Error::make(ErrorCode::Busy, "busy", "E:");
    EXPECT_FALSE(bad.ok());
    EXPECT_EQ(bad.error().text(), "E:: busy");
}

}  // namespace
}  // namespace varnel
