#include "produced_textures.h"

#include "package_sources.h"
#include "packaged_names.h"
#include "relative_path.h"

namespace {

bool Holds(const ZpHashTable& set, const std::string& key) {
  uint64_t unused;
  return set.Find(key.c_str(), uint32_t(key.size() + 1), &unused);
}

// The path that took the packaged name, empty when none did.
std::string HolderOf(const std::string& name) {
  const std::string reference = kPackageDirPrefix + name;
  ZpHashTable::Iterator it = {&PackagedNameTable, 0, nullptr, nullptr};
  for (it.current = PackagedNameTable.Next(&it.bucket, &it.next); it.current;
       it.current = PackagedNameTable.Next(&it.bucket, &it.next)) {
    if (reference == reinterpret_cast<const char*>(it.Value()))
      return static_cast<const char*>(it.Key());
  }
  return std::string();
}

}  // namespace

std::string ProducedTextureName(const std::string& path, bool found, const ToolOptions& options,
                                const ZpHashTable& producedNames) {
  std::string relative = SplitRelativePath(options, path);
  if (!found) return Holds(producedNames, relative) ? relative : std::string();
  std::string name = PackagedName(path);
  if (Holds(producedNames, name)) return name;
  // Another spelling of the rendered file took the name first.
  if (name != relative && Holds(producedNames, relative) &&
      IsSameFile(path.c_str(), HolderOf(relative).c_str()))
    return relative;
  return std::string();
}
