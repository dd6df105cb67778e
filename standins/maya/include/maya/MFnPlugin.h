// Stand-in for the host's plug-in function set: identification and the
// command registry.
#pragma once

#include <maya/MObject.h>
#include <maya/MStatus.h>
#include <maya/MString.h>
#include <maya/MSyntax.h>

using MCreatorFunction = void* (*)();
using MCreateSyntaxFunction = MSyntax (*)();

class MFnPlugin {
 public:
  MFnPlugin(MObject& plugin, const char* vendor, const char* version,
            const char* requiredApiVersion, MStatus* status = nullptr);
  ~MFnPlugin() = default;

  // kFailure when the name is taken or the object is not a plug-in.
  MStatus registerCommand(const MString& name, MCreatorFunction creator,
                          MCreateSyntaxFunction syntax = nullptr);
  // kFailure when no command of that name is registered.
  MStatus deregisterCommand(const MString& name);

 private:
  MObject plugin_;
};
