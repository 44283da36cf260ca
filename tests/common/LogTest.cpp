// The daily log files: level filter, names, line format and rotation.
#include <gtest/gtest.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "CLog.h"

namespace fs = std::filesystem;
using Brelso::Public::CLog;

namespace {

class LogTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The prefix field keeps 39 characters: keep the folder name short.
        static int counter = 0;
        dir_ = fs::path("/tmp") /
               ("kl" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        log_ = std::make_unique<CLog>();
        log_->SetPathPrefix((dir_ / "NetSdk").c_str());
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Base() const {
        const time_t now = std::time(nullptr);
        struct tm t;
        localtime_r(&now, &t);
        char date[48];
        std::snprintf(date, sizeof date, "%04d-%02d-%02d", t.tm_year + 1900, t.tm_mon + 1,
                      t.tm_mday);
        return (dir_ / "NetSdk").string() + "_" + date;
    }
    static std::string Read(const std::string& path) {
        std::ifstream in(path);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    size_t Files() const {
        return static_cast<size_t>(
            std::distance(fs::directory_iterator(dir_), fs::directory_iterator()));
    }

    fs::path dir_;
    std::unique_ptr<CLog> log_;
};

TEST_F(LogTest, MaskZeroWritesNothing) {
    log_->SetLevelMask(0);
    log_->WriteLog(1, "[X::%s] failed \n", "Y");
    log_->WriteLog(64, "[X::%s] detail \n", "Y");
    EXPECT_EQ(Files(), 0u);
}

TEST_F(LogTest, LevelFilterAndNames) {
    log_->SetLevelMask(64);
    log_->WriteLog(1, "[X::%s] error line \n", "A");
    log_->WriteLog(64, "[NetSdk::%s] Init success! \n", "KX_NET_Init");
    const std::string text = Read(Base() + ".log");
    EXPECT_EQ(text.find("error line"), std::string::npos);
    // "[[YYYY-MM-DD hh:mm:ss]][detail]" then the message
    ASSERT_GE(text.size(), 33u);
    EXPECT_EQ(text.substr(0, 2), "[[");
    EXPECT_EQ(text.substr(21, 12), "]][detail][N");
    EXPECT_NE(text.find("][detail][NetSdk::KX_NET_Init] Init success! \n"), std::string::npos);
}

TEST_F(LogTest, UnknownOrCombinedLevelIsDefault) {
    log_->SetLevelMask(1);
    log_->WriteLog(3, "[X::%s] two bits \n", "A");
    EXPECT_NE(Read(Base() + ".log").find("][default][X::A] two bits"), std::string::npos);
    EXPECT_EQ(CLog::LevelName(0), nullptr);
    EXPECT_EQ(CLog::LevelName(-1), nullptr);
    EXPECT_STREQ(CLog::LevelName(128), "package");
}

TEST_F(LogTest, RotatesAtTheSizeLimitNotBelow) {
    log_->SetLevelMask(1);
    const std::string prefixLen = "[[2000-01-01 00:00:00]][error]";
    const int32_t limit = 100;
    log_->SetMaxFileSize(limit);
    // One line of exactly limit - 1 bytes: stays.
    log_->WriteLog(1, "%s", std::string(limit - 1 - prefixLen.size(), 'a').c_str());
    EXPECT_EQ(fs::file_size(Base() + ".log"), static_cast<uintmax_t>(limit - 1));
    EXPECT_FALSE(fs::exists(Base() + "1.log"));
    // One more byte reaches the limit: rotated at once.
    log_->WriteLog(1, "%s", "");
    EXPECT_FALSE(fs::exists(Base() + ".log"));
    EXPECT_EQ(fs::file_size(Base() + "1.log"),
              static_cast<uintmax_t>(limit + prefixLen.size() - 1));
}

TEST_F(LogTest, RotationWithNineNumberedFilesDropsTheOldest) {
    log_->SetLevelMask(1);
    log_->SetMaxFileSize(10);
    for (int i = 1; i <= 9; ++i) std::ofstream(Base() + std::to_string(i) + ".log") << "file" << i;
    log_->WriteLog(1, "current");
    EXPECT_FALSE(fs::exists(Base() + ".log"));
    EXPECT_NE(Read(Base() + "1.log").find("current"), std::string::npos);
    for (int i = 2; i <= 9; ++i)
        EXPECT_EQ(Read(Base() + std::to_string(i) + ".log"), "file" + std::to_string(i - 1));
    EXPECT_EQ(Files(), 9u);
    log_->WriteLog(1, "next");
    EXPECT_TRUE(fs::exists(Base() + "1.log"));
}

TEST_F(LogTest, MissingFolderLosesLinesQuietly) {
    log_->SetPathPrefix((dir_ / "absent" / "NetSdk").c_str());
    log_->SetLevelMask(-1);
    log_->WriteLog(1, "lost \n");
    EXPECT_FALSE(fs::exists(dir_ / "absent"));
    EXPECT_EQ(Files(), 0u);
}

TEST_F(LogTest, PrefixKeepsAtMost39Characters) {
    log_->SetPathPrefix(std::string(60, 'p').c_str());
    EXPECT_EQ(std::string(log_->PathPrefix()), std::string(39, 'p'));
}

TEST(LogInstance, ReleaseMakesAFreshInstanceWithLoggingOff) {
    CLog::GetInstance()->SetLevelMask(255);
    CLog::ReleaseInstance();
    EXPECT_EQ(CLog::GetInstance()->LevelMask(), 0);
    CLog::ReleaseInstance();
}

}  // namespace
