// Plug-in identification, the command registry and running commands.
#include <maya/MFnPlugin.h>
#include <maya/MPxCommand.h>

#include "model.h"

using mayastandin::host;

MFnPlugin::MFnPlugin(MObject& plugin, const char* vendor, const char* version,
                     const char* requiredApiVersion, MStatus* status) {
  bool isPlugin = dynamic_cast<mayastandin::Plugin*>(plugin.entity()) != nullptr;
  if (isPlugin) plugin_ = plugin;
  host().pluginConstructions.push_back({vendor ? vendor : "", version ? version : "",
                                        requiredApiVersion ? requiredApiVersion : ""});
  if (status) *status = isPlugin ? MStatus::kSuccess : MStatus::kInvalidParameter;
}

MStatus MFnPlugin::registerCommand(const MString& name, MCreatorFunction creator,
                                   MCreateSyntaxFunction syntax) {
  if (plugin_.isNull() || !creator) return MStatus::kFailure;
  bool added = host().commands.emplace(name.asChar(), mayastandin::Command{creator, syntax}).second;
  return added ? MStatus::kSuccess : MStatus::kFailure;
}

MStatus MFnPlugin::deregisterCommand(const MString& name) {
  if (plugin_.isNull()) return MStatus::kFailure;
  return host().commands.erase(name.asChar()) ? MStatus::kSuccess : MStatus::kFailure;
}

MStatus MPxCommand::doIt(const MArgList&) { return MStatus::kFailure; }
MStatus MPxCommand::undoIt() { return MStatus::kFailure; }
MStatus MPxCommand::redoIt() { return MStatus::kFailure; }
bool MPxCommand::isUndoable() const { return false; }
bool MPxCommand::hasSyntax() const { return true; }
void MPxCommand::setResult(const MString& result) { host().commandResult = result; }

namespace mayastandin {

const CommandRun& lastCommandRun() { return host().lastRun; }

bool commandRegistered(const char* name) { return host().commands.count(name) != 0; }

MPxCommand* createCommand(const char* name) {
  auto it = host().commands.find(name);
  return it == host().commands.end() ? nullptr : static_cast<MPxCommand*>(it->second.creator());
}

MStatus runCommand(const char* name, MString* result) {
  auto it = host().commands.find(name);
  if (it == host().commands.end()) return MStatus::kNotFound;
  CommandRun run;
  if (it->second.syntax) {
    MSyntax syntax = it->second.syntax();
    run.syntaxFlags = syntax.flagCount();
    run.syntaxArguments = syntax.argumentCount();
  }
  auto* command = static_cast<MPxCommand*>(it->second.creator());
  host().commandResult = MString();
  MStatus status = command->doIt(MArgList());
  run.undoable = command->isUndoable();
  host().lastRun = run;
  if (result) *result = host().commandResult;
  delete command;
  return status;
}

}  // namespace mayastandin
