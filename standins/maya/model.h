// The in-memory host model behind the stand-in's handles.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include <maya/MFnPlugin.h>
#include <maya/MNodeMessage.h>
#include <maya/MObject.h>
#include <maya/MPxData.h>
#include <maya/MString.h>

#include "maya_standin.h"

namespace mayastandin {

struct Entity {
  virtual ~Entity() = default;
};

struct Attribute {
  enum Kind { kPlain, kBool, kObject };
  Kind kind = kPlain;
  std::string longName;  // empty: the same as the (short) name it is kept under
  bool boolValue = false;
  MObject objectValue;
};

struct Node : Entity {
  std::string name, type;
  std::map<std::string, Attribute> attributes;  // by short name
};

struct DataObject : Entity {
  std::unique_ptr<MPxData> data;
};

struct Plugin : Entity {
  std::string path;
};

struct Connection {
  MObject src;
  std::string srcPlug;
  MObject dst;
  std::string dstPlug;
};

struct Callback {
  Entity* node = nullptr;
  MNodeMessage::MAttr2PlugFunction attributeChanged = nullptr;
  MNodeMessage::MNodePlugFunction dirtyPlug = nullptr;
  void* clientData = nullptr;
};

struct Command {
  MCreatorFunction creator = nullptr;
  MCreateSyntaxFunction syntax = nullptr;
};

struct Host {
  std::vector<Connection> connections;
  std::map<MCallbackId, Callback> callbacks;
  MCallbackId nextCallbackId = 1;
  std::vector<MCallbackId> registered;
  std::vector<MCallbackId> removed;  // every id asked for, also unknown ones
  std::map<std::string, Command> commands;
  std::vector<PluginIdentity> pluginConstructions;
  MString commandResult;
  CommandRun lastRun;
};

Host& host();
Node* asNode(const MObject& object);
// The attribute a plug names: "name" for both "name" and "name[index]".
std::string attributeOf(const std::string& plug);

}  // namespace mayastandin
