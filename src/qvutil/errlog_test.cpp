// The error log: start-up defaults, the exact entry texts, rotation at the
// size limit under the mutex, the backup cascade, ErrorLogDelete, and the
// retry and lost-entry notes after failed opens.
#include "qvutil/errlog.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "qvutil/qvutil_test_util.h"

namespace {

using qvutil_testing::kBanner;
using qvutil_testing::LogDirTest;
using qvutil_testing::Untimed;

class ErrorLog : public LogDirTest {
 protected:
  void Settings(int max_size, int backups) {
    tmp.Write("qvoptcfg.cfg", "[General]\r\nErrLogMaxSize=" + std::to_string(max_size) +
                                  "\r\nErrLogBackups=" + std::to_string(backups) + "\r\n");
  }
  // The files beside the log, less the rotation lock that POSIX keeps there.
  std::set<std::string> Files() const {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(tmp.Path(""))) {
      std::string name = e.path().filename().string();
      if (!name.ends_with(".lock")) names.insert(name);
    }
    return names;
  }
};

TEST_F(ErrorLog, FirstEntryWritesDefaultSettingsAndTheBanner) {
  EXPECT_EQ(ErrorLogError("qvdf\\dopen", 12, 3, 7), 7);
  EXPECT_EQ(Options(), "[General]\r\nErrLogMaxSize=500000\r\nErrLogBackups=0\r\n");
  EXPECT_EQ(Untimed(Log()), kBanner + "<T>: Error 3.7 at qvdf\\dopen line 12\r\n");
  EXPECT_EQ(ErrorLogErrorS("qvdf\\create", 4, "/tmp/x.itb", 8), 8);
  EXPECT_EQ(Untimed(Log()), kBanner + "<T>: Error 3.7 at qvdf\\dopen line 12\r\n" +
                                "<T>: Error /tmp/x.itb.8 at qvdf\\create line 4\r\n");
  EXPECT_EQ(ErrorLogGetPath(), tmp.Path("ZmTrace.log"));
}

TEST_F(ErrorLog, EveryEntryHasItsExactText) {
  const ErrorLogEntries& t = ErrorLogTable();
  const std::string long_text(200, 't'), long_src(300, 's');
  EXPECT_EQ(t.Error_L("m", 1, 255, -2), -2);
  // %lx of -2: long has 32 bits on Windows, 64 on LP64 systems.
  const std::string kMinus2 = sizeof(long) == 4 ? "fffffffe" : "fffffffffffffffe";
  EXPECT_EQ(t.Error_S(long_src.c_str(), 2, long_text.c_str(), 5), 5);
  EXPECT_EQ(t.Error_SL("m", 3, "text", 123456789L, -9), -9);
  EXPECT_EQ(t.Trace0(std::string(600, 'z').c_str()), 0);
  EXPECT_EQ(t.Trace00("plain"), 0);
  EXPECT_EQ(t.Trace1("qvdf\\x", 44, "traced"), 0);
  EXPECT_EQ(Untimed(Log()),
            kBanner + "<T>: Error 0xff.255.0x" + kMinus2 + ".-2 at m line 1\r\n" + "<T>: Error " +
                std::string(150, 't') + ".5 at " + std::string(256, 's') + " line 2\r\n" +
                "<T>: Error text.123456789.-9 at m line 3\r\n" + "<t>: " + std::string(490, 'z') +
                "\r\n" + "plain\r\n" + "<t>: traced at qvdf\\x line 44\r\n");

  EXPECT_EQ(t.BackupLogFile(), 0);
  t.SetProfileID("p");
  EXPECT_STREQ(t.GetProfileID(), "");
  t.SetLogFileName("Other.log");
  EXPECT_EQ(std::string(t.GetLogFilePath()), tmp.Path("Other.log"));
  EXPECT_EQ(ErrorLogTrace00("x"), 0);
  EXPECT_EQ(Untimed(tmp.Read("Other.log")), kBanner + "x\r\n");
  t.SetLogFilePath(tmp.Path("Third.log").c_str());
  EXPECT_EQ(ErrorLogGetPath(), tmp.Path("Third.log"));
}

