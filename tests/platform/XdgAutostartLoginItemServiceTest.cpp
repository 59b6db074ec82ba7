#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "app/platform/linux/XdgAutostartLoginItemService.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"

namespace tw {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

std::string readText(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class XdgAutostartLoginItemServiceTest : public ::testing::Test {
  protected:
    // An executable script at `path` that records the path it was started as.
    fs::path makeProgram(const fs::path& path) {
        fs::create_directories(path.parent_path());
        std::ofstream(path) << "#!/bin/sh\nprintf '%s' \"$0\" > '" << startedMark() << "'\n";
        fs::permissions(path, fs::perms::owner_all);
        return path;
    }
    std::string startedMark() const { return dir_.file("started"); }
    fs::path folder() const { return dir_.path() / "config" / "autostart"; }

    // Starts the entry as the desktop would, through GLib's own reading of desktop entries, with
    // nothing of the user's environment.
    void launchWithGio(const fs::path& entry) {
        const std::string home = "HOME=" + dir_.path().string();
        const char* argv[] = {"gio", "launch", entry.c_str(), nullptr};
        const char* envp[] = {"PATH=/usr/bin:/bin", home.c_str(), nullptr};
        pid_t pid;
        ASSERT_EQ(::posix_spawnp(&pid, "gio", nullptr, nullptr, const_cast<char* const*>(argv),
                                 const_cast<char* const*>(envp)),
                  0);
        int status = 0;
        ::waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }

    std::string waitForStartedMark() const {
        // gio starts the program and returns at once; the program writes the mark soon after.
        std::string mark;
        for (int i = 0; i < 1000 && mark.empty(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            mark = readText(startedMark());
        }
        return mark;
    }

    TempDir dir_;
};

// Registering.

TEST_F(XdgAutostartLoginItemServiceTest, RegisterWritesAnEntryThatStartsTheProgram) {
    const auto program = makeProgram(dir_.path() / "opt" / "bin" / "tarnwick-desktop");
    XdgAutostartLoginItemService service(folder(), program, "Tarnwick");
    ASSERT_TRUE(service.registerItem());
    launchWithGio(service.entryPath());
    EXPECT_EQ(waitForStartedMark(), program.string());
}

TEST_F(XdgAutostartLoginItemServiceTest,
       AProgramPathWithQuotesDollarsAndBackslashesStartsAsWritten) {
    const auto program = makeProgram(dir_.path() / "my apps" / R"(a "b" `c` $HOME \d 'e' ;|&<> é)" /
                                     "tarnwick-desktop");
    XdgAutostartLoginItemService service(folder(), program, "Tarnwick");
    ASSERT_TRUE(service.registerItem());
    launchWithGio(service.entryPath());
    EXPECT_EQ(waitForStartedMark(), program.string());
}

TEST_F(XdgAutostartLoginItemServiceTest,
       TheEntryIsAnApplicationNamedAfterTheProductInTheUsualPlace) {
    const auto program = makeProgram(dir_.path() / "tarnwick-desktop");
    XdgAutostartLoginItemService service(folder(), program, "Acme VPN");
    ASSERT_TRUE(service.registerItem());
    EXPECT_EQ(service.entryPath(), folder() / "com.tarnwick.desktop.desktop");
    const auto text = readText(service.entryPath());
    EXPECT_TRUE(text.starts_with("[Desktop Entry]\n"));
    EXPECT_THAT(text, HasSubstr("\nType=Application\n"));
    EXPECT_THAT(text, HasSubstr("\nName=Acme VPN\n"));
    EXPECT_THAT(text, HasSubstr("\nExec=\"" + program.string() + "\"\n"));
    struct stat st {};
    ASSERT_EQ(::stat(service.entryPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
}

TEST_F(XdgAutostartLoginItemServiceTest, ANameWithALineBreakCannotAddKeysToTheEntry) {
    const auto program = makeProgram(dir_.path() / "tarnwick-desktop");
    XdgAutostartLoginItemService service(folder(), program, "Tarnwick\nHidden=true");
    ASSERT_TRUE(service.registerItem());
    EXPECT_THAT(readText(service.entryPath()), HasSubstr("\nName=Tarnwick\\nHidden=true\n"));
    EXPECT_EQ(service.status(), LoginItemStatus::enabled);
}

TEST_F(XdgAutostartLoginItemServiceTest,
       RegisteringAgainReplacesTheEntryWholeAndLeavesNoTemporaryFile) {
    const auto program = makeProgram(dir_.path() / "tarnwick-desktop");
    XdgAutostartLoginItemService service(folder(), program, "Tarnwick");
    ASSERT_TRUE(service.registerItem());
    struct stat first {
    }, second{};
    ::stat(service.entryPath().c_str(), &first);
    ASSERT_TRUE(service.registerItem());
    ::stat(service.entryPath().c_str(), &second);
    EXPECT_NE(first.st_ino, second.st_ino);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder()), fs::directory_iterator()), 1);
}

// Programs an entry cannot start.

TEST_F(XdgAutostartLoginItemServiceTest,
       AMissingOrNonExecutableProgramIsNotFoundAndNothingIsWritten) {
    const auto notExecutable = dir_.path() / "plain";
    std::ofstream(notExecutable) << "data";
    // /proc/self/exe names an executable replaced while it runs "<path> (deleted)".
    makeProgram(dir_.path() / "tarnwick-desktop");
    for (const auto& program : {dir_.path() / "gone", notExecutable, dir_.path(),
                                dir_.path() / "tarnwick-desktop (deleted)"}) {
        XdgAutostartLoginItemService service(folder(), program, "Tarnwick");
        const auto registered = service.registerItem();
        ASSERT_FALSE(registered) << program;
        EXPECT_EQ(registered.error().code, LoginItemError::Code::programNotFound);
        EXPECT_EQ(service.status(), LoginItemStatus::notFound) << program;
        EXPECT_FALSE(fs::exists(service.entryPath()));
    }
}

TEST_F(XdgAutostartLoginItemServiceTest, OnlyAbsoluteUtf8PathsWithoutControlCharactersCanBeNamed) {
    EXPECT_EQ(XdgAutostartLoginItemService::execValue("/usr/bin/tarnwick-desktop"),
              "\"/usr/bin/tarnwick-desktop\"");
    EXPECT_EQ(XdgAutostartLoginItemService::execValue("/o/\"$`\\/é"), R"("/o/\\"\\$\\`\\\\/é")");
    for (const char* path : {"tarnwick-desktop", "./bin/tarnwick-desktop", "/bin/a\nb", "/bin/a\tb",
                             "/bin/a\x7f", "/bin/\xff\xfe", "/opt/100%/tarnwick-desktop", ""}) {
        EXPECT_EQ(XdgAutostartLoginItemService::execValue(path), std::nullopt) << path;
    }
}

// Status and unregistering.

TEST_F(XdgAutostartLoginItemServiceTest, TheStatusFollowsRegisterAndUnregister) {
    const auto program = makeProgram(dir_.path() / "tarnwick-desktop");
    XdgAutostartLoginItemService service(folder(), program, "Tarnwick");
    EXPECT_EQ(service.status(), LoginItemStatus::notRegistered);
    ASSERT_TRUE(service.registerItem());
    EXPECT_EQ(service.status(), LoginItemStatus::enabled);
    ASSERT_TRUE(service.unregisterItem());
    EXPECT_EQ(service.status(), LoginItemStatus::notRegistered);
    EXPECT_FALSE(fs::exists(service.entryPath()));
}

TEST_F(XdgAutostartLoginItemServiceTest,
       AnEntryTheUserTurnedOffIsNotRegisteredUntilRegisteredAgain) {
    const auto program = makeProgram(dir_.path() / "tarnwick-desktop");
    XdgAutostartLoginItemService service(folder(), program, "Tarnwick");
    for (const char* off : {"Hidden=true", "X-GNOME-Autostart-enabled=false", "Hidden = true"}) {
        ASSERT_TRUE(service.registerItem());
        std::ofstream(service.entryPath(), std::ios::app) << off << "\n";
        EXPECT_EQ(service.status(), LoginItemStatus::notRegistered) << off;
        ASSERT_TRUE(service.registerItem());
        EXPECT_EQ(service.status(), LoginItemStatus::enabled) << off;
    }
    std::ofstream(service.entryPath(), std::ios::app) << "[Desktop Action quit]\nHidden=true\n";
    EXPECT_EQ(service.status(), LoginItemStatus::enabled);  // another group's key
}

TEST_F(XdgAutostartLoginItemServiceTest,
       UnregisteringWithoutAnEntrySucceedsAndLeavesOtherEntriesAlone) {
    fs::create_directories(folder());
    std::ofstream(folder() / "other.desktop") << "[Desktop Entry]\n";
    XdgAutostartLoginItemService service(folder(), makeProgram(dir_.path() / "p"), "Tarnwick");
    EXPECT_TRUE(service.unregisterItem());
    EXPECT_TRUE(fs::exists(folder() / "other.desktop"));
}

// Folders.

TEST_F(XdgAutostartLoginItemServiceTest, AFolderThatCannotBeMadeFailsTheRegistrationWithItsReason) {
    std::ofstream(dir_.file("config")) << "a file where the folder should be";
    XdgAutostartLoginItemService service(folder(), makeProgram(dir_.path() / "p"), "Tarnwick");
    const auto registered = service.registerItem();
    ASSERT_FALSE(registered);
    EXPECT_EQ(registered.error(), (LoginItemError{LoginItemError::Code::notSaved, ENOTDIR}));
    EXPECT_EQ(registered.error().description(),
              "The login item could not be saved: Not a directory");
}

TEST_F(XdgAutostartLoginItemServiceTest, AnEntryThatCannotBeRemovedFailsTheUnregistration) {
    fs::create_directories(folder() / "com.tarnwick.desktop.desktop" / "inside");
    XdgAutostartLoginItemService service(folder(), makeProgram(dir_.path() / "p"), "Tarnwick");
    const auto removed = service.unregisterItem();
    ASSERT_FALSE(removed);
    EXPECT_EQ(removed.error().code, LoginItemError::Code::notRemoved);
}

TEST_F(XdgAutostartLoginItemServiceTest, WithoutAConfigurationFolderNoEntryCanBeMade) {
    XdgAutostartLoginItemService service(fs::path(), makeProgram(dir_.path() / "p"), "Tarnwick");
    EXPECT_EQ(service.status(), LoginItemStatus::notFound);
    ASSERT_FALSE(service.registerItem());
    EXPECT_EQ(service.registerItem().error().code, LoginItemError::Code::notSaved);
}

TEST(XdgAutostartFolderTest, IsTheAutostartFolderOfTheUsersConfiguration) {
    const ScopedEnv config("XDG_CONFIG_HOME", "/cfg");
    EXPECT_EQ(XdgAutostartLoginItemService::defaultFolder(), fs::path("/cfg/autostart"));
    const ScopedEnv unset("XDG_CONFIG_HOME", nullptr);
    const ScopedEnv home("HOME", "/home/u");
    EXPECT_EQ(XdgAutostartLoginItemService::defaultFolder(), fs::path("/home/u/.config/autostart"));
    const ScopedEnv noHome("HOME", nullptr);
    EXPECT_EQ(XdgAutostartLoginItemService::defaultFolder(), fs::path());
}

TEST(XdgAutostartFolderTest, TheRunningProgramIsThisTestsExecutable) {
    EXPECT_EQ(XdgAutostartLoginItemService::runningProgram().filename(), "tw_platform_tests");
}

}  // namespace
}  // namespace tw
