// Which reader serves a guide type: compiled readers keep theirs, the user's files
// come before the shipped ones, a file forced for a run before everything, and a file
// changed on disk counts as changed at the next look.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "download/wf_EzTrip.h"
#include "script/LuaReader.h"
#include "script/ReaderCatalogue.h"

namespace {

class TFolders {
public:
    TFolders() {
        char name[] = "/tmp/wf-catalogue-XXXXXX";
        root_ = mkdtemp(name) ? name : "/tmp";
        std::system(("mkdir -p '" + User() + "' '" + Shipped() + "'").c_str());
    }
    ~TFolders() { std::system(("rm -rf '" + root_ + "'").c_str()); }
    std::string User() const { return root_ + "/user/"; }
    std::string Shipped() const { return root_ + "/shipped/"; }
    std::string Write(const std::string& path, const std::string& text) const {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
        return path;
    }
    static std::string Declaring(const std::string& guideType, const std::string& description) {
        return "reader { guide_type = '" + guideType + "', description = '" + description + "' }\n";
    }

private:
    std::string root_;
};

std::string Listed(TReaderCatalogue& catalogue) {
    std::string out;
    for (const TReaderInfo& info : catalogue.List())
        out += info.GuideType + "=" + info.Description + "@" + info.Source + "\n";
    return out;
}

TEST(ReaderCatalogueTest, CompiledFirstThenTheUsersFilesThenTheShippedOnes) {
    TFolders folders;
    const std::string shipped =
        folders.Write(folders.Shipped() + "a.lua", TFolders::Declaring("SITE", "shipped") +
                                                       TFolders::Declaring("EZTRIP", "imitation") +
                                                       TFolders::Declaring("OTHER", "other"));
    const std::string user = folders.Write(folders.User() + "z.lua", TFolders::Declaring("SITE", "mine"));
    folders.Write(folders.User() + "notes.txt", TFolders::Declaring("TXT", "not a reader file"));
    TReaderCatalogue catalogue({folders.User(), folders.Shipped(), folders.User() + "missing/"});

    const std::string listed = Listed(catalogue);
    EXPECT_NE(listed.find("ALPHABEDS=AlphaBeds travel guide pages@built in\n"), std::string::npos);
    EXPECT_NE(listed.find("EZTRIP=EzTrip destination guide pages@built in\n"), std::string::npos);
    EXPECT_NE(listed.find("OTHER=other@" + shipped + "\n"), std::string::npos);
    EXPECT_NE(listed.find("SITE=mine@" + user + "\n"), std::string::npos);
    EXPECT_EQ(listed.find("TXT"), std::string::npos);
    EXPECT_EQ(listed.find("imitation"), std::string::npos);

    EXPECT_NE(dynamic_cast<TEzTripDownload*>(catalogue.Create("EZTRIP").get()), nullptr);
    auto site = catalogue.Create("SITE");
    ASSERT_NE(dynamic_cast<TLuaReader*>(site.get()), nullptr);
    EXPECT_EQ(static_cast<TLuaReader*>(site.get())->File(), user);
    EXPECT_EQ(catalogue.Create("site"), nullptr);
    EXPECT_EQ(catalogue.Create("NOBODY"), nullptr);
    EXPECT_TRUE(catalogue.Problems().empty());
}

TEST(ReaderCatalogueTest, AChangedFileIsReadAgainAndABrokenOneIsAProblemNotAnEnd) {
    TFolders folders;
    const std::string shipped =
        folders.Write(folders.Shipped() + "a.lua", TFolders::Declaring("SITE", "shipped"));
    const std::string user = folders.Write(folders.User() + "a.lua", TFolders::Declaring("SITE", "first"));
    TReaderCatalogue catalogue({folders.User(), folders.Shipped()});
    EXPECT_NE(Listed(catalogue).find("SITE=first@"), std::string::npos);

    folders.Write(user, TFolders::Declaring("SITE", "second, longer"));
    EXPECT_NE(Listed(catalogue).find("SITE=second, longer@" + user), std::string::npos);

    // Broken, the user's file no longer serves the guide type; the shipped one does.
    folders.Write(user, "reader { guide_type = 'SITE',\n");
    EXPECT_NE(Listed(catalogue).find("SITE=shipped@" + shipped), std::string::npos);
    const std::vector<TReaderProblem> problems = catalogue.Problems();
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0].File, user);
    EXPECT_NE(problems[0].Message.find("a.lua:2:"), std::string::npos) << problems[0].Message;
}

TEST(ReaderCatalogueTest, AForcedFileServesItsGuideTypesBeforeEverythingElse) {
    TFolders folders;
    const std::string forced =
        folders.Write(folders.User() + "try.lua", TFolders::Declaring("EZTRIP", "trial"));
    TReaderCatalogue catalogue({folders.Shipped()});
    catalogue.ForceFile(forced);
    auto reader = catalogue.Create("EZTRIP");
    ASSERT_NE(dynamic_cast<TLuaReader*>(reader.get()), nullptr);
    EXPECT_NE(Listed(catalogue).find("EZTRIP=trial@" + forced), std::string::npos);
    EXPECT_EQ(dynamic_cast<TLuaReader*>(catalogue.Create("ALPHABEDS").get()), nullptr);

    const std::string empty = folders.Write(folders.User() + "empty.lua", "local x = 1\n");
    EXPECT_THROW(catalogue.ForceFile(empty), EReaderError);
    EXPECT_THROW(catalogue.ForceFile(folders.User() + "none.lua"), EReaderError);
    EXPECT_EQ(catalogue.ForcedFile(), forced);  // a refused file changes nothing
}

}  // namespace
