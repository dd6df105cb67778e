// Stand-in for the base of plug-in commands. Virtual operations in the
// host's slot order.
#pragma once

#include <maya/MArgList.h>
#include <maya/MStatus.h>
#include <maya/MString.h>

class MPxCommand {
 public:
  MPxCommand() = default;
  virtual ~MPxCommand() = default;
  virtual MStatus doIt(const MArgList& args);
  virtual MStatus undoIt();
  virtual MStatus redoIt();
  virtual bool isUndoable() const;
  virtual bool hasSyntax() const;

  // The string result of the command that is running.
  static void setResult(const MString& result);
};
