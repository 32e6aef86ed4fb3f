#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "crypto/md5.h"
#include "engine/data_engine.h"
#include "engine/data_session.h"
#include "engine/engine_error.h"
#include "engine/session_paths.h"

namespace nexora {
namespace {

// A session of a private engine; the engine frees it.
class DataSession : public ::testing::Test {
protected:
  // The 16 bytes a table encrypted with the password stores, made without the session.
  TDigest CheckFor(const std::string &password) {
    const TDigest digest = DigestText(password);
    TCryptoContext context = engine_.CryptoInit(digest.data(), static_cast<std::int32_t>(digest.size()));
    TDigest check = digest;
    engine_.EncryptBuffer(context.Data, check.data(), static_cast<std::int32_t>(check.size()));
    FreeCryptoContext(context);
    return check;
  }

  TErrorCode RaisedBy(const std::string &password) {
    try {
      session_.PasswordForNewTable(password, {.DatabaseName = "/data", .TableName = "orders"});
    } catch (const ENEXORAEngineError &error) {
      EXPECT_EQ(engine_.ErrorContext().Names.TableName, "orders");
      return error.ErrorCode();
    }
    return NEXORA_NONE;
  }

  TDataEngine engine_;
  TDataSession &session_ = engine_.CreateSession();
};

TEST_F(DataSession, FreshSessionHasTheDefaults) {
  EXPECT_EQ(session_.LockRetryCount(), 15);
  EXPECT_EQ(session_.LockWaitTime(), 100);
  EXPECT_EQ(session_.LockProtocol(), lpPessimistic);
  EXPECT_EQ(session_.ProgressSteps(), 20);
  EXPECT_FALSE(session_.ForceBufferFlush());
  EXPECT_FALSE(session_.StrictChangeDetection());
  EXPECT_EQ(session_.GetPrivateDir(), DirectoryPathText(std::filesystem::temp_directory_path().string()));
  EXPECT_EQ(session_.GetPrivateDir().back(), '/');
  EXPECT_FALSE(session_.AskForPassword());
}

TEST_F(DataSession, ProgressStepIsHundredDividedBySteps) {
  struct Case {
    std::uint16_t steps;
    std::uint16_t storedSteps;
    int step;
  };
  for (const Case &c : {Case{20, 20, 5}, Case{0, 0, 100}, Case{3, 3, 33}, Case{1, 1, 100}, Case{100, 100, 1},
                        Case{101, 100, 1}, Case{65535, 100, 1}}) {
    session_.SetProgressSteps(c.steps);
    EXPECT_EQ(session_.ProgressSteps(), c.storedSteps) << c.steps;
    EXPECT_EQ(session_.ProgressStep(), c.step) << c.steps;
  }
}

TEST_F(DataSession, PrivateDirIsTrimmedAndEndsInASeparator) {
  struct Case {
    const char *path;
    const char *stored;
  };
  for (const Case &c : {Case{"/data/private", "/data/private/"}, Case{"  /data/private/ \t", "/data/private/"},
                        Case{"\\data\\private", "/data/private/"}, Case{"/", "/"}}) {
    session_.SetPrivateDir(c.path);
    EXPECT_EQ(session_.GetPrivateDir(), c.stored) << c.path;
  }
}

TEST_F(DataSession, EmptyPrivateDirMeansTheCurrentDirectory) {
  for (const char *path : {"", "   "}) {
    session_.SetPrivateDir(path);
    EXPECT_EQ(session_.GetPrivateDir(), std::filesystem::current_path().string() + "/") << '"' << path << '"';
  }
}

TEST_F(DataSession, PasswordsCompareExactly) {
  session_.AddPassword("Secret");
  session_.AddPassword("secret");
  session_.AddPassword("");
  const TDataPassword *upper = session_.FindPasswordByText("Secret");
  const TDataPassword *lower = session_.FindPasswordByText("secret");
  ASSERT_NE(upper, nullptr);
  ASSERT_NE(lower, nullptr);
  EXPECT_NE(upper, lower);
  EXPECT_EQ(upper->Digest(), DigestText("Secret"));
  EXPECT_EQ(lower->Text(), "secret");
  for (const char *absent : {"", "SECRET", "Secret ", " secret"}) {
    EXPECT_FALSE(session_.HasPassword(absent)) << '"' << absent << '"';
  }
}

TEST_F(DataSession, AddingTwiceKeepsOneEntry) {
  session_.AddPassword("secret");
  const TDataPassword *first = session_.FindPasswordByText("secret");
  session_.AddPassword("secret");
  EXPECT_EQ(session_.FindPasswordByText("secret"), first);
  session_.RemovePassword("secret");
  EXPECT_FALSE(session_.HasPassword("secret"));
}

TEST_F(DataSession, RemovedPasswordComesBackWithItsContext) {
  session_.AddPassword("alpha");
  session_.AddPassword("beta");
  const TDataPassword *alpha = session_.FindPasswordByText("alpha");
  const TDataPassword *beta = session_.FindPasswordByText("beta");
  void *alphaContext = alpha->Context();

  session_.RemovePassword("alpha");
  session_.RemovePassword("missing");
  EXPECT_FALSE(session_.HasPassword("alpha"));
  EXPECT_TRUE(session_.HasPassword("beta"));
  session_.AddPassword("alpha");
  EXPECT_EQ(session_.FindPasswordByText("alpha"), alpha);
  EXPECT_EQ(alpha->Context(), alphaContext);

  session_.RemoveAllPasswords();
  EXPECT_FALSE(session_.HasPassword("alpha"));
  EXPECT_FALSE(session_.HasPassword("beta"));
  session_.AddPassword("beta");
  EXPECT_EQ(session_.FindPasswordByText("beta"), beta);
}

TEST_F(DataSession, TableOpensWithTheFittingPasswordWhereverItStands) {
  const TDigest check = CheckFor("right");
  session_.AddPassword("wrong");
  session_.AddPassword("Right");
  EXPECT_EQ(session_.FindPasswordForTable(check), nullptr);
  session_.AddPassword("right");
  session_.AddPassword("later");
  const TDataPassword *found = session_.FindPasswordForTable(check);
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->Text(), "right");
  EXPECT_EQ(found, session_.FindPasswordByText("right"));
}

TEST_F(DataSession, RetiredPasswordsDoNotOpenTablesUntilAddedAgain) {
  const TDigest check = CheckFor("right");
  session_.AddPassword("right");
  session_.RemovePassword("right");
  EXPECT_EQ(session_.FindPasswordForTable(check), nullptr);
  session_.AddPassword("right");
  EXPECT_NE(session_.FindPasswordForTable(check), nullptr);
  session_.RemoveAllPasswords();
  EXPECT_EQ(session_.FindPasswordForTable(check), nullptr);
}

TEST_F(DataSession, BorrowedPasswordSharesTheEntrysKey) {
  session_.AddPassword("right");
  const TDataPassword *entry = session_.FindPasswordByText("right");
  const TBorrowedPassword borrowed = entry->Borrow();
  EXPECT_EQ(borrowed.Text, "right");
  EXPECT_EQ(borrowed.Digest, DigestText("right"));
  EXPECT_EQ(borrowed.Context, entry->Context());

  // A record enciphered with a key made apart from the session reads back with the borrowed one.
  const TDigest digest = DigestText("right");
  TCryptoContext own = engine_.CryptoInit(digest.data(), static_cast<std::int32_t>(digest.size()));
  std::vector<std::uint8_t> record(24);
  for (std::size_t i = 0; i < record.size(); ++i) {
    record[i] = static_cast<std::uint8_t>(i * 11 + 1);
  }
  std::vector<std::uint8_t> cipher = record;
  engine_.EncryptBuffer(own.Data, cipher.data(), static_cast<std::int32_t>(cipher.size()));
  FreeCryptoContext(own);
  engine_.DecryptBuffer(borrowed.Context, cipher.data(), static_cast<std::int32_t>(cipher.size()));
  EXPECT_EQ(cipher, record);
}

TEST_F(DataSession, HookIsAskedUntilAPasswordFits) {
  const TDigest check = CheckFor("right");
  int calls = 0;
  session_.SetPasswordHook([&](TDataSession &session, bool &tryAgain) {
    EXPECT_EQ(&session, &session_);
    EXPECT_FALSE(tryAgain);
    ++calls;
    session.AddPassword(calls == 1 ? "wrong" : "right");
    tryAgain = true;
  });
  const TDataPassword *found = session_.PasswordForTable(check);
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->Text(), "right");
  EXPECT_EQ(calls, 2);
}

