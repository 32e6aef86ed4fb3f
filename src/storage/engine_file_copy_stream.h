#pragma once

#include <cstdint>
#include <string>

#include "engine/copy_stream.h"

namespace nexora {

class TEngineFile;

// An open TEngineFile as the stream of the engine's compressed-copy routines (backup and
// restore of table files). Keeps its own position, starting at the file's position when
// made; each transfer seeks and moves under the file's I/O lock. Failures raise the
// file's engine errors (9217, 9218). Same thread rules as the file; requires the file to
// stay open while the stream is used.
class TEngineFileCopyStream : public TCopyStream {
public:
  explicit TEngineFileCopyStream(TEngineFile &file);

  std::int32_t Read(void *buffer, std::int32_t count) override;
  // A write of 0 bytes moves nothing (it does not truncate).
  void Write(const void *buffer, std::int32_t count) override;
  std::int64_t Position() override { return position_; }
  void Seek(std::int64_t position) override { position_ = position; }
  std::int64_t Size() override;
  std::string FileName() const override;

private:
  TEngineFile &file_;
  std::int64_t position_;
};

} // namespace nexora
