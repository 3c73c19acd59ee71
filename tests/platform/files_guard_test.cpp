// Files the program writes where others may have put something first: a tool's messages
// are never written through a link nor into a file someone left, settings and log files
// that are FIFOs are refused without waiting, and a held file is never removed.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "platform/files.h"
#include "platform/process.h"
#include "tests/support/test_support.h"

namespace zqr::platform {
namespace {

TEST(FilesGuard, AToolsMessagesNeverGoThroughALinkNorIntoAnotherFile) {
  test::ScratchDir dir;
  ASSERT_TRUE(test::WriteFile(dir.File("victim.txt"), "precious"));
  std::filesystem::create_symlink(dir.File("victim.txt"), dir.File("link.txt"));
  Redirections through_link;
  through_link.error_path = dir.File("link.txt");
  RunCommandLine("ls /no-such-folder", through_link);
  EXPECT_EQ(test::ReadFile(dir.File("victim.txt")), "precious");

  ASSERT_TRUE(test::WriteFile(dir.File("left.txt"), "someone's"));
  Redirections made_new;
  made_new.error_path = dir.File("left.txt");
  made_new.new_files = true;
  ChildProcess tool;
  EXPECT_FALSE(tool.Start("ls /no-such-folder", made_new, false));
  EXPECT_EQ(test::ReadFile(dir.File("left.txt")), "someone's");
  made_new.error_path = dir.File("new.txt");
  ASSERT_TRUE(tool.Start("ls /no-such-folder", made_new, false));
  EXPECT_NE(tool.Wait(), 0);
  EXPECT_FALSE(test::ReadFile(dir.File("new.txt")).empty());
}

TEST(FilesGuard, AFifoIsRefusedWithoutWaitingAndAHeldFileStays) {
  test::ScratchDir dir;
  const std::string fifo = dir.File("settings.ini");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::string text = "left";
  EXPECT_FALSE(ReadRegularFile(fifo, text, 1024));
  EXPECT_TRUE(text.empty());
  EXPECT_FALSE(ReplaceRegularFile(fifo, "x"));
  EXPECT_FALSE(AppendToRegularFile(fifo, "x"));
  HeldFile log;
  EXPECT_EQ(log.TryHold(fifo), HeldFile::Result::kFailed);

  ASSERT_TRUE(ReplaceRegularFile(dir.File("plain.txt"), "one"));
  ASSERT_TRUE(AppendToRegularFile(dir.File("plain.txt"), " two"));
  ASSERT_TRUE(ReadRegularFile(dir.File("plain.txt"), text, 1024));
  EXPECT_EQ(text, "one two");
  EXPECT_FALSE(ReadRegularFile(dir.File("plain.txt"), text, 3));

  HeldFile movie;
  ASSERT_TRUE(movie.CreateNew(dir.File("partial.mp4")));
  HeldFile taken;
  EXPECT_FALSE(taken.CreateNew(dir.File("plain.txt")));
  EXPECT_FALSE(RemoveIfUnheld(dir.File("partial.mp4")));
  EXPECT_TRUE(test::FileExists(dir.File("partial.mp4")));
  movie.Release();
  EXPECT_TRUE(RemoveIfUnheld(dir.File("partial.mp4")));
  EXPECT_FALSE(test::FileExists(dir.File("partial.mp4")));
}

}  // namespace
}  // namespace zqr::platform
