#include "stream_routes.h"

#include <algorithm>
#include <cstdio>

#include "path_strings.h"
#include "relative_path.h"
#include "rib_scanner.h"
#include "rib_source.h"

namespace {

// The stream name the strings are read under: its folder stands for the
// prefix, so that a string that had one is known by it.
constexpr char kMarkerFolder[] = "\x01";
constexpr char kMarkerStream[] = "\x01/stream";

void IgnoreMessage(void*, int, const char*) {}

std::string IdentityText(const FileIdentity& identity) {
  return std::to_string(identity.first) + ":" + std::to_string(identity.second);
}

}  // namespace

std::vector<std::string> StreamDirectoryStrings(const char* path) {
  std::vector<std::string> strings;
  auto* source = new RibFromFile(path);
  if (!source->IsOpen()) {
    delete source;
    return strings;
  }
  RibScanner scanner(source, kMarkerStream, nullptr, IgnoreMessage, nullptr);
  for (int token = scanner.NextToken(); token != RibToken::End; token = scanner.NextToken()) {
    if (token != RibToken::String) continue;
    const std::string& text = scanner.stringValue();
    if (text.compare(0, sizeof kMarkerFolder - 1, kMarkerFolder) == 0)
      strings.push_back(text.substr(sizeof kMarkerFolder - 1));
  }
  return strings;
}

void StreamRouteClasses::Add(const std::string& path) {
  if (routeOfPath_.count(path)) return;
  FileIdentity file, folder;
  std::string folderText = ZpDirName(path);
  if (!IdentifyFile(path, &file) || !IdentifyFile(folderText, &folder)) return;
  routeOfPath_[path] = {file, folder};
  std::vector<Route>& routes = routesOfFile_[file];
  for (const Route& route : routes)
    if (route.folder == folder) return;
  routes.push_back({folder, folderText, path});
}

// What each "${RIBDIR}" string of the stream leads to through the route's
// folder: a recorded file by its identity (a stream also by its folder, since
// it is copied per route), another recorded name by its text, or nothing.
StreamRouteClasses::Signature StreamRouteClasses::ReadingOf(
    const Route& route, const std::vector<std::string>& strings,
    const std::function<Recorded(const std::string&)>& recorded) {
  Signature signature;
  for (const std::string& rest : strings) {
    std::string path = route.folderText + rest;
    pathVariables_.Expand(path, true);
    path = RecordedSpelling(path);
    Recorded what = recorded(path);
    FileIdentity file, folder;
    if (what == Recorded::Nothing) {
      signature.push_back("-");
    } else if (what == Recorded::Text || !IdentifyFile(path, &file)) {
      signature.push_back("T" + path);
    } else if (what == Recorded::Stream && IdentifyFile(ZpDirName(path), &folder)) {
      signature.push_back("S" + IdentityText(file) + "/" + IdentityText(folder));
    } else {
      signature.push_back("F" + IdentityText(file));
    }
  }
  return signature;
}

void StreamRouteClasses::Classify(const std::function<Recorded(const std::string&)>& recorded) {
  for (auto& [file, routes] : routesOfFile_) {
    if (routes.size() == 1) {
      markOfRoute_[{file, routes[0].folder}] = routes[0].folder;
      continue;
    }
    std::vector<std::string> strings = StreamDirectoryStrings(routes[0].path.c_str());
    std::vector<std::pair<Signature, FileIdentity>> classes;
    for (const Route& route : routes) {
      Signature signature = strings.empty() ? Signature() : ReadingOf(route, strings, recorded);
      auto found = std::find_if(classes.begin(), classes.end(),
                                [&](const auto& known) { return known.first == signature; });
      if (found == classes.end()) {
        classes.emplace_back(signature, route.folder);
        found = classes.end() - 1;
      }
      markOfRoute_[{file, route.folder}] = found->second;
    }
  }
}

bool StreamRouteClasses::ClassOf(const std::string& path, FileIdentity* file,
                                 FileIdentity* mark) const {
  auto route = routeOfPath_.find(path);
  if (route == routeOfPath_.end()) return false;
  auto found = markOfRoute_.find(route->second);
  if (found == markOfRoute_.end()) return false;
  *file = route->second.first;
  *mark = found->second;
  return true;
}
