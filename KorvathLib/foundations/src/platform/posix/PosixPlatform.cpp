// Native flavour of the platform layer. KORVATH_ROOT plays the part of drive C:
// ($KORVATH_ROOT/Windows is the Windows directory, the log sits at its top), the
// registry is a directory of one file per value, a named mutex is flock on a lock file.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "../../PlatformDetail.h"
#include "Korvath/Platform.h"

namespace Korvath {
namespace Platform {

namespace {

std::string root() {
  const char* value = std::getenv("KORVATH_ROOT");
  if (value == nullptr || value[0] == '\0') {
    return std::string();
  }
  std::string r(value);
  while (r.size() > 1 && r.back() == '/') {
    r.pop_back();
  }
  return r;
}

// mkdir -p; true when the directory exists afterwards.
bool makeDirectories(const std::string& path, mode_t mode = 0755) {
  if (path.empty()) {
    return false;
  }
  std::string partial;
  std::size_t pos = 0;
  while (pos != std::string::npos) {
    pos = path.find('/', pos + 1);
    partial = path.substr(0, pos);
    if (partial.empty()) {
      continue;
    }
    if (::mkdir(partial.c_str(), mode) != 0 && errno != EEXIST) {
      return false;
    }
  }
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool readWholeFile(const std::string& path, std::string& out) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return false;
  }
  out.clear();
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    out.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return true;
}

// Writes through a temporary file and a rename, so a reader sees the old or the new
// content and never a half-written one.
bool writeWholeFileAtomic(const std::string& path, const std::string& content, mode_t mode) {
  const std::string temp = path + ".tmp." + std::to_string(::getpid()) + "." +
                           std::to_string(std::hash<std::thread::id>()(std::this_thread::get_id()));
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0) {
    return false;
  }
  std::size_t written = 0;
  while (written < content.size()) {
    const ssize_t n = ::write(fd, content.data() + written, content.size() - written);
    if (n < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      ::unlink(temp.c_str());
      return false;
    }
    written += static_cast<std::size_t>(n);
  }
  if (::fsync(fd) != 0 || ::close(fd) != 0) {
    ::unlink(temp.c_str());
    return false;
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    ::unlink(temp.c_str());
    return false;
  }
  return true;
}

// A value name becomes one file name; names that could leave the key's directory
// are refused.
bool validValueName(const std::string& name) {
  if (name.empty() || name == "." || name == ".." || name.size() > 255) {
    return false;
  }
  for (char c : name) {
    if (c == '/' || c == '\0') {
      return false;
    }
  }
  return name.find(".tmp.") == std::string::npos;
}

class FileRegistry : public IRegistry {
 public:
  bool getString(const std::string& name, std::string& value) override {
    const std::string dir = keyDirectory();
    if (dir.empty() || !validValueName(name)) {
      return false;
    }
    return readWholeFile(dir + "/" + name, value);
  }
  bool setString(const std::string& name, const std::string& value) override {
    const std::string dir = keyDirectory();
    if (dir.empty() || !validValueName(name) || !makeDirectories(dir, 0700)) {
      return false;
    }
    return writeWholeFileAtomic(dir + "/" + name, value, 0600);
  }
  bool deleteValue(const std::string& name) override {
    const std::string dir = keyDirectory();
    if (dir.empty() || !validValueName(name)) {
      return false;
    }
    return ::unlink((dir + "/" + name).c_str()) == 0;
  }

 private:
  static std::string keyDirectory() {
    const std::string r = root();
    return r.empty() ? r : r + "/registry/HKLM/SOFTWARE/Halvane/Pellora Agent";
  }
};

class SystemClock : public IClock {
 public:
  std::uint64_t nowFileTime() override { return detail::unixMsToFileTime(nowUnixMs()); }
  std::int64_t nowUnixMs() override {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
  }
  std::int64_t monotonicMs() override {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }
  void sleepMs(std::uint32_t ms) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  }
};

std::string lockFilePath(const std::string& name) {
  const std::string r = root();
  if (r.empty() || name.empty()) {
    return std::string();
  }
  std::string file;
  for (char c : name) {
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                       c == '_' || c == '-';
    file.push_back(plain ? c : '_');
  }
  const std::string dir = r + "/locks";
  if (!makeDirectories(dir)) {
    return std::string();
  }
  return dir + "/" + file + ".lock";
}

}  // namespace

namespace detail {
IRegistry& systemRegistry() {
  static FileRegistry registry;
  return registry;
}
IClock& systemClock() {
  static SystemClock c;
  return c;
}
}  // namespace detail

NamedMutexLock::NamedMutexLock(const std::string& name, std::uint32_t timeoutMs) {
  const std::string path = lockFilePath(name);
  if (path.empty()) {
    return;
  }
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    return;
  }
  // flock has no timed form: poll in short steps against the monotonic clock.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      handle_ = fd;
      acquired_ = true;
      return;
    }
    if (errno != EWOULDBLOCK && errno != EINTR) {
      break;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ::close(fd);
}

NamedMutexLock::~NamedMutexLock() {
  if (acquired_) {
    const int fd = static_cast<int>(handle_);
    ::flock(fd, LOCK_UN);
    ::close(fd);
  }
}

std::string windowsDirectory() {
  const std::string r = root();
  if (r.empty()) {
    return r;
  }
  const std::string dir = r + "/Windows";
  // The Windows directory always has these; natively they are made on first use.
  makeDirectories(dir + "/system32/drivers/etc");
  return dir;
}

std::string logFilePath() {
  const std::string r = root();
  return r.empty() ? r : r + "/PelloraAgentForWindows.log";
}

bool randomBytes(std::uint8_t* out, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::getrandom(out + done, size - done, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool restrictFileToOwner(const std::string& path) { return ::chmod(path.c_str(), 0600) == 0; }

bool machineSecret(std::vector<std::uint8_t>& secret) {
  static std::mutex cacheMutex;
  static std::vector<std::uint8_t> cache;
  static std::string cacheRoot;
  const std::string r = root();
  if (r.empty()) {
    return false;
  }
  std::lock_guard<std::mutex> guard(cacheMutex);
  if (!cache.empty() && cacheRoot == r) {
    secret = cache;
    return true;
  }
  const std::string path = r + "/machine.key";
  std::string content;
  bool ok = readWholeFile(path, content);
  if (!ok) {
    // Creation is serialised across processes so two first users cannot make two keys.
    NamedMutexLock lock(detail::kMachineSecretMutex, 10000);
    if (!lock.acquired()) {
      return false;
    }
    ok = readWholeFile(path, content);
    if (!ok) {
      content.assign(detail::kMachineSecretSize, '\0');
      if (!randomBytes(reinterpret_cast<std::uint8_t*>(&content[0]), content.size()) ||
          !writeWholeFileAtomic(path, content, 0600)) {
        return false;
      }
      ok = true;
    }
  }
  struct stat st;
  // A key file that others may read is no longer a secret of this machine's owner.
  if (::stat(path.c_str(), &st) != 0 || (st.st_mode & 077) != 0 ||
      content.size() != detail::kMachineSecretSize) {
    return false;
  }
  cache.assign(content.begin(), content.end());
  cacheRoot = r;
  secret = cache;
  return true;
}

}  // namespace Platform
}  // namespace Korvath
