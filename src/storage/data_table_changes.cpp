#include "engine/data_session.h"
#include "storage/data_table.h"

namespace nexora {

bool TDataTable::WriteFileChanges(TBufferedFile &file, bool forceHeader, bool forceFlush, bool trim) {
  const bool buffersWritten = file.FlushBuffers(false);
  const bool headerWritten = file.WriteHeader(forceHeader || buffersWritten);
  bool definitionsWritten = false;
  if (&file == &dataFile_) {
    definitionsWritten = dataFile_.DefinitionsChanged();
    dataFile_.WriteFieldDefs();
  } else if (&file == &indexFile_) {
    definitionsWritten = indexFile_.WriteIndexDefs(false);
  }
  if ((buffersWritten || headerWritten || definitionsWritten) && (forceFlush || ForceFlush())) {
    file.FlushFile();
  }
  if (trim) {
    file.TrimBuffers();
  }
  return headerWritten;
}

void TDataTable::WriteChanges(bool trim, bool forceData, bool forceFlush, bool forceBlob, bool forceIndex) {
  if (mode_.ReadOnly) {
    return;
  }
  const bool blobOpen = HasBlobFields() && blobFile_.IsOpen();
  if (inTransaction_) {
    if (forceData) {
      dataFile_.TouchHeader();
    }
    if (forceIndex) {
      indexFile_.TouchHeader();
    }
    if (forceBlob && blobOpen) {
      blobFile_.TouchHeader();
    }
    return;
  }
  const bool dataHeaderWritten = WriteFileChanges(dataFile_, forceData, forceFlush, trim);
  bool otherHeaderWritten = WriteFileChanges(indexFile_, forceIndex, forceFlush, trim);
  if (blobOpen) {
    otherHeaderWritten = WriteFileChanges(blobFile_, forceBlob, forceFlush, trim) || otherHeaderWritten;
  }
  // Other processes watch only the data file's counter: it moves with every change.
  if (!dataHeaderWritten && otherHeaderWritten) {
    dataFile_.WriteHeader(true);
    if (forceFlush || ForceFlush()) {
      dataFile_.FlushFile();
    }
  }
}

void TDataTable::DiscardChanges(bool trim, bool rereadHeaders, bool rereadIndexDefs) {
  const bool blobOpen = blobFile_.IsOpen();
  for (TBufferedFile *file : {static_cast<TBufferedFile *>(&dataFile_), static_cast<TBufferedFile *>(&indexFile_),
                              static_cast<TBufferedFile *>(&blobFile_)}) {
    if (!file->IsOpen()) {
      continue;
    }
    file->FreeBuffers();
    if (trim) {
      file->TrimBuffers();
    }
  }
  if (rereadHeaders) {
    dataFile_.ReadHeader();
    indexFile_.ReadHeader();
    if (blobOpen) {
      blobFile_.ReadHeader();
    }
  }
  if (rereadIndexDefs) {
    indexFile_.ReadIndexDefs();
  }
}

bool TDataTable::CheckFilesChanged() {
  if (!dataFile_.ReloadHeader()) {
    return false;
  }
  dataFile_.FreeBuffers();
  indexFile_.ReadHeader();
  indexFile_.FreeBuffers();
  if (HasBlobFields() && blobFile_.IsOpen()) {
    blobFile_.ReadHeader();
    blobFile_.FreeBuffers();
  }
  return true;
}

void TDataTable::FlushToDisk() {
  if (mode_.ReadOnly || ForceFlush()) {
    return;
  }
  for (TEngineFile *file : {static_cast<TEngineFile *>(&dataFile_), static_cast<TEngineFile *>(&indexFile_),
                            static_cast<TEngineFile *>(&blobFile_)}) {
    if (file->IsOpen()) {
      file->FlushFile();
    }
  }
}

} // namespace nexora
