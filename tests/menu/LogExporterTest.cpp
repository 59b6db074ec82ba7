#include "app/menu/LogExporter.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "tests/support/TempDir.h"

namespace tw {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

std::string read(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class LogExporterTest : public ::testing::Test {
protected:
    std::vector<std::string> exportLogs() {
        return LogExporter::copyInto(folder_.path(), {{source_.path() / "app.log", "app.log"},
                                                      {source_.path() / "client.log", "client.log"}});
    }

    TempDir source_;
    TempDir folder_;
};

TEST_F(LogExporterTest, CopiesOnlyTheLogsThatExist) {
    EXPECT_THAT(exportLogs(), IsEmpty());
    EXPECT_TRUE(std::filesystem::is_empty(folder_.path()));

    std::ofstream(source_.path() / "client.log") << "daemon\n";
    EXPECT_THAT(exportLogs(), ElementsAre("client.log"));
    EXPECT_EQ(read(folder_.path() / "client.log"), "daemon\n");
}

TEST_F(LogExporterTest, ReplacesAnEarlierExportButKeepsItWhenTheCopyFails) {
    std::ofstream(source_.path() / "client.log") << "new\n";
    std::ofstream(folder_.path() / "client.log") << "old\n";
    std::filesystem::create_directory(source_.path() / "app.log");  // not a file: cannot be copied
    std::ofstream(folder_.path() / "app.log") << "kept\n";

    EXPECT_THAT(exportLogs(), ElementsAre("client.log"));
    EXPECT_EQ(read(folder_.path() / "client.log"), "new\n");
    EXPECT_EQ(read(folder_.path() / "app.log"), "kept\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder_.path()), {}), 2);
}

}  // namespace
}  // namespace tw