TEST_F(ErrorLog, RotatesWhenTheLogReachesTheLimit) {
  Settings(200, 2);
  tmp.Write("ZmTrace.log", std::string(199, 'a'));
  ErrorLogTrace00("below");  // 199 < 200: appended, no banner
  EXPECT_EQ(Log(), std::string(199, 'a') + "below\r\n");
  EXPECT_FALSE(tmp.Exists("ZmTrace.bk0"));
  ErrorLogTrace00("after");  // now past the limit: rotated first
  EXPECT_EQ(tmp.Read("ZmTrace.bk0"), std::string(199, 'a') + "below\r\n");
  EXPECT_EQ(Untimed(Log()), kBanner + "after\r\n");

  tmp.Write("ZmTrace.log", std::string(200, 'b'));  // exactly at the limit
  ErrorLogTrace00("again");
  EXPECT_EQ(tmp.Read("ZmTrace.bk0"), std::string(200, 'b'));
  EXPECT_EQ(tmp.Read("ZmTrace.bk1"), std::string(199, 'a') + "below\r\n");
  EXPECT_EQ(Untimed(Log()), kBanner + "again\r\n");
  tmp.Write("ZmTrace.log", std::string(300, 'c'));
  ErrorLogTrace00("third");
  EXPECT_EQ(tmp.Read("ZmTrace.bk0"), std::string(300, 'c'));
  EXPECT_EQ(tmp.Read("ZmTrace.bk1"), std::string(200, 'b'));
  EXPECT_EQ(Files(),
            (std::set<std::string>{"ZmTrace.log", "ZmTrace.bk0", "ZmTrace.bk1", "qvoptcfg.cfg"}));
}

TEST_F(ErrorLog, BackupSettingZeroStillKeepsOneBackup) {
  Settings(10, 0);
  tmp.Write("ZmTrace.bk0", "old");
  tmp.Write("ZmTrace.log", std::string(10, 'l'));
  ErrorLogTrace00("new");
  EXPECT_EQ(tmp.Read("ZmTrace.bk0"), std::string(10, 'l'));
  EXPECT_FALSE(tmp.Exists("ZmTrace.bk1"));
}

TEST_F(ErrorLog, AtMostSixteenBackups) {
  Settings(1, 20);
  const char* hex = "0123456789abcdef";
  for (int i = 0; i < 16; ++i) tmp.Write(std::string("ZmTrace.bk") + hex[i], std::to_string(i));
  tmp.Write("ZmTrace.log", "L");
  ErrorLogTrace00("entry");
  EXPECT_EQ(tmp.Read("ZmTrace.bk0"), "L");
  for (int i = 1; i < 16; ++i)
    EXPECT_EQ(tmp.Read(std::string("ZmTrace.bk") + hex[i]), std::to_string(i - 1)) << i;
  EXPECT_EQ(Files().size(), 18u);  // log, 16 backups, options: "15" is gone

  // Called directly, with a log name that has no extension.
  tmp.Write("plain", "P");
  EXPECT_EQ(ErrorLogMusicalBackups(tmp.Path("plain").c_str(), 3), 0);
  EXPECT_EQ(tmp.Read("plain.bk0"), "P");
  EXPECT_FALSE(tmp.Exists("plain"));
  EXPECT_EQ(ErrorLogMusicalBackups(tmp.Path("plain").c_str(), 3), 0);
  EXPECT_EQ(tmp.Read("plain.bk1"), "P");
  EXPECT_FALSE(tmp.Exists("plain.bk0"));
}

