#include "storage/engine_file_copy_stream.h"

#include "storage/engine_file.h"

namespace nexora {

TEngineFileCopyStream::TEngineFileCopyStream(TEngineFile &file) : file_(file) {
  TEngineFileIO io(file_);
  position_ = file_.Seek(1, 0);
}

std::int32_t TEngineFileCopyStream::Read(void *buffer, std::int32_t count) {
  TEngineFileIO io(file_);
  if (file_.Seek(0, position_) != position_) {
    file_.RaiseError(NEXORA_READERR);
  }
  const std::int32_t read = file_.ReadBuffer(buffer, count, true);
  position_ += read;
  return read;
}

void TEngineFileCopyStream::Write(const void *buffer, std::int32_t count) {
  if (count == 0) {
    return;
  }
  TEngineFileIO io(file_);
  if (file_.Seek(0, position_) != position_) {
    file_.RaiseError(NEXORA_WRITEERR);
  }
  file_.WriteBuffer(buffer, count);
  position_ += count;
}

std::int64_t TEngineFileCopyStream::Size() {
  TEngineFileIO io(file_);
  return file_.GetFileSize();
}

std::string TEngineFileCopyStream::FileName() const { return file_.Name(); }

} // namespace nexora
