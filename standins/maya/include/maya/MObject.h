// Stand-in for the host's object handle: a shared reference to a node, a
// plug-in data object or a plug-in of the in-memory host model, or null.
#pragma once

#include <memory>

namespace mayastandin {
struct Entity;
}

class MObject {
 public:
  MObject() = default;
  MObject(const MObject& other) = default;
  MObject& operator=(const MObject& other) = default;
  ~MObject() = default;

  bool isNull() const { return entity_ == nullptr; }
  bool operator==(const MObject& other) const { return entity_ == other.entity_; }
  bool operator!=(const MObject& other) const { return entity_ != other.entity_; }

  // Stand-in access to the model behind the handle.
  explicit MObject(std::shared_ptr<mayastandin::Entity> entity) : entity_(std::move(entity)) {}
  mayastandin::Entity* entity() const { return entity_.get(); }

 private:
  std::shared_ptr<mayastandin::Entity> entity_;
};