TEST_F(DataSession, HookGivingUpLeavesTheTableClosed) {
  int calls = 0;
  session_.SetPasswordHook([&](TDataSession &session, bool &) {
    ++calls;
    session.AddPassword("wrong");
  });
  EXPECT_EQ(session_.PasswordForTable(CheckFor("right")), nullptr);
  EXPECT_EQ(calls, 1);
  EXPECT_TRUE(session_.HasPassword("wrong"));
}

TEST_F(DataSession, NoPasswordAndNoHookLeavesTheTableClosed) {
  EXPECT_EQ(session_.PasswordForTable(CheckFor("right")), nullptr);
}

TEST_F(DataSession, NewTablePasswordMustBeGivenAndShort) {
  session_.AddPassword(std::string(129, 'x'));
  session_.AddPassword(" ");
  for (const std::string &password : {std::string(), std::string(" \t "), std::string(129, 'x')}) {
    EXPECT_EQ(RaisedBy(password), NEXORA_INVALIDPASSWORD) << password.size();
  }
}

TEST_F(DataSession, NewTableNeedsTheSessionToKnowThePassword) {
  EXPECT_EQ(RaisedBy("right"), NEXORA_NOTSUFFTABLERIGHTS);
  session_.AddPassword(std::string(128, 'y'));
  EXPECT_EQ(RaisedBy(std::string(128, 'y')), NEXORA_NONE);
  session_.SetPasswordHook([](TDataSession &session, bool &tryAgain) {
    session.AddPassword("right");
    tryAgain = true;
  });
  const TDataPassword &entry = session_.PasswordForNewTable("right", {});
  EXPECT_EQ(entry.Text(), "right");
  EXPECT_EQ(entry.MakeCheck(), CheckFor("right"));
  EXPECT_EQ(session_.FindPasswordForTable(entry.MakeCheck()), &entry);
}

