// Stand-in for the host's plug-in function set: identification and the
// command registry.
//
// As the host documents, the file of a plug-in that includes this header
// defines the plug-in's MApiVersion (the interface version it was built
// for), unless MNoVersionString is defined before the include: every other
// file of the plug-in, or a plug-in that defines MApiVersion itself, must
// define it.
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

#ifndef MNoVersionString
extern "C" __attribute__((visibility("default"))) const char MApiVersion[] = "20190000";
#endif
