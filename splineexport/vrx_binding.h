// Thin object layer over the renderer library's VRX functions: an abstract
// interface with one operation per function, the implementation that calls
// the linked library, and the argument classes that fill parameter records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// The parameter record the renderer library takes; its layout is the
// library's and must not change.
struct VRXParam {
  const char* name;
  const void* data;
  std::int32_t type;
  std::int32_t arraylength;
  std::uint64_t count;
  std::int32_t flags;
};
static_assert(sizeof(VRXParam) == 40, "VRXParam is 40 bytes");
static_assert(offsetof(VRXParam, name) == 0 && offsetof(VRXParam, data) == 8,
              "VRXParam pointers come first");
static_assert(offsetof(VRXParam, type) == 16 && offsetof(VRXParam, arraylength) == 20,
              "VRXParam type and array length follow the pointers");
static_assert(offsetof(VRXParam, count) == 24 && offsetof(VRXParam, flags) == 32,
              "VRXParam count and flags close the record");

// Type codes of the records this plug-in writes.
enum VRXType : std::int32_t {
  kVRXFloat = 1,
  kVRXInteger = 2,
  kVRXString = 3,
  kVRXPoint = 5,
  kVRXNormal = 7,
};

// The renderer library's functions (symbol version ZEPHRIN_1.0).
extern "C" {
int VRXBegin(int nparams, VRXParam* params);
void VRXEnd(int context);
void VRXCreate(int context, const char* handle, const char* type, int nparams, VRXParam* params);
void VRXDelete(int context, const char* handle, int nparams, VRXParam* params);
void VRXSetAttribute(int context, const char* handle, int nparams, VRXParam* params);
void VRXSetAttributeAtTime(int context, const char* handle, double time, int nparams,
                           VRXParam* params);
void VRXDeleteAttribute(int context, const char* handle, const char* name);
void VRXConnect(int context, const char* from, const char* fromAttr, const char* to,
                const char* toAttr, int nparams, VRXParam* params);
void VRXDisconnect(int context, const char* from, const char* fromAttr, const char* to,
                   const char* toAttr);
void VRXEvaluate(int context, int nparams, VRXParam* params);
void VRXRenderControl(int context, int nparams, VRXParam* params);
}

namespace VRX {

// One operation per VRX function, in a fixed slot order. Abstract so the
// calls can be routed elsewhere than the linked library.
class CAPI {
 public:
  virtual ~CAPI();
  virtual int VRXBegin(int nparams, VRXParam* params) = 0;
  virtual void VRXEnd(int context) = 0;
  virtual void VRXCreate(int context, const char* handle, const char* type, int nparams,
                         VRXParam* params) = 0;
  virtual void VRXDelete(int context, const char* handle, int nparams, VRXParam* params) = 0;
  virtual void VRXSetAttribute(int context, const char* handle, int nparams,
                               VRXParam* params) = 0;
  virtual void VRXSetAttributeAtTime(int context, const char* handle, double time, int nparams,
                                     VRXParam* params) = 0;
  virtual void VRXDeleteAttribute(int context, const char* handle, const char* name) = 0;
  virtual void VRXConnect(int context, const char* from, const char* fromAttr, const char* to,
                          const char* toAttr, int nparams, VRXParam* params) = 0;
  virtual void VRXDisconnect(int context, const char* from, const char* fromAttr,
                             const char* to, const char* toAttr) = 0;
  virtual void VRXEvaluate(int context, int nparams, VRXParam* params) = 0;
  virtual void VRXRenderControl(int context, int nparams, VRXParam* params) = 0;
};

// Forwards every operation to the linked library function of the same name.
class LinkedAPI : public CAPI {
 public:
  // The one process-wide instance.
  static LinkedAPI& Instance();

  ~LinkedAPI() override;
  int VRXBegin(int nparams, VRXParam* params) override;
  void VRXEnd(int context) override;
  void VRXCreate(int context, const char* handle, const char* type, int nparams,
                 VRXParam* params) override;
  void VRXDelete(int context, const char* handle, int nparams, VRXParam* params) override;
  void VRXSetAttribute(int context, const char* handle, int nparams, VRXParam* params) override;
  void VRXSetAttributeAtTime(int context, const char* handle, double time, int nparams,
                             VRXParam* params) override;
  void VRXDeleteAttribute(int context, const char* handle, const char* name) override;
  void VRXConnect(int context, const char* from, const char* fromAttr, const char* to,
                  const char* toAttr, int nparams, VRXParam* params) override;
  void VRXDisconnect(int context, const char* from, const char* fromAttr, const char* to,
                     const char* toAttr) override;
  void VRXEvaluate(int context, int nparams, VRXParam* params) override;
  void VRXRenderControl(int context, int nparams, VRXParam* params) override;
};

// One named argument of a VRX call; fills one parameter record.
class ArgBase {
 public:
  explicit ArgBase(const char* name) : name(name) {}
  ArgBase(const ArgBase&) = delete;
  ArgBase& operator=(const ArgBase&) = delete;
  virtual ~ArgBase();
  virtual void FillParam(VRXParam* out) const = 0;

 protected:
  const char* name;
  unsigned char* buffer = nullptr;  // owned, released with delete[]
};

class CStringPArg : public ArgBase {
 public:
  CStringPArg(const char* name, const char* value) : ArgBase(name), value(value) {}
  void FillParam(VRXParam* out) const override;

 private:
  const char* value;
};

class IntegerArg : public ArgBase {
 public:
  IntegerArg(const char* name, std::int32_t value) : ArgBase(name), value(value) {}
  void FillParam(VRXParam* out) const override;

 private:
  std::int32_t value;
};

// A whole record whose data is a block from malloc, owned and freed here.
class Argument : public ArgBase {
 public:
  Argument(const char* name, std::int32_t type, std::int32_t arraylength, std::uint64_t count,
           std::int32_t flags, void* block);
  ~Argument() override;
  void FillParam(VRXParam* out) const override;

 private:
  VRXParam param;
  void* block;
};

// Arguments collected in order and passed to one VRX call as contiguous
// records.
class ArgList {
 public:
  void Add(ArgBase* arg) { args.emplace_back(arg); }
  int Count() const { return static_cast<int>(args.size()); }
  // Records for every argument, in list order.
  std::vector<VRXParam> Fill() const;

 private:
  std::vector<std::unique_ptr<ArgBase>> args;
};

}  // namespace VRX
