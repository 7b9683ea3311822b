#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "config/AuxProj.h"
#include "config/CmdLine.h"
#include "tests/support/Files.h"

namespace {

TEST(IniStoreTest, FileRulesLineEndsCommentsAndNoTrimming) {
    const TIniStore ini = TIniStore::FromText(
        "orphan=before any section\r\n[Interbase]\r\nUser=alice\rPassword= two words \n"
        "; a comment=not a key\n\n[Empty]\nKey=\nNoEquals\n[interbase]\nCharSet=WIN1250");
    EXPECT_EQ(ini.GetText("INTERBASE", "user", "x"), "alice");
    EXPECT_EQ(ini.GetText("Interbase", "Password", "x"), " two words ");
    EXPECT_EQ(ini.GetText("Interbase", "; a comment", "x"), "x");
    EXPECT_EQ(ini.GetText("Interbase", "orphan", "x"), "x");
    EXPECT_EQ(ini.GetText("Empty", "Key", "default"), "");  // present but empty is not missing
    EXPECT_EQ(ini.GetText("Empty", "NoEquals", "x"), "");
    EXPECT_EQ(ini.GetText("Interbase", "CharSet", "x"), "WIN1250");  // same section, any case
    EXPECT_EQ(ini.ToText(),
              "[Interbase]\r\nUser=alice\r\nPassword= two words \r\nCharSet=WIN1250\r\n\r\n"
              "[Empty]\r\nKey=\r\nNoEquals=\r\n\r\n");
}

TEST(IniStoreTest, NumbersAndFlags) {
    const TIniStore ini = TIniStore::FromText(
        "[S]\nHex=0x20\nUpperHex=0X1f\nBare0x=0x\nJunk=12a\nNeg=-7\nSpace= 5\nHuge=99999999999\n"
        "Empty=\nOn=1\nOff=0\n");
    EXPECT_EQ(ini.GetNumber("S", "Hex", 0), 32);
    EXPECT_EQ(ini.GetNumber("S", "UpperHex", 0), 31);
    EXPECT_EQ(ini.GetNumber("S", "Bare0x", 9), 9);
    EXPECT_EQ(ini.GetNumber("S", "Junk", 9), 9);
    EXPECT_EQ(ini.GetNumber("S", "Neg", 9), -7);
    EXPECT_EQ(ini.GetNumber("S", "Space", 9), 9);
    EXPECT_EQ(ini.GetNumber("S", "Huge", 9), 9);
    EXPECT_EQ(ini.GetNumber("S", "Empty", 9), 9);
    EXPECT_EQ(ini.GetNumber("S", "Missing", 9), 9);
    EXPECT_TRUE(ini.GetFlag("S", "On", false));
    EXPECT_FALSE(ini.GetFlag("S", "Off", true));
    EXPECT_TRUE(ini.GetFlag("S", "Missing", true));
}

TEST(IniStoreTest, PutReplacesOrAppendsAndAddsSectionsAtTheEnd) {
    TIniStore ini = TIniStore::FromText("[A]\nk=1\n[B]\nx=2\n");
    ini.PutText("a", "K", "one");
    ini.PutText("A", "new", "v");
    ini.PutText("Interbase", "User", "bob");
    EXPECT_EQ(ini.ToText(),
              "[A]\r\nk=one\r\nnew=v\r\n\r\n[B]\r\nx=2\r\n\r\n[Interbase]\r\nUser=bob\r\n\r\n");
}

class ProjIniTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/wf_ini_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        oldCwd_ = std::filesystem::current_path();
        std::filesystem::current_path(dir_);
    }
    void TearDown() override {
        std::filesystem::current_path(oldCwd_);
        std::filesystem::remove_all(dir_);
        ProjIni.reset();
    }
    std::string dir_;
    std::filesystem::path oldCwd_;
};

TEST_F(ProjIniTest, DefaultNameIsBesideTheExecutable) {
    CmdLine::SetParams({"prog"});
    ProjIniInit();
    EXPECT_EQ(ProjIniName, std::filesystem::path(ExeFileName()).replace_extension(".ini").string());
    EXPECT_TRUE(ProjIniAutoSave);
}

TEST_F(ProjIniTest, SwitchNameKeepsItsCaseAndIsRelativeToTheCurrentFolder) {
    std::ofstream("Custom.ini", std::ios::binary) << "[Interbase]\r\nMaxLines=0x20\r\n";
    CmdLine::SetParams({"prog", "/i:Custom.ini"});
    ProjIniInit();
    EXPECT_EQ(ProjIniName, dir_ + "/Custom.ini");
    EXPECT_EQ(GetIniNumber("Interbase", "MaxLines", 100), 32);
}

TEST_F(ProjIniTest, SaveWritesTheStoreAndShutDownSavesOnlyWhenAsked) {
    std::ofstream("w.ini", std::ios::binary) << "; comment\n[Interbase]\nUser=a\n";
    CmdLine::SetParams({"prog", "-I:w.ini"});
    ProjIniInit();
    PutIniText("Interbase", "User", "b");
    ProjIniAutoSave = false;
    ProjIniDone();
    EXPECT_EQ(ReadWholeFile("w.ini"), "; comment\n[Interbase]\nUser=a\n");

    ProjIniInit();
    PutIniText("Interbase", "User", "c");
    SaveIni();
    EXPECT_EQ(ReadWholeFile("w.ini"), "[Interbase]\r\nUser=c\r\n\r\n");
}