TEST_F(ErrorLog, DeleteFollowsTheBackupSetting) {
  Settings(500000, 0);
  tmp.Write("ZmTrace.bk0", "zero");
  tmp.Write("ZmTrace.log", "log");
  EXPECT_EQ(ErrorLogDelete(), 0);
  EXPECT_FALSE(tmp.Exists("ZmTrace.log"));
  EXPECT_EQ(tmp.Read("ZmTrace.bk0"), "zero");
  EXPECT_EQ(ErrorLogDelete(), 0);  // nothing to delete

  ErrorLogResetForTesting();
  ErrorLogSetPath(tmp.Path("ZmTrace.log"));
  Settings(500000, 2);
  tmp.Write("ZmTrace.log", "log");
  EXPECT_EQ(ErrorLogDelete(), 0);
  EXPECT_FALSE(tmp.Exists("ZmTrace.log"));
  EXPECT_EQ(tmp.Read("ZmTrace.bk0"), "log");
  EXPECT_EQ(tmp.Read("ZmTrace.bk1"), "zero");
}

TEST_F(ErrorLog, FailedOpensAreRetriedThenCountedAsLost) {
  Settings(500000, 0);
  env.fail.openPath = tmp.Path("ZmTrace.log");
  env.fail.opens.Next(3);
  EXPECT_EQ(ErrorLogError("m", 1, 2, 3), 3);
  EXPECT_EQ(env.sleeps, 3);
  EXPECT_EQ(Untimed(Log()), kBanner + "\r\n\r\n** 3 QV_OPEN Retries Were Required **\r\n\r\n" +
                                "<T>: Error 2.3 at m line 1\r\n");

  tmp.Write("ZmTrace.log", "");
  env.sleeps = 0;
  env.fail.opens.Next(61);  // the first try and all 60 retries
  EXPECT_EQ(ErrorLogErrorS("m", 2, "lost", 9), 9);
  EXPECT_EQ(env.sleeps, 60);
  env.fail.opens.Next(61);
  EXPECT_EQ(ErrorLogTrace00("lost too"), 5);
  EXPECT_EQ(Log(), "");

  EXPECT_EQ(ErrorLogTrace00("through"), 0);
  EXPECT_EQ(Untimed(Log()),
            kBanner +
                "\r\n\r\n** The previous 2 logging attempts were thwarted by 'OpenErrorLog' "
                "failures **\r\n\r\n" +
                "through\r\n");
  ErrorLogTrace00("quiet");  // the count was reset
  EXPECT_EQ(Untimed(Log()).substr(Untimed(Log()).size() - 16), "through\r\nquiet\r\n");
}

TEST_F(ErrorLog, RotationNeedsTheMutexAndRechecksTheSize) {
  Settings(10, 1);
  env.mutexHeldElsewhere = true;
  tmp.Write("ZmTrace.log", std::string(20, 'x'));
  ErrorLogTrace00("kept");  // no rotation, no banner: the file goes on
  EXPECT_EQ(Log(), std::string(20, 'x') + "kept\r\n");
  EXPECT_FALSE(tmp.Exists("ZmTrace.bk0"));
  EXPECT_EQ(env.mutexNames,
            std::vector<std::string>{"<Zelm MusicalBackupsToControlLogFileSize Mutex>"});
  EXPECT_EQ(env.mutexDirs, std::vector<std::string>{tmp.dir()});  // beside the log

  // Another holder rotates the log just before we get the mutex.
  env.mutexHeldElsewhere = false;
  env.onMutexTaken = [&] { std::filesystem::remove(tmp.Path("ZmTrace.log")); };
  ErrorLogTrace00("fresh");  // rotated by the other holder: not again, but a banner
  EXPECT_FALSE(tmp.Exists("ZmTrace.bk0"));
  EXPECT_EQ(Untimed(Log()), kBanner + "fresh\r\n");
}

TEST_F(ErrorLog, RotationKeepsALogStartedMeanwhile) {
  // Another process starts a new log the moment ours has been renamed away.
  env.afterRename = [&](const std::string& from) {
    if (from == tmp.Path("ZmTrace.log")) tmp.Write("ZmTrace.log", "other\r\n");
  };
  tmp.Write("ZmTrace.log", "old");
  EXPECT_EQ(ErrorLogMusicalBackups(tmp.Path("ZmTrace.log").c_str(), 1), 0);
  EXPECT_EQ(tmp.Read("ZmTrace.bk0"), "old");
  EXPECT_EQ(Log(), "other\r\n");
}

}  // namespace
