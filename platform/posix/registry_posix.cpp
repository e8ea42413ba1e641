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

#include "platform/posix/store_file.h"
#include "platform/reg_file.h"

namespace qv {
namespace {

constexpr char kKeyName[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\quorvelone\\tapi";

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
