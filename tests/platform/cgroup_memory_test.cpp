// The room a conversion has under its control groups' memory limits: the process's own
// groups as /proc/self/cgroup names them (v1 and v2), their parents' limits included, not
// only the hierarchy's root.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/system.h"
#include "tests/support/test_support.h"

namespace zqr::platform {
namespace {

void Put(const std::string& root, const std::string& file, const std::string& text) {
  std::filesystem::create_directories(std::filesystem::path(root + file).parent_path());
  ASSERT_TRUE(test::WriteFile(root + file, text + "\n"));
}

TEST(CgroupMemory, TheOwnGroupAndItsParentsLimitTheRoom) {
  test::ScratchDir dir;
  const std::string root = dir.path();
  // v2: a scope of 1000 bytes with 400 used, inside a slice with only 50 left.
  Put(root, "/user.slice/run.scope/memory.max", "1000");
  Put(root, "/user.slice/run.scope/memory.current", "400");
  Put(root, "/user.slice/memory.max", "500");
  Put(root, "/user.slice/memory.current", "450");
  Put(root, "/memory.max", "max");
  EXPECT_EQ(CgroupMemoryRoomBytes("0::/user.slice/run.scope\n", root), 50u);
  Put(root, "/user.slice/memory.max", "max");
  EXPECT_EQ(CgroupMemoryRoomBytes("0::/user.slice/run.scope\n", root), 600u);
  // Used beyond the limit leaves no room at all.
  Put(root, "/user.slice/run.scope/memory.current", "1200");
  EXPECT_EQ(CgroupMemoryRoomBytes("0::/user.slice/run.scope", root), 0u);

  // v1: the memory controller's hierarchy; "no limit" is a number near 2^63.
  Put(root, "/memory/docker/c1/memory.limit_in_bytes", "9223372036854771712");
  Put(root, "/memory/docker/c1/memory.usage_in_bytes", "100");
  Put(root, "/memory/docker/memory.limit_in_bytes", "3000");
  Put(root, "/memory/docker/memory.usage_in_bytes", "1000");
  EXPECT_EQ(CgroupMemoryRoomBytes("12:cpu,cpuacct:/docker/c1\n5:memory:/docker/c1\n", root), 2000u);
  // A hierarchy without the memory controller says nothing of memory.
  EXPECT_EQ(CgroupMemoryRoomBytes("12:cpu,cpuacct:/docker/c1\n", root), UINT64_MAX);
  EXPECT_EQ(CgroupMemoryRoomBytes("", root), UINT64_MAX);
  EXPECT_EQ(CgroupMemoryRoomBytes("0::/\n", root), UINT64_MAX);
}

}  // namespace
}  // namespace zqr::platform
