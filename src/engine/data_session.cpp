#include "engine/data_session.h"

#include <algorithm>

#include "engine/data_engine.h"
#include "engine/session_paths.h"
#include "support/short_text.h"

namespace nexora {

TDataSession::TDataSession(TDataEngine &engine) : engine_(engine), privateDir_(TemporaryFilesDirectory()) {}

TDataSession::~TDataSession() {
  while (!directories_.empty()) {
    directories_.pop_back();
  }
}

std::string TDataSession::DirectoryPathFor(std::string_view databaseName, std::string_view path) {
  const std::string given = DirectoryPathText(path);
  if (TSessionDirectory::IsMemoryDatabaseName(databaseName) || !given.empty()) {
    return given;
  }
  return CurrentDirectory();
}

TSessionDirectory *TDataSession::FindDirectory(std::string_view path, std::string_view databaseName,
                                               bool matchByName) const {
  const std::string wantedPath = DirectoryPathText(path);
  for (const auto &directory : directories_) {
    if (SameText(directory->Path(), wantedPath) &&
        (!matchByName || SameText(TrimText(directory->DatabaseName()), TrimText(databaseName)))) {
      return directory.get();
    }
  }
  return nullptr;
}

TSessionDirectory &TDataSession::AddDirectory(std::unique_ptr<TSessionDirectory> directory) {
  return *directories_.emplace_back(std::move(directory));
}

void TDataSession::CloseDirectory(TSessionDirectory &directory) {
  const auto entry = std::find_if(directories_.begin(), directories_.end(),
                                  [&](const auto &owned) { return owned.get() == &directory; });
  if (entry == directories_.end() || directory.DropReference() > 0) {
    return;
  }
  // Destroyed after leaving the list, so that the directory's own closing never finds it.
  std::unique_ptr<TSessionDirectory> closed = std::move(*entry);
  directories_.erase(entry);
}

void TDataSession::SetProgressSteps(std::uint16_t value) { progressSteps_ = std::min(value, MaxProgressSteps); }

int TDataSession::ProgressStep() const { return progressSteps_ == 0 ? 100 : 100 / progressSteps_; }

std::string TDataSession::GetPrivateDir() const { return privateDir_.empty() ? CurrentDirectory() : privateDir_; }

void TDataSession::SetPrivateDir(std::string_view path) { privateDir_ = DirectoryPathText(path); }

TDataSession::TPasswordList::const_iterator TDataSession::FindActive(std::string_view text) const {
  return std::find_if(activePasswords_.begin(), activePasswords_.end(),
                      [&](const auto &entry) { return entry->Text() == text; });
}

void TDataSession::Retire(TPasswordList::const_iterator entry) {
  retiredPasswords_.push_back(std::move(activePasswords_[entry - activePasswords_.begin()]));
  activePasswords_.erase(entry);
}

void TDataSession::AddPassword(std::string_view text) {
  std::lock_guard lock(sessionLock_);
  if (text.empty() || FindActive(text) != activePasswords_.end()) {
    return;
  }
  const auto retired = std::find_if(retiredPasswords_.begin(), retiredPasswords_.end(),
                                    [&](const auto &entry) { return entry->Text() == text; });
  if (retired != retiredPasswords_.end()) {
    activePasswords_.push_back(std::move(*retired));
    retiredPasswords_.erase(retired);
    return;
  }
  activePasswords_.push_back(std::make_unique<TDataPassword>(engine_, text));
}

void TDataSession::RemovePassword(std::string_view text) {
  std::lock_guard lock(sessionLock_);
  const auto entry = FindActive(text);
  if (entry != activePasswords_.end()) {
    Retire(entry);
  }
}

void TDataSession::RemoveAllPasswords() {
  std::lock_guard lock(sessionLock_);
  while (!activePasswords_.empty()) {
    Retire(activePasswords_.begin());
  }
}

bool TDataSession::HasPassword(std::string_view text) const { return FindPasswordByText(text) != nullptr; }

const TDataPassword *TDataSession::FindPasswordByText(std::string_view text) const {
  std::lock_guard lock(sessionLock_);
  const auto entry = FindActive(text);
  return entry == activePasswords_.end() ? nullptr : entry->get();
}

const TDataPassword *TDataSession::FindPasswordForTable(const TDigest &storedCheck) const {
  std::lock_guard lock(sessionLock_);
  for (const auto &entry : activePasswords_) {
    if (entry->Fits(storedCheck)) {
      return entry.get();
    }
  }
  return nullptr;
}

bool TDataSession::AskForPassword() {
  bool tryAgain = false;
  if (passwordHook_) {
    passwordHook_(*this, tryAgain);
  }
  return tryAgain;
}

const TDataPassword *TDataSession::PasswordForTable(const TDigest &storedCheck) {
  for (;;) {
    if (const TDataPassword *entry = FindPasswordForTable(storedCheck)) {
      return entry;
    }
    if (!AskForPassword()) {
      return nullptr;
    }
  }
}

const TDataPassword &TDataSession::PasswordForNewTable(std::string_view text, const TErrorNames &names) {
  if (TrimText(text).empty() || text.size() > MaxTablePasswordLength) {
    engine_.RaiseError(NEXORA_INVALIDPASSWORD, names);
  }
  for (;;) {
    if (const TDataPassword *entry = FindPasswordByText(text)) {
      return *entry;
    }
    if (!AskForPassword()) {
      engine_.RaiseError(NEXORA_NOTSUFFTABLERIGHTS, names);
    }
  }
}

} // namespace nexora
