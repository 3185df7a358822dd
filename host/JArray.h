// JArray: an ordered list of objects, used for a block's property list.
//
// Copies share their contents: appending through one copy is seen by all.
// The array owns its elements and deletes them with the last copy.
// Invariant: no element is null.
// Thread safety: host's thread only.
#pragma once

#include <memory>
#include <vector>

#include "JObject.h"

class J_EXPORT JArray : public JObject {
 public:
  JArray();
  JArray(const JArray& other) = default;
  JArray& operator=(const JArray& other) = default;
  ~JArray() override;

  const char* className() const override;
  JObject* clone() const override;  // shares the contents, like a copy

  // Takes ownership of `object`; a null object is ignored.
  void append(JObject* object);
  // Appends a clone of `object`.
  void append(const JObject& object);

  int size() const;
  // The element at `index`, still owned by the array; null out of range.
  JObject* at(int index) const;

 private:
  std::shared_ptr<std::vector<std::unique_ptr<JObject>>> items_;
};
