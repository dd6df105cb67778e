// Test-facing side of the host stand-in: build nodes, plugs, connections and
// plug-in data in memory, run registered commands, fire node callbacks, and
// look at what the plug-in registered and removed.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include <maya/MMessage.h>
#include <maya/MObject.h>
#include <maya/MPxCommand.h>
#include <maya/MPxData.h>
#include <maya/MStatus.h>
#include <maya/MString.h>

#include "spline_batches.h"

namespace mayastandin {

// Forgets every node, connection, callback, command and log entry.
void reset();

MObject createPlugin(const char* path);
MObject createNode(const char* type, const char* name);
// Declares a plain attribute (one that only takes connections). Plugs name it
// by its (short) name; a long name, when given, is what partialName gives
// with useLongNames, and findPlug accepts it too.
void addAttribute(const MObject& node, const char* name, const char* longName = nullptr);
void setBool(const MObject& node, const char* name, bool value);
void setObject(const MObject& node, const char* name, const MObject& value);
void removeAttribute(const MObject& node, const char* name);
// Plug names may name array elements, "name[index]"; the array attribute
// itself must exist on the node.
void connect(const MObject& src, const char* srcPlug, const MObject& dst, const char* dstPlug);
void disconnect(const MObject& src, const char* srcPlug, const MObject& dst, const char* dstPlug);

// Takes ownership of data.
MObject createPluginData(MPxData* data);

// Plug-in data holding spline batches; writeBinary writes them in the
// layout of spline_batches.h.
class SplineData : public MPxData {
 public:
  explicit SplineData(std::vector<splinedata::Batch> batches) : batches_(std::move(batches)) {}
  MStatus writeBinary(std::ostream& out) override;

 private:
  std::vector<splinedata::Batch> batches_;
};

struct PluginIdentity {
  std::string vendor, version, requiredApiVersion;
};
// Every MFnPlugin construction, in order.
const std::vector<PluginIdentity>& pluginConstructions();

bool commandRegistered(const char* name);
// A new object of the registered command, which the caller deletes; null
// for an unknown name.
MPxCommand* createCommand(const char* name);
// Creates the command object, runs doIt with no arguments and deletes it;
// kNotFound for an unknown name.
MStatus runCommand(const char* name, MString* result);
// What the host learnt from the last command run.
struct CommandRun {
  bool undoable = false;  // the host would have put it on its undo queue
  unsigned int syntaxFlags = 0, syntaxArguments = 0;
};
const CommandRun& lastCommandRun();

void fireAttributeChanged(const MObject& node, int message, const char* plug,
                          const char* otherPlug = "");
void fireDirtyPlug(const MObject& node, const char* plug);
std::size_t liveCallbackCount(const MObject& node);
const std::vector<MCallbackId>& registeredCallbackIds();
// Every id given to MMessage::removeCallback, in order, whether or not it was
// registered (a second removal of one id shows twice).
const std::vector<MCallbackId>& removedCallbackIds();

}  // namespace mayastandin
