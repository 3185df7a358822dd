#include "JSvgText.h"

#include <fstream>

std::string JSvgText::escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += (static_cast<unsigned char>(c) < 0x20) ? ' ' : c;
    }
  }
  return out;
}

bool JSvgText::write(const std::string& path, const std::string& text, const char* what,
                     std::string* error) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (out) out << text;
  if (out) out.close();
  if (!out) {
    if (error != nullptr) *error = std::string("cannot write ") + what + " '" + path + "'";
    return false;
  }
  return true;
}
