#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/engine_error.h"
#include "test_support/raised_code.h"

namespace nexora::testing {

using TBytes = std::vector<std::uint8_t>;

// A directory made by mkdtemp and removed with everything in it.
class TTempDir {
public:
  TTempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "nexora-files-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
      throw std::runtime_error("mkdtemp failed");
    }
    path_ = pattern;
  }
  ~TTempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TTempDir(const TTempDir &) = delete;
  TTempDir &operator=(const TTempDir &) = delete;

  std::string File(const std::string &name) const { return (path_ / name).string(); }

private:
  std::filesystem::path path_;
};

inline void WriteBytes(const std::string &path, const TBytes &bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline TBytes ReadBytes(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return TBytes(std::istreambuf_iterator<char>(in), {});
}

inline TBytes Filled(std::size_t length, std::uint8_t value) { return TBytes(length, value); }

// A forked child that runs body and exits with its result (0 to 255). Parent and child
// step each other through two pipes: one side Signal()s, the other Wait()s.
class TChildProcess {
public:
  explicit TChildProcess(const std::function<int(TChildProcess &)> &body) {
    if (::pipe(toChild_) != 0 || ::pipe(toParent_) != 0) {
      throw std::runtime_error("pipe failed");
    }
    pid_ = ::fork();
    if (pid_ < 0) {
      throw std::runtime_error("fork failed");
    }
    if (pid_ == 0) {
      inChild_ = true;
      ::close(toChild_[1]);
      ::close(toParent_[0]);
      int result = 250;
      try {
        result = body(*this);
      } catch (...) {
        result = 251;
      }
      ::_exit(result);
    }
    ::close(toChild_[0]);
    ::close(toParent_[1]);
  }
  ~TChildProcess() {
    if (!inChild_ && pid_ > 0 && !joined_) {
      Join();
    }
  }
  TChildProcess(const TChildProcess &) = delete;
  TChildProcess &operator=(const TChildProcess &) = delete;

  // Tells the other side to go on.
  void Signal() {
    const char byte = 1;
    if (::write(inChild_ ? toParent_[1] : toChild_[1], &byte, 1) != 1) {
      throw std::runtime_error("signal failed");
    }
  }
  // Blocks until the other side signals; false when it has gone.
  bool Wait() {
    char byte = 0;
    return ::read(inChild_ ? toChild_[0] : toParent_[0], &byte, 1) == 1;
  }
  // The child's exit code (parent only); -1 when it did not exit normally.
  int Join() {
    ::close(toChild_[1]);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    ::close(toParent_[0]);
    joined_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

private:
  int toChild_[2]{-1, -1};
  int toParent_[2]{-1, -1};
  pid_t pid_ = -1;
  bool inChild_ = false;
  bool joined_ = false;
};

} // namespace nexora::testing
