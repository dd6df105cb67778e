// Which routes to one stream read it alike. A stream's "${RIBDIR}" is the
// folder of the route that names it, so a stream reached through two folders
// may name other files through each; the package then holds one copy per
// way of reading it. Routes whose "${RIBDIR}" strings all lead to the same
// recorded files (or to nothing recorded) read alike, and share one copy.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "file_identity.h"
#include "path_variables.h"

// The text after the stream-directory prefix ("${RIBDIR}" or "${VRXDIR}")
// of every string of the stream at path that begins with one, in stream
// order, as its reader decodes them (escapes, binary strings and string
// tables included). Empty when the stream holds none or cannot be read.
std::vector<std::string> StreamDirectoryStrings(const char* path);

// What a run recorded under a path: nothing that a package rewrites, a
// dependency it copies, a nested stream (copied once per way of reading
// it), or another name whose text the package writes (an output image, a
// UDIM pattern, a file not found).
enum class Recorded { Nothing, File, Stream, Text };

class StreamRouteClasses {
 public:
  // Notes a stream path: a recorded nested stream, or an input stream's
  // name as given. Paths that cannot be examined are left out.
  void Add(const std::string& path);

  // Sorts the routes of each file into classes that read alike, given what
  // the run recorded under a path (normal and absolute).
  void Classify(const std::function<Recorded(const std::string&)>& recorded);

  // The file path names, and the folder of the first route of its class
  // (its class's mark); false when path was not added.
  bool ClassOf(const std::string& path, FileIdentity* file, FileIdentity* mark) const;

 private:
  struct Route {
    FileIdentity folder;
    std::string folderText;  // as the first path of the route spells it
    std::string path;
  };
  using Signature = std::vector<std::string>;
  Signature ReadingOf(const Route& route, const std::vector<std::string>& strings,
                      const std::function<Recorded(const std::string&)>& recorded);

  std::map<std::string, std::pair<FileIdentity, FileIdentity>> routeOfPath_;
  std::map<FileIdentity, std::vector<Route>> routesOfFile_;
  std::map<std::pair<FileIdentity, FileIdentity>, FileIdentity> markOfRoute_;
  ZpPathVariables pathVariables_;
};
