#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <thread>

#include "base/Preferences.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"

namespace tw {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

class PreferencesTest : public ::testing::Test {
  protected:
    std::string fileText() const {
        std::ifstream in(path_);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    void writeFile(const std::string& text) const {
        fs::create_directories(path_.parent_path());
        std::ofstream(path_, std::ios::binary) << text;
    }

    TempDir dir_;
    fs::path path_ = dir_.path() / "tarnwick" / "preferences.json";
    Preferences preferences_{path_};
};

// Reading and writing.

TEST_F(PreferencesTest, AMissingFileReadsAsEmpty) {
    EXPECT_EQ(preferences_.string("key"), std::nullopt);
    EXPECT_FALSE(fs::exists(path_));
}

TEST_F(PreferencesTest, StoresStringsThatAnotherInstanceReadsBack) {
    EXPECT_TRUE(preferences_.setString("loginItemRegisteredBuild", "41"));
    EXPECT_TRUE(preferences_.setString("loginItemRegisteredBuild", "42"));
    EXPECT_TRUE(preferences_.setString("b", ""));
    const Preferences other(path_);
    EXPECT_EQ(other.string("loginItemRegisteredBuild"), "42");
    EXPECT_EQ(other.string("b"), "");
}

TEST_F(PreferencesTest, ReadsValuesOfOtherTypesAsNoString) {
    writeFile(R"({"n":42,"b":true,"o":{"x":"y"},"a":["z"],"s":"text"})");
    for (const char* key : {"n", "b", "o", "a"})
        EXPECT_EQ(preferences_.string(key), std::nullopt) << key;
    EXPECT_EQ(preferences_.string("s"), "text");
}

TEST_F(PreferencesTest, KeepsKeysOfEveryTypeWhenAnotherKeyChanges) {
    writeFile(R"({"n":-1.5e3,"b":false,"nil":null,"o":{"x":[1,{"y":"\u00e9\n"}]},"s":"a\"b"})");
    preferences_.setString("new", "v");
    preferences_.remove("b");
    const auto text = fileText();
    EXPECT_THAT(text, HasSubstr(R"("n": -1500.0)"));
    EXPECT_THAT(text, HasSubstr(R"("nil": null)"));
    EXPECT_THAT(text, HasSubstr(R"("o": {"x":[1,{"y":"é\n"}]})"));
    EXPECT_EQ(preferences_.string("s"), "a\"b");
    EXPECT_THAT(text, ::testing::Not(HasSubstr(R"("b": )")));
}

TEST_F(PreferencesTest, RemovesOnlyTheKeyAskedForAndWritesOnlyWhenItWasThere) {
    EXPECT_TRUE(preferences_.remove("a"));
    EXPECT_FALSE(fs::exists(path_));
    preferences_.setString("a", "1");
    preferences_.setString("b", "2");
    EXPECT_TRUE(preferences_.remove("a"));
    EXPECT_EQ(preferences_.string("a"), std::nullopt);
    EXPECT_EQ(preferences_.string("b"), "2");
}

TEST_F(PreferencesTest, TextWithQuotesBackslashesControlsAndUnicodeReadsBackExactly) {
    const std::string tricky = std::string("q\"b\\s/\n\r\t\b\f\x01\x1f\x7f", 14) + "é😀";
    const std::string key = "k\"\\\n";
    ASSERT_TRUE(preferences_.setString(key, tricky));
    EXPECT_EQ(Preferences(path_).string(key), tricky);
}

TEST_F(PreferencesTest, RefusesTextThatIsNotUtf8AndKeepsTheFile) {
    preferences_.setString("k", "old");
    EXPECT_FALSE(preferences_.setString("k", "\xff\xfe"));
    EXPECT_FALSE(preferences_.setString("\xc3", "v"));
    EXPECT_EQ(preferences_.string("k"), "old");
}

// Damaged files.

TEST_F(PreferencesTest, ADamagedFileReadsAsEmptyAndIsReplacedOnTheNextWrite) {
    const std::string damaged[] = {"",      R"({"k":"v")",      R"(["k","v"])",
                                   "\"k\"", "{\"k\":\"\xff\"}", std::string("\0\0\0", 3),
                                   "{} {}"};
    for (const auto& text : damaged) {
        writeFile(text);
        EXPECT_EQ(preferences_.string("k"), std::nullopt);
        ASSERT_TRUE(preferences_.setString("fresh", "1"));
        EXPECT_EQ(Preferences(path_).string("fresh"), "1");
        fs::remove(path_);
    }
}

TEST_F(PreferencesTest, AFileLargerThanOneMebibyteCountsAsDamaged) {
    writeFile(R"({"k":"v","pad":")" + std::string(1024 * 1024, 'x') + "\"}");
    EXPECT_EQ(preferences_.string("k"), std::nullopt);
    EXPECT_TRUE(preferences_.setString("k", "w"));
    EXPECT_LT(fs::file_size(path_), 100u);
}

