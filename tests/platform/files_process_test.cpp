// Files written and read past the page cache, and a program fed through its standard
// input: the bytes arrive whole whatever their size, and a program that stops reading or
// is killed ends the feed without taking this process with it. The desktop's opener gets
// its document as one argument, and its failure is reported. A named pipe's writer never
// waits past a stop request, whether its reader never comes or stops reading.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/files.h"
#include "platform/named_pipe.h"
#include "platform/process.h"
#include "tests/support/test_support.h"

namespace zqr::platform {
namespace {

std::string Pattern(size_t bytes, int seed) {
  std::string text(bytes, '\0');
  for (size_t i = 0; i < bytes; ++i) text[i] = static_cast<char>((i * 131 + seed) >> 3);
  return text;
}

TEST(UncachedFiles, AnySizeWrittenAndReadBackWhole) {
  test::ScratchDir dir;
  // Sizes off the block size, a header and rows as the frame files have them, and one
  // larger file.
  for (const size_t rows : {size_t{0}, size_t{1}, size_t{3}, size_t{1025}}) {
    const std::string header = Pattern(54, 1);
    const std::string body = Pattern(rows * 4 * 1001, static_cast<int>(rows));
    const std::vector<FilePiece> pieces = {{header.data(), header.size()},
                                           {body.data(), body.size()}};
    const std::string path = dir.File("f" + std::to_string(rows) + ".bmp");
    ASSERT_TRUE(WriteFilePiecesUncached(path, pieces));
    EXPECT_EQ(test::ReadFile(path), header + body) << rows;
  }
  EXPECT_FALSE(WriteFilePiecesUncached(dir.File("no/such/folder.bmp"), {}));
}

TEST(ChildProcess, FedThroughItsInputAndEndedEitherWay) {
  test::ScratchDir dir;
  ChildProcess cat;
  Redirections to_file;
  to_file.output_path = dir.File("out.bin");
  ASSERT_TRUE(cat.Start("cat", to_file));
  // More than the pipe holds, so the sender waits for the reader.
  const std::string first = Pattern(3 << 20, 7);
  const std::string second = Pattern(12345, 9);
  EXPECT_TRUE(cat.Send(first.data(), first.size()));
  EXPECT_TRUE(cat.Send(second.data(), second.size()));
  EXPECT_EQ(cat.Wait(), 0);
  EXPECT_EQ(test::ReadFile(dir.File("out.bin")), first + second);

  // A program that reads nothing: the send fails, this process lives on.
  ChildProcess deaf;
  ASSERT_TRUE(deaf.Start("true"));
  const std::string lots = Pattern(4 << 20, 3);
  EXPECT_FALSE(deaf.Send(lots.data(), lots.size()));
  EXPECT_EQ(deaf.Wait(), 0);

  ChildProcess sleeper;
  ASSERT_TRUE(sleeper.Start("sleep 30"));
  sleeper.Kill();
  EXPECT_EQ(sleeper.Wait(), -1);

  ChildProcess missing;
  EXPECT_FALSE(missing.Start("zqr-no-such-program-anywhere"));
  EXPECT_EQ(missing.Wait(), -1);
}

TEST(NamedPipeWriter, ReachesItsReaderAndNeverWaitsPastAStop) {
  test::ScratchDir dir;
  const std::string path = dir.File("sound.fifo");
  std::atomic<bool> stop{false};
  {
    NamedPipeWriter pipe;
    ASSERT_TRUE(pipe.Create(path));
    std::string got;
    std::thread reader([&] { got = test::ReadFile(path); });
    ASSERT_TRUE(pipe.Connect(stop));
    const std::string sent = Pattern(3 << 20, 5);  // more than the pipe holds
    EXPECT_TRUE(pipe.Write(sent.data(), sent.size(), stop));
    pipe.Close();
    reader.join();
    EXPECT_EQ(got, sent);
  }
  EXPECT_FALSE(test::FileExists(path));

  // No reader ever comes, or the one that came reads nothing: a stop ends the wait.
  NamedPipeWriter lonely;
  ASSERT_TRUE(lonely.Create(path));
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    stop = true;
  });
  EXPECT_FALSE(lonely.Connect(stop));
  stopper.join();
  stop = false;
  ChildProcess idle;
  ASSERT_TRUE(idle.Start({"sh", "-c", "exec 3<\"$0\"; sleep 30", path}, {}, false));
  ASSERT_TRUE(lonely.Connect(stop));
  stopper = std::thread([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    stop = true;
  });
  const std::string lots = Pattern(4 << 20, 1);
  EXPECT_FALSE(lonely.Write(lots.data(), lots.size(), stop));
  stopper.join();
  idle.Kill();
  idle.Wait();

  // A stale pipe of that name is replaced; a file of that name is left alone.
  NamedPipeWriter again;
  EXPECT_TRUE(again.Create(path));
  const std::string file = dir.File("taken");
  ASSERT_TRUE(test::WriteFile(file, "mine"));
  NamedPipeWriter refused;
  EXPECT_FALSE(refused.Create(file));
  EXPECT_EQ(test::ReadFile(file), "mine");
}

// The lock file of a run's new folder appears already held: another run's clean-up of
// stale folders, which takes the lock of any folder it removes, cannot take it first.
TEST(FolderLock, ANewFolderIsHeldFromTheMomentItsLockFileAppears) {
  test::ScratchDir dir;
  FolderLock mine;
  ASSERT_TRUE(mine.LockNewFolder(dir.path()));
  EXPECT_TRUE(test::FileExists(dir.File(kFolderLockName)));
  FolderLock other;
  EXPECT_FALSE(other.TryLock(dir.path()));
  mine.Unlock();
  EXPECT_FALSE(test::FileExists(dir.File(kFolderLockName)));
  EXPECT_TRUE(other.TryLock(dir.path()));
}

// A stand-in for xdg-open, first on PATH while the object lives: it writes its arguments,
// one a line, to a file, and exits with `status`.
class FakeOpener {
 public:
  FakeOpener(const test::ScratchDir& dir, int status) : path_(std::getenv("PATH")) {
    const std::string script = dir.File("xdg-open");
    test::WriteFile(script, "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + dir.File("args") + "'\nexit " +
                                std::to_string(status) + "\n");
    chmod(script.c_str(), 0755);
    setenv("PATH", (dir.path() + ":" + path_).c_str(), 1);
  }
  ~FakeOpener() { setenv("PATH", path_.c_str(), 1); }

 private:
  std::string path_;
};

TEST(OpenWithDesktop, OneArgumentAndTheOpenersVerdict) {
  test::ScratchDir dir;
  const std::string manual = dir.File("my \"manual\" $HOME.pdf");
  {
    FakeOpener opener(dir, 0);
    EXPECT_TRUE(OpenWithDesktop(manual));
    EXPECT_EQ(test::ReadFile(dir.File("args")), manual + "\n");
  }
  {
    FakeOpener opener(dir, 3);  // xdg-open: no program for the document
    EXPECT_FALSE(OpenWithDesktop(manual));
  }
  const char* path = std::getenv("PATH");
  const std::string saved = path != nullptr ? path : "";
  setenv("PATH", dir.File("empty").c_str(), 1);  // no opener at all
  EXPECT_FALSE(OpenWithDesktop(manual));
  setenv("PATH", saved.c_str(), 1);
}

}  // namespace
}  // namespace zqr::platform