TEST(SessionRegistry, ThreadsCreatingAtOnceGetDistinctSessions) {
  constexpr int PerThread = 64;
  TDataEngine engine;
  std::vector<TDataSession *> created[2];
  std::vector<std::thread> threads;
  for (auto &list : created) {
    threads.emplace_back([&engine, &list] {
      for (int i = 0; i < PerThread; ++i) {
        list.push_back(&engine.CreateSession());
        list.back()->AddPassword("p" + std::to_string(i));
      }
    });
  }
  for (std::thread &thread : threads) {
    thread.join();
  }
  std::set<TDataSession *> distinct(created[0].begin(), created[0].end());
  distinct.insert(created[1].begin(), created[1].end());
  EXPECT_EQ(distinct.size(), 2u * PerThread);
  EXPECT_EQ(engine.SessionCount(), 2u * PerThread);

  // Both threads free their own half at once; what is left goes with the engine.
  threads.clear();
  for (auto &list : created) {
    threads.emplace_back([&engine, &list] {
      for (int i = 0; i < PerThread / 2; ++i) {
        engine.FreeSession(list[static_cast<std::size_t>(i)]);
      }
    });
  }
  for (std::thread &thread : threads) {
    thread.join();
  }
  EXPECT_EQ(engine.SessionCount(), static_cast<std::size_t>(PerThread));
  EXPECT_TRUE(created[1].back()->HasPassword("p" + std::to_string(PerThread - 1)));
}

