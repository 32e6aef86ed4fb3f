#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <stdexcept>
#include <string>

#include "engine/copy_stream.h"

namespace nexora {

// A real file as a copy stream for the tests: positioned reads and writes on a descriptor.
class TPosixCopyStream : public TCopyStream {
public:
  TPosixCopyStream(std::string path, bool create) : path_(std::move(path)) {
    fd_ = ::open(path_.c_str(), create ? (O_RDWR | O_CREAT | O_TRUNC) : O_RDWR, 0644);
    if (fd_ < 0) {
      throw std::runtime_error("cannot open " + path_);
    }
  }
  ~TPosixCopyStream() override { ::close(fd_); }
  TPosixCopyStream(const TPosixCopyStream &) = delete;
  TPosixCopyStream &operator=(const TPosixCopyStream &) = delete;

  std::int32_t Read(void *buffer, std::int32_t count) override {
    const ssize_t read = ::pread(fd_, buffer, static_cast<std::size_t>(count), position_);
    if (read < 0) {
      throw std::runtime_error("read failed");
    }
    position_ += read;
    return static_cast<std::int32_t>(read);
  }
  void Write(const void *buffer, std::int32_t count) override {
    if (::pwrite(fd_, buffer, static_cast<std::size_t>(count), position_) != count) {
      throw std::runtime_error("write failed");
    }
    position_ += count;
  }
  std::int64_t Position() override { return position_; }
  void Seek(std::int64_t position) override { position_ = position; }
  std::int64_t Size() override {
    struct stat status {};
    ::fstat(fd_, &status);
    return status.st_size;
  }
  std::string FileName() const override { return path_; }

private:
  std::string path_;
  int fd_ = -1;
  std::int64_t position_ = 0;
};

} // namespace nexora
