#include "engine/session_paths.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "support/short_text.h"

namespace nexora {

std::string DirectoryPathText(std::string_view path) {
  std::string text = TrimText(path);
  std::replace(text.begin(), text.end(), '\\', '/');
  if (!text.empty() && text.back() != '/') {
    text.push_back('/');
  }
  return text;
}

std::string TemporaryFilesDirectory() {
  std::error_code error;
  const std::filesystem::path path = std::filesystem::temp_directory_path(error);
  const std::string text = error ? std::string() : DirectoryPathText(path.string());
  return text.empty() ? "/tmp/" : text;
}

std::string CurrentDirectory() {
  std::error_code error;
  const std::filesystem::path path = std::filesystem::current_path(error);
  const std::string text = error ? std::string() : DirectoryPathText(path.string());
  return text.empty() ? "./" : text;
}

} // namespace nexora