TEST(SessionRegistry, FreeingAnUnregisteredSessionDoesNothing) {
  TDataEngine engine;
  TDataEngine other;
  TDataSession &mine = engine.CreateSession();
  TDataSession &foreign = other.CreateSession();
  engine.FreeSession(nullptr);
  engine.FreeSession(&foreign);
  EXPECT_EQ(engine.SessionCount(), 1u);
  EXPECT_EQ(other.SessionCount(), 1u);
  foreign.AddPassword("still usable");
  EXPECT_TRUE(foreign.HasPassword("still usable"));

  engine.FreeSession(&mine);
  EXPECT_EQ(engine.SessionCount(), 0u);
  engine.FreeSession(&mine);
  EXPECT_EQ(engine.SessionCount(), 0u);
}

} // namespace
} // namespace nexora

namespace nexora {
namespace {

// The trigger and error hooks run with the session's callback flag set, which is
// cleared afterwards unless it was already set, also when a hook raises.
TEST(EngineTriggerHooks, RunWithTheCallbackFlagAndRestoreIt) {
  TDataEngine engine;
  TDataSession &session = engine.CreateSession();
  std::vector<bool> seen;
  engine.CallTriggerHook(TTriggerKind::BeforeInsert, session, nullptr, nullptr, -1, nullptr, nullptr);
  EXPECT_EQ(
      engine.CallErrorHook(TErrorHookKind::Insert, session, std::runtime_error("x"), nullptr, -1, nullptr, nullptr),
      TDataAction::daFail)
      << "no error hook: the error propagates";

  engine.Hooks().Trigger = [&](TTriggerKind kind, TDataSession *hooked, std::uint8_t *, std::uint8_t *,
                               std::int32_t recordNumber, TDataCursor *, TDataDirectory *) {
    seen.push_back(hooked->InCallback());
    EXPECT_EQ(hooked, &session);
    if (kind == TTriggerKind::AfterDelete) {
      throw std::runtime_error("handler failed on " + std::to_string(recordNumber));
    }
  };
  engine.Hooks().Error = [&](TErrorHookKind kind, TDataSession *hooked, TDataAction &action,
                             const std::exception &error, std::uint8_t *, std::int32_t, TDataCursor *,
                             TDataDirectory *) {
    seen.push_back(hooked->InCallback());
    EXPECT_EQ(kind, TErrorHookKind::Update);
    EXPECT_STREQ(error.what(), "key violation");
    action = TDataAction::daRetry;
  };

  engine.CallTriggerHook(TTriggerKind::BeforeInsert, session, nullptr, nullptr, -1, nullptr, nullptr);
  EXPECT_FALSE(session.InCallback());
  EXPECT_THROW(engine.CallTriggerHook(TTriggerKind::AfterDelete, session, nullptr, nullptr, 7, nullptr, nullptr),
               std::runtime_error);
  EXPECT_FALSE(session.InCallback()) << "cleared also when the hook raises";
  EXPECT_EQ(engine.CallErrorHook(TErrorHookKind::Update, session, std::runtime_error("key violation"), nullptr, 3,
                                 nullptr, nullptr),
            TDataAction::daRetry);
  session.SetInCallback(true);
  engine.CallTriggerHook(TTriggerKind::AfterInsert, session, nullptr, nullptr, 3, nullptr, nullptr);
  EXPECT_TRUE(session.InCallback()) << "a flag set before the call stays set";
  EXPECT_EQ(seen, (std::vector<bool>{true, true, true, true}));
}

} // namespace
} // namespace nexora