TEST_F(PreferencesTest, AFolderInPlaceOfTheFileReadsAsEmptyAndFailsToWrite) {
    fs::create_directories(path_ / "inside");
    EXPECT_EQ(preferences_.string("k"), std::nullopt);
    EXPECT_FALSE(preferences_.setString("k", "v"));
    EXPECT_TRUE(fs::is_directory(path_ / "inside"));
}

// Writing safely.

TEST_F(PreferencesTest, CreatesItsFolderAndAFileOnlyTheUserCanRead) {
    ASSERT_TRUE(preferences_.setString("k", "v"));
    struct stat st {};
    ASSERT_EQ(::stat(path_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(PreferencesTest, ReplacesTheFileInsteadOfRewritingItAndLeavesNoTemporaryFile) {
    preferences_.setString("k", "1");
    struct stat first {
    }, second{};
    ::stat(path_.c_str(), &first);
    preferences_.setString("k", "2");
    ::stat(path_.c_str(), &second);
    EXPECT_NE(first.st_ino, second.st_ino);
    EXPECT_EQ(std::distance(fs::directory_iterator(path_.parent_path()), fs::directory_iterator()),
              1);
}

TEST_F(PreferencesTest, AConcurrentReaderNeverSeesAPartlyWrittenFile) {
    preferences_.setString("k", "start");
    std::atomic<bool> done = false;
    int unreadable = 0;
    std::thread reader([&] {
        const Preferences other(path_);
        while (!done) unreadable += other.string("k") ? 0 : 1;
    });
    for (int i = 0; i < 50; ++i) preferences_.setString("k", std::string(65536 + i, 'a' + i % 26));
    done = true;
    reader.join();
    EXPECT_EQ(unreadable, 0);
}

TEST_F(PreferencesTest, AFileThatCannotBeCreatedFailsTheWrite) {
    std::ofstream(dir_.file("blocker")) << "a file, not a folder";
    for (const auto& path : {dir_.path() / "blocker" / "preferences.json", fs::path()}) {
        Preferences blocked(path);
        EXPECT_FALSE(blocked.setString("k", "v")) << path;
        EXPECT_EQ(blocked.string("k"), std::nullopt) << path;
    }
}

TEST_F(PreferencesTest, ConcurrentWritersInOneProcessLoseNoKey) {
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t) {
        writers.emplace_back([this, t] {
            for (int i = 0; i < 5; ++i) {
                preferences_.setString("k" + std::to_string(t) + "_" + std::to_string(i), "v");
            }
        });
    }
    for (auto& writer : writers) writer.join();
    for (int t = 0; t < 4; ++t) {
        for (int i = 0; i < 5; ++i) {
            EXPECT_EQ(preferences_.string("k" + std::to_string(t) + "_" + std::to_string(i)), "v");
        }
    }
}

// Where the file lives.

TEST(PreferencesPathTest, LivesUnderXdgConfigHomeWhenItIsAbsolute) {
    const ScopedEnv config("XDG_CONFIG_HOME", "/cfg");
    const ScopedEnv home("HOME", "/home/u");
    EXPECT_EQ(Preferences::defaultPath(), fs::path("/cfg/tarnwick/preferences.json"));
}

TEST(PreferencesPathTest, FallsBackToHomeWhenXdgConfigHomeIsUnsetEmptyOrRelativeAndElseHasNone) {
    const ScopedEnv home("HOME", "/home/u");
    for (const char* value : {static_cast<const char*>(nullptr), "", "relative/cfg"}) {
        const ScopedEnv config("XDG_CONFIG_HOME", value);
        EXPECT_EQ(Preferences::defaultPath(),
                  fs::path("/home/u/.config/tarnwick/preferences.json"));
        EXPECT_EQ(Preferences::configHome(), fs::path("/home/u/.config"));
    }
    const ScopedEnv noHome("HOME", nullptr);
    EXPECT_EQ(Preferences::defaultPath(), fs::path());
}

}  // namespace
}  // namespace tw
