// The user folders under every mix of the variables that locate them.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <unistd.h>

#include "platform/user_folders.h"
#include "support/scoped_environment.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

struct FolderCase {
    const char* appData;
    const char* profile;
    const char* xdg;
    const char* home;
    std::string appDataDir;   // "$T" stands for the temporary folder
    std::string documentsDir;
};

std::string Expand(const std::string& pattern, const std::string& root) {
    std::string out = pattern;
    for (size_t at = out.find("$T"); at != std::string::npos; at = out.find("$T", at + root.size()))
        out.replace(at, 2, root);
    return out;
}

}  // namespace

TEST(UserFolders, EveryMixOfVariables) {
    TempDir dir;
    const FolderCase cases[] = {
        {"$T/ad", "$T/up", "$T/xdg", "$T/home", "$T/ad/Tessaloom", "$T/up/Documents/Tessaloom"},
        {nullptr, "$T/up", "$T/xdg", "$T/home", "$T/up/AppData/Roaming/Tessaloom", "$T/up/Documents/Tessaloom"},
        {"$T/ad", nullptr, nullptr, "$T/home", "$T/ad/Tessaloom", "$T/home/Documents/Tessaloom"},
        {nullptr, nullptr, "$T/xdg", "$T/home", "$T/xdg/Tessaloom", "$T/home/Documents/Tessaloom"},
        // A relative XDG_DATA_HOME is not a valid setting: the home default applies.
        {nullptr, nullptr, "rel/xdg", "$T/home", "$T/home/.local/share/Tessaloom", "$T/home/Documents/Tessaloom"},
        {nullptr, nullptr, nullptr, "$T/home", "$T/home/.local/share/Tessaloom", "$T/home/Documents/Tessaloom"},
        {nullptr, nullptr, "$T/xdg", nullptr, "$T/xdg/Tessaloom", ""},
        {nullptr, nullptr, "rel/xdg", nullptr, "", ""},
        {nullptr, "$T/up", nullptr, nullptr, "$T/up/AppData/Roaming/Tessaloom", "$T/up/Documents/Tessaloom"},
        {"$T/ad", nullptr, nullptr, nullptr, "$T/ad/Tessaloom", ""},
    };
    int row = 0;
    for (const FolderCase& c : cases) {
        SCOPED_TRACE(row++);
        ScopedEnvironment env;
        env.UnsetUserFolderVariables();
        auto set = [&](const char* name, const char* value) {
            if (value) env.Set(name, Expand(value, dir.path()));
        };
        set("APPDATA", c.appData);
        set("USERPROFILE", c.profile);
        set("XDG_DATA_HOME", c.xdg);
        set("HOME", c.home);
        const std::string appData = Expand(c.appDataDir, dir.path());
        const std::string documents = Expand(c.documentsDir, dir.path());
        EXPECT_EQ(AppDataDir(), appData);
        EXPECT_EQ(DocumentsDir(), documents);
        EXPECT_FALSE(fs::exists(appData.empty() ? dir.File("none") : appData)) << "AppDataDir creates nothing";

        // The preferences follow the application-data folder and create it.
        EXPECT_EQ(PreferencesFilePath(), appData.empty() ? "" : appData + "/com.tessaloom.prefs");
        if (!appData.empty()) {
            EXPECT_TRUE(fs::is_directory(appData));
        }

        EXPECT_EQ(RecipesDir(), documents.empty() ? "" : documents + "/Recipes");
        EXPECT_EQ(ChainsDir(), documents.empty() ? "" : documents + "/Chains");
        EXPECT_EQ(BouncesDir(), documents.empty() ? "" : documents + "/Bounces");
        if (!documents.empty()) {
            EXPECT_TRUE(fs::is_directory(documents + "/Bounces"));
            EXPECT_FALSE(fs::exists(documents + "/Recipes"));
        }
        std::error_code ec;
        fs::remove_all(dir.File("ad"), ec);
        fs::remove_all(dir.File("up"), ec);
        fs::remove_all(dir.File("xdg"), ec);
        fs::remove_all(dir.File("home"), ec);
    }
}

TEST(UserFolders, NothingSetGivesEmptyPathsAndWritesNothing) {
    TempDir dir;
    ScopedEnvironment env;
    env.UnsetUserFolderVariables();
    const std::string before = fs::current_path().string();
    fs::current_path(dir.path());
    EXPECT_EQ(AppDataDir(), "");
    EXPECT_EQ(PreferencesFilePath(), "");
    EXPECT_EQ(DocumentsDir(), "");
    EXPECT_EQ(RecipesDir(), "");
    EXPECT_EQ(ChainsDir(), "");
    EXPECT_EQ(BouncesDir(), "");
    EXPECT_TRUE(fs::is_empty(dir.path())) << "no relative folder appears in the working directory";
    fs::current_path(before);
}

TEST(UserFolders, ExecutableDirIsTheTestProgramsFolder) {
    const std::string folder = ExecutableDirUtf8();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder, fs::canonical("/proc/self/exe").parent_path().string());
    EXPECT_NE(folder.back(), '/');
}
