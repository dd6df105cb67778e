#include "package_sources.h"

#include <sys/stat.h>

#include <cstdio>
#include <map>
#include <utility>

#include "file_identity.h"
#include "packaged_names.h"

namespace {

std::map<FileIdentity, std::string>& SourceIndex() {
  static std::map<FileIdentity, std::string> index;
  return index;
}

bool Identify(const char* path, FileIdentity* identity) { return IdentifyFile(path, identity); }

}  // namespace

void IndexPackageSources() {
  std::map<FileIdentity, std::string>& index = SourceIndex();
  index.clear();
  ZpHashTable::Iterator it = {&PackagedNameTable, 0, nullptr, nullptr};
  it.current = PackagedNameTable.Next(&it.bucket, &it.next);
  while (it.current) {
    const char* path = static_cast<const char*>(it.Key());
    FileIdentity identity;
    if (Identify(path, &identity)) index.emplace(identity, path);
    it.current = PackagedNameTable.Next(&it.bucket, &it.next);
  }
}

bool IsSameFile(const char* a, const char* b) {
  FileIdentity first, second;
  return Identify(a, &first) && Identify(b, &second) && first == second;
}

bool MayWritePackageFile(const std::string& source, const std::string& destination) {
  if (IsSameFile(source.c_str(), destination.c_str())) {
    std::fprintf(stderr, "\n#Not writing '%s' as '%s': they are the same file\n\n",
                 source.c_str(), destination.c_str());
    return false;
  }
  FileIdentity identity;
  if (!Identify(destination.c_str(), &identity)) return true;
  auto found = SourceIndex().find(identity);
  if (found == SourceIndex().end()) return true;
  std::fprintf(stderr, "\n#Not writing '%s' as '%s': that would overwrite '%s'\n\n",
               source.c_str(), destination.c_str(), found->second.c_str());
  return false;
}
