#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#ifndef _WIN32
#include <ftw.h>
#include <unistd.h>
#endif

namespace KvTest {

namespace {

std::string g_root;  // stays empty on Windows

#ifndef _WIN32

int removeEntry(const char* path, const struct stat*, int, struct FTW*) { return ::remove(path); }

// Every native test process works in a temporary KORVATH_ROOT of its own.
class RootEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    char pattern[] = "/tmp/kvfoundations.XXXXXX";
    const char* dir = ::mkdtemp(pattern);
    ASSERT_NE(dir, nullptr);
    g_root = dir;
    ::setenv("KORVATH_ROOT", g_root.c_str(), 1);
  }
  void TearDown() override {
    if (!g_root.empty()) ::nftw(g_root.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
  }
};

const bool g_registered = [] {
  ::testing::AddGlobalTestEnvironment(new RootEnvironment);
  return true;
}();
#endif

}  // namespace

std::string testRoot() { return g_root; }

}  // namespace KvTest
