// The Linux registry: one text file in the format of registry export files,
// so an administrator can read it and import it on Windows. Writers take an
// exclusive lock on a companion file and replace the store by rename, so a
// crash or a second process never leaves a torn or half-merged store.
#include "platform/registry.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/reg_file.h"

namespace qv {
namespace {

constexpr char kDefaultStorePath[] = "/etc/quorvelone/registry.reg";
constexpr char kKeyName[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\quorvelone\\tapi";
// A store is a few hundred bytes; anything this large is not ours.
constexpr off_t kStoreLimit = 4 * 1024 * 1024;

std::string storePath() {
  const char* path = std::getenv("QUORVELONE_REGISTRY");
  return path != nullptr && path[0] != '\0' ? path : kDefaultStorePath;
}

enum class ReadResult { ok, missing, failed, tooLarge };

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

std::string parentDirectory(const std::string& path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Holds the writers' lock for its lifetime.
class StoreLock {
 public:
  explicit StoreLock(const std::string& path) {
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
  ~StoreLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
  }
  StoreLock(const StoreLock&) = delete;
  StoreLock& operator=(const StoreLock&) = delete;
  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

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

}  // namespace

RegistryValue readProviderValue(const std::string& name) {
  RegistryValue result;
  std::string path = storePath();
  std::string text;
  switch (readWhole(path, text)) {
    case ReadResult::ok:
      break;
    case ReadResult::tooLarge:
      result.status = RegistryStatus::storeCorrupt;
      result.problem = path + ": larger than a registry store can be";
      return result;
    default:
      result.status = RegistryStatus::keyUnavailable;
      return result;
  }
  RegDocument document;
  std::string problem;
  if (!parseRegDocument(text, kKeyName, document, problem)) {
    result.status = RegistryStatus::storeCorrupt;
    result.problem = path + ": " + problem;
    return result;
  }
  if (document.keyRanges.empty()) {
    result.status = RegistryStatus::keyUnavailable;
    return result;
  }
  const RegEntry* entry = findRegEntry(document, name);
  if (entry == nullptr || entry->data.size() > kRegistryValueLimit) {
    result.status = RegistryStatus::valueUnavailable;
    return result;
  }
  result.status = RegistryStatus::ok;
  result.type = entry->type;
  result.data = entry->data;
  return result;
}

RegistryWriteStatus writeProviderValue(const std::string& name, std::uint32_t type, const std::string& data) {
  std::string path = storePath();
  ::mkdir(parentDirectory(path).c_str(), 0755);  // the key is created on first write
  StoreLock lock(path);
  if (!lock.held()) return RegistryWriteStatus::keyUnavailable;

  std::string text;
  mode_t mode = 0600;  // the store holds the PBX password
  switch (readWhole(path, text)) {
    case ReadResult::ok: {
      struct stat info {};
      if (::stat(path.c_str(), &info) == 0) mode = info.st_mode & 07777;
      break;
    }
    case ReadResult::missing:
      text.clear();
      break;
    default:
      return RegistryWriteStatus::keyUnavailable;
  }
  RegDocument document;
  std::string problem;
  // A store we cannot parse is left alone rather than rewritten from a partial view.
  if (!parseRegDocument(text, kKeyName, document, problem)) return RegistryWriteStatus::keyUnavailable;
  setRegEntry(document, RegEntry{name, type, data});
  if (!replaceFile(path, renderRegDocument(document, kKeyName), mode))
    return RegistryWriteStatus::valueNotSet;
  return RegistryWriteStatus::ok;
}

void deleteProviderKeyForTesting() { ::unlink(storePath().c_str()); }

}  // namespace qv
