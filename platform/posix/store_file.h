#pragma once
// The Linux registry store file shared by the provider's own key and TAPI's
// provider list: where it lives, reading it whole, the writers' lock and
// replacing it by rename.
#include <sys/types.h>

#include <string>

namespace qv {

// $QUORVELONE_REGISTRY, or /etc/quorvelone/registry.reg.
std::string storePath();
std::string parentDirectory(const std::string& path);

enum class ReadResult { ok, missing, failed, tooLarge };
// Reads the whole store; a store over 4 MiB is not ours and reads as tooLarge.
ReadResult readWhole(const std::string& path, std::string& text);

// Holds the writers' lock (an exclusive flock on path + ".lock") for its lifetime.
class StoreLock {
 public:
  explicit StoreLock(const std::string& path);
  ~StoreLock();
  StoreLock(const StoreLock&) = delete;
  StoreLock& operator=(const StoreLock&) = delete;
  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// Writes text to a temporary file beside path and renames it over path.
bool replaceFile(const std::string& path, const std::string& text, mode_t mode);

}  // namespace qv
