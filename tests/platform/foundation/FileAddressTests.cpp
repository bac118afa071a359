// File addresses: paths stay as they are, file URLs are decoded as URLs; bounded whole-file reads
// say in words why a file cannot be read.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "platform/foundation/FileAddress.h"
#include "platform/foundation/NSPathUtilities.h"
#include "tests/support/FilesThatWait.h"

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

// A FIFO nobody writes to, or standard input that never ends, named where a file is expected:
// opening the one waited for a writer, reading the other for input. Both readers refuse them
// without waiting, as any file that is not a regular file.
TEST(FileAddress, BoundedReadsRefuseAFifoOrADeviceWithoutWaitingOnIt) {
  const std::string dir = NSTemporaryDirectory();
  ASSERT_TRUE(ns::createDirectory(dir));
  const std::string fifo = dir + "/pipe";
  ASSERT_TRUE(testsupport::makeFifo(fifo));
  testsupport::StdinThatNeverEnds stdinWaits;
  ASSERT_TRUE(stdinWaits.ok());
  for (const std::string& path : {fifo, std::string("/dev/stdin"), std::string("/dev/zero")}) {
    std::string contents = "left over", error;
    EXPECT_FALSE(ns::readFileContents(path, 100, &contents, &error)) << path;
    EXPECT_EQ(error, "not a regular file") << path;
    std::string bytes = "left over", why;
    EXPECT_EQ(ns::readFile(path, 100, &bytes, &why), ns::FileRead::Unreadable) << path;
    EXPECT_EQ(why, "not a regular file") << path;
    EXPECT_TRUE(bytes.empty());
  }
  // Regular files still read whole, and the reasons of the other refusals are given too.
  const std::string file = dir + "/regular.txt";
  std::ofstream(file) << "abc";
  std::string bytes, why;
  EXPECT_EQ(ns::readFile(file, 3, &bytes, &why), ns::FileRead::Read);
  EXPECT_EQ(bytes, "abc");
  EXPECT_EQ(ns::readFile(file, 2, &bytes, &why), ns::FileRead::TooLarge);
  EXPECT_EQ(why, "larger than 2 bytes");
  EXPECT_EQ(ns::readFile(dir + "/absent", 2, &bytes, &why), ns::FileRead::Missing);
  EXPECT_EQ(why, "no such file");
  EXPECT_EQ(ns::readFile(dir, 2, &bytes, &why), ns::FileRead::Unreadable);
  EXPECT_EQ(why, "is a directory");
  EXPECT_EQ(ns::readFile(file + std::string(1, '\0') + "x", 100, &bytes, &why), ns::FileRead::Missing);
  EXPECT_EQ(why, "the path holds a NUL byte");
}

}  // namespace
