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

#include "platform/posix/store_file.h"
#include "platform/provider_registry.h"
#include "platform/provider_registry_values.h"
#include "platform/reg_file.h"

namespace qv {

namespace {

constexpr char kKeyName[] =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Telephony\\Providers";
constexpr std::uint32_t kRegSzType = 1;
constexpr std::uint32_t kRegDwordType = 4;

// False on a read error; a missing store is empty text.
bool readStore(const std::string& path, std::string& text) {
  text.clear();
  ReadResult result = readWhole(path, text);
  return result == ReadResult::ok || result == ReadResult::missing;
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

bool replaceStore(const std::string& path, const std::string& text) {
  mode_t mode = 0600;  // the store holds the PBX password
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0) mode = info.st_mode & 07777;
  return replaceFile(path, text, mode);
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
  StoreLock lock(path);
  if (!lock.held()) return ProviderRegistryStatus::unwritable;
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
  return status;
}

}  // namespace qv