TEST_F(ProjIniTest, EmptySwitchValueLoadsNothingAndSavingFails) {
    CmdLine::SetParams({"prog", "-I:"});
    ProjIniInit();
    EXPECT_EQ(ProjIniName, "");
    EXPECT_EQ(GetIniText("Interbase", "User", "SYSDBA"), "SYSDBA");
    EXPECT_THROW(SaveIni(), EProjError);
    ProjIniDone();  // the failed save at shut-down is silent
}

TEST(ShellCheckTest, ResultsAboveThirtyTwoPass) {
    EXPECT_EQ(CheckShellExecute(33), 33);
    try {
        CheckShellExecute(32);
        FAIL();
    } catch (const EProjError& e) {
        EXPECT_STREQ(e.what(), "ShellExecute error: 32");
    }
    // The codes the desktop hand-over gives keep their first line and say what they mean.
    for (const auto& [code, meaning] : {std::pair<int, const char*>{2, "not complete"},
                                        std::pair<int, const char*>{31, "No program"}}) {
        try {
            CheckShellExecute(code);
            FAIL();
        } catch (const EProjError& e) {
            const std::string text = e.what();
            EXPECT_EQ(text.substr(0, text.find('\n')),
                      "ShellExecute error: " + std::to_string(code));
            EXPECT_NE(text.find(meaning), std::string::npos) << text;
        }
    }
}

}  // namespace

namespace {

TEST_F(ProjIniTest, ASaveThatCannotUseATemporaryRewritesInPlaceOrFailsCleanly) {
    std::ofstream("keep.ini", std::ios::binary) << "[Interbase]\r\nUser=old\r\n";
    // A directory where the new file would be written makes the write fail.
    std::filesystem::create_directory("keep.ini.new");
    std::filesystem::create_directory("keep.ini.new/x");
    CmdLine::SetParams({"prog", "-I:keep.ini"});
    ProjIniInit();
    PutIniText("Interbase", "User", "new");
    SaveIni();  // falls back to rewriting in place: the settings are saved
    EXPECT_EQ(ReadWholeFile("keep.ini"), "[Interbase]\r\nUser=new\r\n\r\n");

    // A path below a plain file cannot be written at all: an error, nothing changed.
    std::ofstream("plain", std::ios::binary) << "x";
    ProjIniName = dir_ + "/plain/sub.ini";
    EXPECT_THROW(SaveIni(), EProjError);
    EXPECT_EQ(ReadWholeFile("plain"), "x");
}

TEST_F(ProjIniTest, SaveReplacesTheFileAndLeavesNoTemporaryBehind) {
    std::ofstream("r.ini", std::ios::binary) << "; old\r\n[A]\r\nk=1\r\n";
    namespace fs = std::filesystem;
    fs::permissions("r.ini", fs::perms::owner_read | fs::perms::owner_write);
    CmdLine::SetParams({"prog", "-I:r.ini"});
    ProjIniInit();
    SaveIni();
    EXPECT_EQ(ReadWholeFile("r.ini"), "[A]\r\nk=1\r\n\r\n");
    EXPECT_EQ(fs::status("r.ini").permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_FALSE(std::filesystem::exists("r.ini.new"));
}

}  // namespace

namespace {

namespace fs = std::filesystem;

fs::perms ModeOf(const std::string& path) {
    return fs::status(path).permissions();
}

TEST_F(ProjIniTest, SavedSettingsStayPrivateAndLinkedFilesStayLinked) {
    const mode_t oldMask = ::umask(022);
    PutIniText("Interbase", "Password", "secret");

    // A first save leaves a file only its owner can read, whatever the umask.
    ProjIniName = dir_ + "/first.ini";
    SaveIni();
    EXPECT_EQ(ModeOf("first.ini"), fs::perms::owner_read | fs::perms::owner_write);

    // An existing file keeps its mode.
    fs::permissions("first.ini",
                    fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    SaveIni();
    EXPECT_EQ(ModeOf("first.ini"),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

    // A configuration kept elsewhere and linked in: the link stays, the target changes.
    fs::create_directory("real");
    std::ofstream("real/target.ini", std::ios::binary) << "[Old]\r\n";
    fs::create_symlink("real/target.ini", "linked.ini");
    ProjIniName = dir_ + "/linked.ini";
    SaveIni();
    EXPECT_TRUE(fs::is_symlink("linked.ini"));
    EXPECT_NE(ReadWholeFile("real/target.ini").find("Password=secret"), std::string::npos);
    EXPECT_FALSE(fs::exists("real/target.ini.new"));
    EXPECT_FALSE(fs::exists("linked.ini.new"));

    // A link whose target does not exist yet: the target is created, privately.
    fs::create_symlink("real/later.ini", "dangling.ini");
    ProjIniName = dir_ + "/dangling.ini";
    SaveIni();
    EXPECT_TRUE(fs::is_symlink("dangling.ini"));
    EXPECT_EQ(ModeOf("real/later.ini"), fs::perms::owner_read | fs::perms::owner_write);

    // A file left under the temporary name, hard-linked to a readable file of somebody
    // else's, never receives the password.
    std::ofstream("spy", std::ios::binary) << "nothing";
    fs::permissions("spy", fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read);
    fs::create_hard_link("spy", "watched.ini.new");
    ProjIniName = dir_ + "/watched.ini";
    SaveIni();
    EXPECT_EQ(ReadWholeFile("spy"), "nothing");
    EXPECT_EQ(ModeOf("watched.ini"), fs::perms::owner_read | fs::perms::owner_write);
    ::umask(oldMask);
}

}  // namespace
