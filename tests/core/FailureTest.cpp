#include "core/Failure.h"

#include <gtest/gtest.h>

using zelvo::ErrorBoxText;
using zelvo::FormatMessageText;

TEST(ErrorBoxText, AddsFullStopOnlyAfterBytesAboveTheDot) {
    EXPECT_EQ(ErrorBoxText("Stream read error"), "Stream read error.");
    EXPECT_EQ(ErrorBoxText("ends with dot."), "ends with dot.");
    EXPECT_EQ(ErrorBoxText(""), "");
    // '-' (45) and ' ' (32) are below '.', so no full stop is added.
    EXPECT_EQ(ErrorBoxText("dash-"), "dash-");
    EXPECT_EQ(ErrorBoxText("blank "), "blank ");
    // '/' (47) is above '.'.
    EXPECT_EQ(ErrorBoxText("a/"), "a/.");
    // A GBK trail byte counts as a byte above '.' (unsigned comparison).
    EXPECT_EQ(ErrorBoxText("目录"), std::string("目录") + ".");
}

TEST(FormatMessageText, InsertsArgumentVerbatim) {
    EXPECT_EQ(FormatMessageText("Cannot open file %s", "c:\\a%s%d.txt"),
              "Cannot open file c:\\a%s%d.txt");
    EXPECT_EQ(FormatMessageText("'%s' is not a valid date and time", ""),
              "'' is not a valid date and time");
}
