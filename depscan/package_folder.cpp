#include "package_folder.h"

#include <fcntl.h>
#include <unistd.h>

#include <cassert>
#include <cstdio>
#include <memory>

#include "package_jobs.h"
#include "package_sources.h"
#include "package_writer.h"
#include "run_status.h"
#include "texture_rescaling.h"
#include "tool_options.h"

namespace {

std::unique_ptr<PackageDirectory>& Opened() {
  static std::unique_ptr<PackageDirectory> folder;
  return folder;
}

std::string FolderName(const ToolOptions& options) {
  return options.packageDir.empty() ? "." : options.packageDir;
}

std::string InPackage(const ToolOptions& options, const std::string& name) {
  return options.packageDir.empty() ? name : options.packageDir + "/" + name;
}

void ReportFailedCopy(CopyResult result, const std::string& path, const std::string& destination) {
  if (result == CopyResult::kNotRegular)
    PackageWarning("\n#Not copying '%s' as '%s': it is not a regular file\n\n",
                 path.c_str(), destination.c_str());
  else
    PackageWarning("\n#Could not copy '%s' as '%s'\n\n", path.c_str(),
                 destination.c_str());
  MarkPackageIncomplete();
}

}  // namespace

bool OpenRunPackage(const ToolOptions& options) { return RunPackage(options) != nullptr; }

const PackageDirectory* RunPackage(const ToolOptions& options) {
  std::unique_ptr<PackageDirectory>& folder = Opened();
  std::string name = FolderName(options);
  if (folder && folder->path() == name) return folder.get();
  // Copies run side by side only read the folder that BuildPackage opened
  // before them.
  assert(!InPackageJob());
  folder.reset();
  std::string error;
  folder = PackageDirectory::OpenPackage(name, &error);
  if (!folder) std::fprintf(stderr, "unknown path: %s\n", options.packageDir.c_str());
  return folder.get();
}

bool RunPackageIsOpen(const ToolOptions& options) {
  const std::unique_ptr<PackageDirectory>& folder = Opened();
  return folder && folder->path() == FolderName(options);
}

void CloseRunPackage() { Opened().reset(); }

std::string OpenedPackagePath(const ToolOptions& options, const std::string& name) {
  std::unique_ptr<PackageDirectory>& folder = Opened();
  if (folder && folder->path() == FolderName(options)) return folder->OpenedPath() + "/" + name;
  return InPackage(options, name);
}

bool CopyIntoRunPackage(const std::string& path, const std::string& name,
                        const ToolOptions& options, float scale) {
  std::string destination = InPackage(options, name);
  const PackageDirectory* package = RunPackage(options);
  if (!MayWritePackageFile(path, destination, OpenedPackagePath(options, name))) {
    MarkPackageIncomplete();
    return false;
  }
  std::string leaf, error;
  std::unique_ptr<PackageDirectory> folder;
  if (package) folder = package->FolderFor(name, &leaf, &error);
  CopyResult result = CopyResult::kCannotWrite;
  if (folder)
    result = scale < 1.0f ? RescaleIntoPackage(path, *folder, leaf, scale, &error)
                          : CopyIntoPackage(path.c_str(), *folder, leaf, &error);
  if (result == CopyResult::kCopied) return true;
  ReportFailedCopy(result, path, destination);
  return false;
}

void RemoveFromRunPackage(const ToolOptions& options, const std::string& name) {
  const PackageDirectory* package = RunPackage(options);
  std::string leaf, error;
  std::unique_ptr<PackageDirectory> folder;
  if (package) folder = package->FolderFor(name, &leaf, &error);
  if (folder) unlinkat(folder->fd(), leaf.c_str(), 0);
}
