#include "core/String.h"
#include "core/StringTable.h"

#include <gtest/gtest.h>

TEST(CString, TrimRightRemovesTheSixWhiteSpacesOnlyAtTheEnd) {
    CString s = "  OK \t\r\n\v\f";
    s.TrimRight();
    EXPECT_EQ(CString("  OK"), s);
    s = " \r\n ";
    s.TrimRight();
    EXPECT_EQ(0, s.GetLength());
    s = "A\xA0"; // not white space in this sense
    s.TrimRight();
    EXPECT_EQ(2, s.GetLength());
}

TEST(CString, FormatAppendAndAssign) {
    CString s;
    s.Format("COM%i:", 3);
    EXPECT_EQ(CString("COM3:"), s);
    s += CString("\r");
    EXPECT_EQ(6, s.GetLength());
    const char* psz = nullptr;
    s = psz;
    EXPECT_EQ(0, s.GetLength());
    s += "x";
    s += '\0'; // a counted string can hold a NUL
    EXPECT_EQ(2, s.GetLength());
}

TEST(CString, LoadStringFindsRegisteredResourcesOnly) {
    CStringTable::Set(4242, "hello");
    CString s = "previous";
    EXPECT_EQ(TRUE, s.LoadString(4242));
    EXPECT_EQ(CString("hello"), s);
    CStringTable::Set(4242, nullptr);
    EXPECT_EQ(FALSE, s.LoadString(4242));
    EXPECT_EQ(0, s.GetLength());
}
