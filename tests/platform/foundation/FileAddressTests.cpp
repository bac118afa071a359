// File addresses: paths stay as they are, file URLs are decoded as URLs; bounded whole-file reads
// say in words why a file cannot be read.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "platform/foundation/FileAddress.h"
#include "platform/foundation/NSPathUtilities.h"

namespace {

TEST(FileAddress, FileURLsAreDecodedAndPathsAreNot) {
  EXPECT_EQ(ns::pathFromFileURL("file:///tmp/cal%20file.txt"), "/tmp/cal file.txt");
  EXPECT_EQ(ns::pathFromFileURL("file://localhost/tmp/a.txt"), "/tmp/a.txt");
  EXPECT_EQ(ns::pathFromFileURL("FILE://LocalHost/tmp/a.txt"), "/tmp/a.txt");
  EXPECT_EQ(ns::pathFromFileURL("file:/tmp/a.txt"), "/tmp/a.txt");
  EXPECT_EQ(ns::pathFromFileURL("file:///tmp/%C3%A9t%C3%A9.txt"), "/tmp/\xC3\xA9t\xC3\xA9.txt");
  EXPECT_EQ(ns::pathFromFileURL("file:///tmp/a.txt?version=2#top"), "/tmp/a.txt");
  EXPECT_EQ(ns::pathFromFileURL("file:///tmp/100%25.txt"), "/tmp/100%.txt");
  // A plain path is a name on disk, escapes and all.
  EXPECT_EQ(ns::pathFromFileURL("/tmp/cal%20file.txt"), "/tmp/cal%20file.txt");
  EXPECT_EQ(ns::pathFromFileURL("relative/a b.txt"), "relative/a b.txt");
}

TEST(FileAddress, URLsThatNameNoLocalFileAreRefusedWithAReason) {
  std::string error;
  EXPECT_FALSE(ns::pathFromFileURL("file://example.org/tmp/a.txt", &error));
  EXPECT_NE(error.find("example.org"), std::string::npos) << error;
  EXPECT_FALSE(ns::pathFromFileURL("file:///tmp/a%2.txt", &error));
  EXPECT_NE(error.find("escape"), std::string::npos) << error;
  EXPECT_FALSE(ns::pathFromFileURL("file:///tmp/a%", &error));
  EXPECT_FALSE(ns::pathFromFileURL("file:///tmp/a%00b", &error));
  EXPECT_NE(error.find("NUL"), std::string::npos) << error;
  EXPECT_FALSE(ns::pathFromFileURL("file://", &error));
  EXPECT_FALSE(ns::pathFromFileURL("file://localhost", &error));
  EXPECT_FALSE(ns::pathFromFileURL("", &error));
}

TEST(FileAddress, BoundedReadsSayWhyAFileCannotBeRead) {
  const std::string dir = NSTemporaryDirectory();
  ASSERT_TRUE(ns::createDirectory(dir));
  const std::string path = dir + "/small.txt";
  std::ofstream(path) << "0123456789";
  std::string contents, error;
  ASSERT_TRUE(ns::readFileContents(path, 10, &contents, &error)) << error;
  EXPECT_EQ(contents, "0123456789");
  EXPECT_FALSE(ns::readFileContents(path, 9, &contents, &error));
  EXPECT_EQ(error, "larger than 9 bytes");
  EXPECT_FALSE(ns::readFileContents(path + ".absent", 100, &contents, &error));
  EXPECT_EQ(error, "no such file");
  EXPECT_FALSE(ns::readFileContents(dir, 100, &contents, &error));
  EXPECT_EQ(error, "is a directory");
  EXPECT_FALSE(ns::readFileContents("/dev/null", 100, &contents, &error));
  EXPECT_EQ(error, "not a regular file");
  if (::geteuid() != 0) {  // root reads anything
    ::chmod(path.c_str(), 0);
    EXPECT_FALSE(ns::readFileContents(path, 100, &contents, &error));
    EXPECT_EQ(error, "Permission denied");
  }
}

}  // namespace
