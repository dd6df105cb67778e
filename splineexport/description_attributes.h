// What the exporter reads from host nodes besides the spline data.
#pragma once

#include <maya/MFnDependencyNode.h>
#include <maya/MObject.h>
#include <maya/MString.h>

// The bool value of node's plug name; fallback when node is null, has no
// such plug, or the value cannot be read.
bool getBoolAttribute(const MObject& node, const MString& name, bool fallback);

// True when the description's "outSplineData" feeds an "xgmModifierGuide"
// node; such descriptions are not exported.
bool feedsModifierGuide(MFnDependencyNode& description);
