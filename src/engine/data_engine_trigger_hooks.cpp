#include "engine/data_engine.h"
#include "engine/data_session.h"

namespace nexora {
namespace {

// Sets the session's callback flag for one hook call and clears it afterwards when it
// was clear before, whatever way the call ends.
class TCallbackScope {
public:
  explicit TCallbackScope(TDataSession &session) : session_(session), wasSet_(session.InCallback()) {
    session_.SetInCallback(true);
  }
  ~TCallbackScope() {
    if (!wasSet_) {
      session_.SetInCallback(false);
    }
  }
  TCallbackScope(const TCallbackScope &) = delete;
  TCallbackScope &operator=(const TCallbackScope &) = delete;

private:
  TDataSession &session_;
  bool wasSet_;
};

} // namespace

void TDataEngine::CallTriggerHook(TTriggerKind kind, TDataSession &session, std::uint8_t *imageA, std::uint8_t *imageB,
                                  std::int32_t recordNumber, TDataCursor *cursor, TDataDirectory *directory) {
  if (!hooks_.Trigger) {
    return;
  }
  TCallbackScope scope(session);
  hooks_.Trigger(kind, &session, imageA, imageB, recordNumber, cursor, directory);
}

TDataAction TDataEngine::CallErrorHook(TErrorHookKind kind, TDataSession &session, const std::exception &error,
                                       std::uint8_t *recordImage, std::int32_t recordNumber, TDataCursor *cursor,
                                       TDataDirectory *directory) {
  TDataAction action = TDataAction::daFail;
  if (!hooks_.Error) {
    return action;
  }
  TCallbackScope scope(session);
  hooks_.Error(kind, &session, action, error, recordImage, recordNumber, cursor, directory);
  return action;
}

} // namespace nexora
