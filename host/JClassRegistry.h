// JClassRegistry: the process-wide list of block classes the host can make.
// Each class is known by its className() and kept as a prototype block; a
// new block of the class is a clone() of the prototype. Plug-ins add their
// class at load time through JModuleObj::Register; the host's own blocks
// (JProbeObj, JSourceObj) are registered when the registry is first used.
//
// Owns the prototypes. They are kept for the life of the process and never
// destroyed: their code lives in plug-in libraries that stay loaded, and a
// plug-in's own static objects may already be gone at process exit.
// Invariant: class names are unique; the first registration of a name wins.
// Thread safety: host's thread only (plug-ins are loaded on it).
#pragma once

#include <string>
#include <vector>

#include "JExport.h"

class JModuleObj;

class J_EXPORT JClassRegistry {
 public:
  // Takes ownership of `prototype`. False, and the prototype is deleted, when
  // it is null or its class name is empty or already registered (the name is
  // then added to refusedNames()).
  static bool add(JModuleObj* prototype);
  // A new block of the class, owned by the caller; null when the class is
  // unknown or the clone fails.
  static JModuleObj* make(const std::string& className);
  static bool contains(const std::string& className);
  // Registered class names, in registration order.
  static std::vector<std::string> classNames();
  // Names whose registration was refused, in order of the attempts.
  static std::vector<std::string> refusedNames();
};
