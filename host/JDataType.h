// JDataType: a port value in transit. A block that reads an input binds one
// of its own variables to a data object of the input's type (JIntegerData,
// JRealData, JStringData) and hands it to JLinkObj::access; the linked
// block's access writes the value through the matching conversion operator
// (operator int&, operator double&, operator JString&).
//
// Owns nothing: the bound variable belongs to the caller and must outlive
// the data object. The operators are const so that a block receiving a
// `const JDataType&` can write through them.
// Invariants: the type code is one of the three data ids; only the operator
// of that type reaches the bound variable. An operator of another type
// yields a scratch variable inside the data object, so a block that writes
// the wrong type changes nothing and corrupts nothing.
// Thread safety: host's thread only.
#pragma once

#include "JExport.h"
#include "JString.h"

class J_EXPORT JDataType {
 public:
  JDataType(const JDataType&) = delete;
  JDataType& operator=(const JDataType&) = delete;

  // The type code: JIntegerData::id, JRealData::id or JStringData::id.
  int type() const { return type_; }

  operator int&() const;
  operator double&() const;
  operator JString&() const;

  // True once an operator of the data's own type has been used, i.e. the
  // bound variable was reached.
  bool reached() const { return reached_; }

 protected:
  JDataType(int type, void* variable);
  ~JDataType();

 private:
  friend class JLinkObj;  // clears reached() before it fetches a value

  int type_;
  void* variable_;
  mutable bool reached_ = false;
  mutable int scratchInteger_ = 0;
  mutable double scratchReal_ = 0.0;
  mutable JString scratchText_;
};
