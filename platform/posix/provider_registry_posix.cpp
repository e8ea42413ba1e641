// The provider list in the Linux registry store: the same file and writers'
// lock as the provider's own key, rewritten whole by rename.
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/provider_registry.h"
#include "platform/provider_registry_values.h"
#include "platform/reg_file.h"

namespace qv {

namespace {

constexpr char kKeyName[] =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Telephony\\Providers";
constexpr char kDefaultStorePath[] = "/etc/quorvelone/registry.reg";
constexpr std::size_t kStoreLimit = 4 * 1024 * 1024;
constexpr std::uint32_t kRegSzType = 1;
constexpr std::uint32_t kRegDwordType = 4;

std::string storePath() {
  const char* path = std::getenv("QUORVELONE_REGISTRY");
  return path != nullptr && path[0] != '\0' ? path : kDefaultStorePath;
}

std::string parentDirectory(const std::string& path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// False on a read error; a missing file is empty text.
bool readStore(const std::string& path, std::string& text) {
  text.clear();
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT;
  char buffer[4096];
  for (;;) {
    ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0 || text.size() > kStoreLimit) {
      ::close(fd);
      return got == 0;
    }
    text.append(buffer, static_cast<std::size_t>(got));
  }
}

bool parseStore(const std::string& text, RegDocument& document) {
  std::string problem;
  return parseRegDocument(text, kKeyName, document, problem);
}

ProviderRegistry fromDocument(const RegDocument& document) {
  return ProviderRegistryFromValues(
      [&](const std::string& name) -> std::optional<std::uint32_t> {
        const RegEntry* entry = findRegEntry(document, name);
        if (entry == nullptr || entry->type != kRegDwordType || entry->data.size() != 4) return std::nullopt;
        const auto* b = reinterpret_cast<const unsigned char*>(entry->data.data());
        return static_cast<std::uint32_t>(b[0] | b[1] << 8 | b[2] << 16 |
                                          static_cast<std::uint32_t>(b[3]) << 24);
      },
      [&](const std::string& name) -> std::optional<std::string> {
        const RegEntry* entry = findRegEntry(document, name);
        if (entry == nullptr || entry->type != kRegSzType) return std::nullopt;
        return entry->data.substr(0, entry->data.find('\0'));
      });
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

bool replaceStore(const std::string& path, const std::string& text) {
  mode_t mode = 0600;
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0) mode = info.st_mode & 07777;
  std::string temp = path + ".XXXXXX";
  int fd = mkstemp(temp.data());
  if (fd < 0) return false;
  bool ok = fchmod(fd, mode) == 0 && writeAll(fd, text) && fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  if (ok) ok = ::rename(temp.c_str(), path.c_str()) == 0;
  if (!ok) ::unlink(temp.c_str());
  return ok;
}

}  // namespace

ProviderRegistryStatus LoadProviderRegistry(ProviderRegistry& registry) {
  std::string text;
  RegDocument document;
  if (!readStore(storePath(), text) || !parseStore(text, document)) return ProviderRegistryStatus::unreadable;
  registry = fromDocument(document);
  return ProviderRegistryStatus::ok;
}

ProviderRegistryStatus UpdateProviderRegistry(const std::function<bool(ProviderRegistry&)>& change) {
  const std::string path = storePath();
  ::mkdir(parentDirectory(path).c_str(), 0755);
  int lock = ::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (lock < 0) return ProviderRegistryStatus::unwritable;
  while (flock(lock, LOCK_EX) != 0 && errno == EINTR) {
  }
  ProviderRegistryStatus status = ProviderRegistryStatus::ok;
  std::string text;
  RegDocument document;
  if (!readStore(path, text) || !parseStore(text, document)) {
    status = ProviderRegistryStatus::unreadable;
  } else {
    ProviderRegistry registry = fromDocument(document);
    if (change(registry)) {
      auto& entries = document.entries;
      entries.erase(std::remove_if(entries.begin(), entries.end(),
                                   [](const RegEntry& e) { return IsProviderListValueName(e.name); }),
                    entries.end());
      for (const ProviderValue& value : ProviderRegistryToValues(registry)) {
        RegEntry entry;
        entry.name = value.name;
        if (value.isNumber) {
          entry.type = kRegDwordType;
          for (int i = 0; i < 4; ++i)
            entry.data.push_back(static_cast<char>((value.number >> (8 * i)) & 0xFF));
        } else {
          entry.type = kRegSzType;
          entry.data = value.text + '\0';
        }
        setRegEntry(document, entry);
      }
      if (!replaceStore(path, renderRegDocument(document, kKeyName)))
        status = ProviderRegistryStatus::unwritable;
    }
  }
  ::close(lock);
  return status;
}

}  // namespace qv
