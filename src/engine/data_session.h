#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/md5.h"
#include "engine/data_password.h"
#include "engine/error_context.h"
#include "engine/session_directory.h"

namespace nexora {

class TDataEngine;
class TDataSession;

// How cursors of a session lock records being edited: pessimistic locks the record when
// the edit begins; optimistic compares it with its stored digest then and locks it only
// when the change is written.
enum TLockProtocol : std::uint8_t { lpPessimistic = 0, lpOptimistic = 1 };

// Asked when no known password fits a table. The handler may add passwords to the
// session and sets tryAgain to true to make the engine try once more.
using TPasswordHook = std::function<void(TDataSession &session, bool &tryAgain)>;

// One independent local user of the engine: its settings, the table passwords it knows
// and its private directory. Created and owned by the engine (TDataEngine::CreateSession);
// requires the engine to outlive it.
//
// Passwords live in two lists: the active list, searched in the order entries were added,
// and the retired list of entries removed from it. Entries are freed only when the session
// is destroyed, since open tables may still use their cipher contexts; a pointer or a
// TBorrowedPassword taken from an entry stays valid until then.
//
// One thread uses a session at a time; the session lock keeps the password lists whole
// even so. The password hook is called without that lock, so it may add passwords.
// Raises only what the engine's CryptoInit raises, 10015 and 10498 (PasswordForNewTable)
// and std::bad_alloc.
class TDataSession {
public:
  static constexpr std::uint16_t MaxProgressSteps = 100;
  static constexpr std::size_t MaxTablePasswordLength = 128;

  // The defaults: no passwords, private directory the system's temporary-files directory,
  // 20 progress steps, pessimistic locking with 15 retries 100 ms apart, no forced flush,
  // no strict change detection.
  explicit TDataSession(TDataEngine &engine);
  // Frees the directories first (their tables may still use password contexts), then
  // every password entry.
  ~TDataSession();
  TDataSession(const TDataSession &) = delete;
  TDataSession &operator=(const TDataSession &) = delete;

  TDataEngine &Engine() const { return engine_; }

  // --- settings; each takes effect with the next operation
  bool ForceBufferFlush() const { return forceBufferFlush_; }
  void SetForceBufferFlush(bool value) { forceBufferFlush_ = value; }
  bool StrictChangeDetection() const { return strictChangeDetection_; }
  void SetStrictChangeDetection(bool value) { strictChangeDetection_ = value; }
  std::uint8_t LockRetryCount() const { return lockRetryCount_; }
  void SetLockRetryCount(std::uint8_t value) { lockRetryCount_ = value; }
  // Milliseconds between lock attempts.
  std::uint16_t LockWaitTime() const { return lockWaitTime_; }
  void SetLockWaitTime(std::uint16_t value) { lockWaitTime_ = value; }
  TLockProtocol LockProtocol() const { return lockProtocol_; }
  void SetLockProtocol(TLockProtocol value) { lockProtocol_ = value; }
  std::uint16_t ProgressSteps() const { return progressSteps_; }
  // Values above MaxProgressSteps are stored as MaxProgressSteps.
  void SetProgressSteps(std::uint16_t value);
  // Percent between progress reports: 100 div ProgressSteps, or 100 when it is 0.
  int ProgressStep() const;

  // Set while the engine runs a trigger or error hook on behalf of this session.
  bool InCallback() const { return inCallback_; }
  void SetInCallback(bool value) { inCallback_ = value; }

  // The private directory ending in "/"; the current directory when it was set empty.
  std::string GetPrivateDir() const;
  // Stores the path by DirectoryPathText (an empty path stays empty).
  void SetPrivateDir(std::string_view path);

  // --- passwords (texts compare exactly, letter case included)
  // Ignores an empty text and one already active; brings a retired entry with the text back
  // to the end of the active list, keeping its context; otherwise appends a new entry.
  void AddPassword(std::string_view text);
  // Retires the first active entry with the text; nothing when none has it.
  void RemovePassword(std::string_view text);
  void RemoveAllPasswords();
  bool HasPassword(std::string_view text) const;
  // The first active entry with the text, or null.
  const TDataPassword *FindPasswordByText(std::string_view text) const;
  // The first active entry, in the order they were added, that fits a table's 16 stored
  // check bytes, or null.
  const TDataPassword *FindPasswordForTable(const TDigest &storedCheck) const;

  // --- database directories (opened by the storage layer's OpenDirectory)
  // The path a directory of that database is kept under: for "Memory" (any case) the
  // given path by DirectoryPathText, possibly empty; otherwise the given path, or the
  // current directory when none is given, by DirectoryPathText.
  static std::string DirectoryPathFor(std::string_view databaseName, std::string_view path);
  // The open directory with that path (compared without regard to case) and, when
  // matchByName is set, that database name (trimmed, without regard to case); null when
  // none.
  TSessionDirectory *FindDirectory(std::string_view path, std::string_view databaseName, bool matchByName) const;
  // Takes ownership of a new directory; the caller adds the first reference.
  TSessionDirectory &AddDirectory(std::unique_ptr<TSessionDirectory> directory);
  // Drops one reference; at the last the directory is closed and freed. A directory that
  // is not this session's is left alone.
  void CloseDirectory(TSessionDirectory &directory);
  std::size_t DirectoryCount() const { return directories_.size(); }

  // --- password requests
  const TPasswordHook &PasswordHook() const { return passwordHook_; }
  void SetPasswordHook(TPasswordHook hook) { passwordHook_ = std::move(hook); }
  // Calls the hook with tryAgain false and returns what it left there; false without a hook.
  bool AskForPassword();
  // Opening an encrypted table: the fitting active entry, asking for passwords while the
  // hook asks to try again; null once it does not (the caller raises 10498).
  const TDataPassword *PasswordForTable(const TDigest &storedCheck);
  // Creating an encrypted table with a password: raises 10015 with the names when the
  // trimmed text is empty or longer than MaxTablePasswordLength; then the active entry with
  // the text, asking for passwords while there is none; raises 10498 with the names once
  // the hook does not ask to try again.
  const TDataPassword &PasswordForNewTable(std::string_view text, const TErrorNames &names);

private:
  using TPasswordList = std::vector<std::unique_ptr<TDataPassword>>;

  // Both require sessionLock_ to be held.
  TPasswordList::const_iterator FindActive(std::string_view text) const;
  void Retire(TPasswordList::const_iterator entry);

  TDataEngine &engine_;
  std::string privateDir_;
  std::uint16_t progressSteps_ = 20;
  bool forceBufferFlush_ = false;
  bool inCallback_ = false;
  bool strictChangeDetection_ = false;
  std::uint8_t lockRetryCount_ = 15;
  std::uint16_t lockWaitTime_ = 100;
  TLockProtocol lockProtocol_ = lpPessimistic;
  TPasswordHook passwordHook_;

  mutable std::mutex sessionLock_;
  TPasswordList activePasswords_;
  TPasswordList retiredPasswords_;
  std::vector<std::unique_ptr<TSessionDirectory>> directories_;
};

} // namespace nexora
