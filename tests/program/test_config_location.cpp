// The program's folder: beside the executable, or the user's configuration folder for the
// installed program, whatever the folders allow or already hold.
#include "config_location.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <unistd.h>

namespace veldar {
namespace {

namespace fs = std::filesystem;

class ProgramFolderTest : public ::testing::Test {
protected:
    ProgramFolderTest() {
        root = fs::temp_directory_path() /
               ("veldar-location-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
        exe = root / "bin";
        fs::create_directories(exe);
    }
    ~ProgramFolderTest() override {
        std::error_code ec;
        fs::permissions(exe, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(root, ec);
    }

    fs::path Folder(FolderLayout layout) const {
        return ProgramFolder(layout, exe, [this](const char* name) -> std::optional<std::string> {
            auto found = variables.find(name);
            if (found == variables.end()) return std::nullopt;
            return found->second;
        });
    }
    static void PutIni(const fs::path& folder) {
        fs::create_directories(folder);
        std::ofstream(folder / "VELDAR.ini") << "[PORT_COMM]\r\nCOM7\r\n";
    }

    static inline int counter = 0;
    fs::path root;
    fs::path exe;
    std::map<std::string, std::string> variables;
};

#ifdef _WIN32
constexpr char ConfigVariable[] = "APPDATA";
#else
constexpr char ConfigVariable[] = "XDG_CONFIG_HOME";
#endif

TEST_F(ProgramFolderTest, TheLayoutAloneDecides) {
    const fs::path config = root / "config";
    variables[ConfigVariable] = config.string();
    variables["HOME"] = (root / "home").string();
    const fs::path user = config / "veldar";
    auto expectBoth = [&](const char* situation) {
        SCOPED_TRACE(situation);
        EXPECT_EQ(Folder(FolderLayout::Portable), exe);
        EXPECT_EQ(Folder(FolderLayout::Installed), user);
    };

    expectBoth("writable executable folder");
    PutIni(exe);
    expectBoth("settings file beside the executable");
    fs::remove(exe / "VELDAR.ini");
    PutIni(user);
    expectBoth("settings file in the user's folder");
    PutIni(exe);
    expectBoth("settings files in both places");
    fs::permissions(exe, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    expectBoth("read-only executable folder");
}

TEST_F(ProgramFolderTest, TheInstalledFolderIsCreatedWithItsParents) {
    variables[ConfigVariable] = (root / "a" / "b").string();
    const fs::path folder = Folder(FolderLayout::Installed);
    EXPECT_EQ(folder, root / "a" / "b" / "veldar");
    EXPECT_TRUE(fs::is_directory(folder));
    // Nothing is created for the portable layout.
    variables[ConfigVariable] = (root / "c").string();
    Folder(FolderLayout::Portable);
    EXPECT_FALSE(fs::exists(root / "c"));
}

TEST_F(ProgramFolderTest, AFolderThatCannotBeCreatedIsStillTheAnswer) {
    // A file where the folder's parent should be: the settings write fails later, with its
    // own message, instead of the start-up.
    std::ofstream(root / "file") << "x";
    variables[ConfigVariable] = (root / "file").string();
    EXPECT_EQ(Folder(FolderLayout::Installed), root / "file" / "veldar");
}

#ifndef _WIN32
TEST_F(ProgramFolderTest, XdgConfigHomeThenHomeConfig) {
    variables["HOME"] = (root / "home").string();
    variables["XDG_CONFIG_HOME"] = (root / "xdg").string();
    EXPECT_EQ(Folder(FolderLayout::Installed), root / "xdg" / "veldar");
    // Empty or relative: not a usable value, the default under the home folder applies.
    for (const char* unusable : {"", "relative/config"}) {
        variables["XDG_CONFIG_HOME"] = unusable;
        EXPECT_EQ(Folder(FolderLayout::Installed), root / "home" / ".config" / "veldar")
            << unusable;
    }
    // No home at all: beside the executable rather than in the working folder.
    variables.clear();
    EXPECT_EQ(Folder(FolderLayout::Installed), exe);
}
#endif

} // namespace
} // namespace veldar
