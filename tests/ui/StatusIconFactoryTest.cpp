#include "app/ui/StatusIconFactory.h"

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include <QIcon>

#include "tests/support/TempDir.h"

namespace tw {
namespace {

// A hicolor theme in a folder of its own, with or without the package's icon in it.
TEST(StatusIconFactory, TakesTheThemedIconOnlyOnceThePackageInstalledIt) {
    TempDir icons;
    const auto theme = icons.path() / "hicolor";
    std::filesystem::create_directories(theme / "symbolic" / "apps");
    std::ofstream(theme / "index.theme") << "[Icon Theme]\nName=Hicolor\nDirectories=symbolic/apps\n\n"
                                            "[symbolic/apps]\nSize=16\nMinSize=8\nMaxSize=512\nType=Scalable\n";
    const QStringList searchPaths = QIcon::themeSearchPaths();
    const QString themeName = QIcon::themeName();  // none offscreen
    QIcon::setThemeSearchPaths({QString::fromStdString(icons.path().string())});
    QIcon::setThemeName("hicolor");

    EXPECT_TRUE(StatusIconFactory::themed().isNull());

    const std::string name = StatusIconFactory::themeName;
    std::ofstream(theme / "symbolic" / "apps" / (name + ".svg"))
        << R"(<svg xmlns="http://www.w3.org/2000/svg" width="16" height="16"><rect width="8" height="8"/></svg>)";
    const QIcon themed = StatusIconFactory::themed();
    EXPECT_FALSE(themed.isNull());
    EXPECT_EQ(themed.name().toStdString(), name);
    QIcon::setThemeSearchPaths(searchPaths);
    QIcon::setThemeName(themeName);
}

}  // namespace
}  // namespace tw
