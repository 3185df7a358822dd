// JComponent: the host's tool bar, to which a block class adds its maker
// button (JModuleObj::addButton, addModuleButton). A button is known here by
// its label, the class name of the block it makes.
//
// Owns its labels. Thread safety: host's thread only.
#pragma once

#include <string>
#include <vector>

#include "JExport.h"

class J_EXPORT JComponent {
 public:
  void addButton(const std::string& label) { buttons_.push_back(label); }
  const std::vector<std::string>& buttons() const { return buttons_; }

 private:
  std::vector<std::string> buttons_;
};
