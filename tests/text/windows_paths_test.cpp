// Long Windows paths get the prefix that lifts the 260-character limit;
// device paths are told apart; a dropped file's quotes and blank are dropped.
#include <gtest/gtest.h>

#include <string>

#include "text/windows_paths.h"

namespace {

TEST(WindowsPaths, LongPathsGetThePrefixOfTheirKind) {
  const std::u16string tail(kLongPathLength, u'x');
  EXPECT_EQ(LongPathForm(u"C:\\music\\take.wav"), u"C:\\music\\take.wav");
  EXPECT_EQ(LongPathForm(u"C:\\" + tail), u"\\\\?\\C:\\" + tail);
  EXPECT_EQ(LongPathForm(u"\\\\server\\share\\" + tail), u"\\\\?\\UNC\\server\\share\\" + tail);
  EXPECT_EQ(LongPathForm(u"\\\\?\\C:\\" + tail), u"\\\\?\\C:\\" + tail);
  const std::u16string justShort = u"C:\\" + std::u16string(kLongPathLength - 4, u'y');
  EXPECT_EQ(LongPathForm(justShort), justShort);
  EXPECT_EQ(LongPathForm(justShort + u"y"), u"\\\\?\\" + justShort + u"y");
}

TEST(WindowsPaths, DevicesAreNotFiles) {
  EXPECT_TRUE(IsDevicePath(u"\\\\.\\NUL"));
  EXPECT_TRUE(IsDevicePath(u"\\\\.\\COM1"));
  EXPECT_TRUE(IsDevicePath(u"\\\\.\\pipe\\name"));
  EXPECT_FALSE(IsDevicePath(u"\\\\?\\C:\\NUL.wav"));
  EXPECT_FALSE(IsDevicePath(u"C:\\CON.txt"));
}

}  // namespace
