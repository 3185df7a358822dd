#include "tests/support/temp_dir.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace kw_test {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "kwtest-XXXXXX").string();
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = buffer.data();
}

TempDir::~TempDir() {
  std::error_code ignored;
  if (entered_) std::filesystem::current_path(previous_, ignored);
  std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::write(const std::string& name, const std::string& text) const {
  const std::string target = file(name);
  std::ofstream out(target, std::ios::binary);
  out << text;
  return target;
}

void TempDir::enter() {
  if (!entered_) previous_ = std::filesystem::current_path();
  std::filesystem::current_path(path_);
  entered_ = true;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

}  // namespace kw_test
