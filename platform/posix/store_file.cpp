#include "platform/posix/store_file.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qv {
namespace {

constexpr char kDefaultStorePath[] = "/etc/quorvelone/registry.reg";
// A store is a few hundred bytes; anything this large is not ours.
constexpr off_t kStoreLimit = 4 * 1024 * 1024;

bool writeAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    ssize_t put = ::write(fd, text.data() + done, text.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    done += static_cast<std::size_t>(put);
  }
  return true;
}

}  // namespace

std::string storePath() {
  const char* path = std::getenv("QUORVELONE_REGISTRY");
  return path != nullptr && path[0] != '\0' ? path : kDefaultStorePath;
}

ReadResult readWhole(const std::string& path, std::string& text) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? ReadResult::missing : ReadResult::failed;
  struct stat info {};
  if (fstat(fd, &info) != 0) {
    ::close(fd);
    return ReadResult::failed;
  }
  if (info.st_size > kStoreLimit) {
    ::close(fd);
    return ReadResult::tooLarge;
  }
  text.clear();
  char buffer[4096];
  for (;;) {
    ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      ::close(fd);
      return ReadResult::failed;
    }
    if (got == 0) break;
    text.append(buffer, static_cast<std::size_t>(got));
    if (text.size() > static_cast<std::size_t>(kStoreLimit)) {
      ::close(fd);
      return ReadResult::tooLarge;
    }
  }
  ::close(fd);
  return ReadResult::ok;
}

std::string parentDirectory(const std::string& path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

StoreLock::StoreLock(const std::string& path) {
  fd_ = ::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd_ < 0) return;
  while (flock(fd_, LOCK_EX) != 0) {
    if (errno != EINTR) {
      ::close(fd_);
      fd_ = -1;
      return;
    }
  }
}

StoreLock::~StoreLock() {
  if (fd_ >= 0) ::close(fd_);  // closing releases the lock
}

// Writes text to a temporary file beside path and renames it over path.
bool replaceFile(const std::string& path, const std::string& text, mode_t mode) {
  std::string temp = path + ".XXXXXX";
  int fd = mkstemp(temp.data());
  if (fd < 0) return false;
  bool ok = fchmod(fd, mode) == 0 && writeAll(fd, text) && fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  if (ok) ok = ::rename(temp.c_str(), path.c_str()) == 0;
  if (!ok) {
    ::unlink(temp.c_str());
    return false;
  }
  int dir = ::open(parentDirectory(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    fsync(dir);
    ::close(dir);
  }
  return true;
}

}  // namespace qv
