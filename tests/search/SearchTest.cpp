// The index against a real database: what is found, and how the index follows the
// database when documents change, disappear, or the index file is lost or damaged.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "search/DocumentSearch.h"
#include "store/Query.h"
#include "store/Statements.h"
#include "tests/support/TempDatabase.h"

namespace {

class SearchTest : public ::testing::Test {
protected:
    void SetUp() override {
        temp_.Connect(db_, tr_);
        indexPath_ = temp_.Folder() + "/cache/index.sqlite";
    }

    // Inserts a document and stores its content through the program's own statements.
    int AddDocument(const std::string& title, const std::string& body,
                    const std::string& encoding = "utf-8") {
        const std::string origId = "doc" + std::to_string(++count_);
        TQuery q(db_);
        q.SetSQL(std::string(Statements::InsertNode));
        q.SetParam("Title", title);
        q.SetParam("OrigUrl", "http://127.0.0.1/" + origId);
        q.SetParam("OrigId", origId);
        q.SetParam("Guide", std::string("EZTRIP"));
        q.ExecSQL();
        tr_.CommitRetaining();
        q.SetSQL(std::string(Statements::FindNodeByOrigId));
        q.SetParam("OrigId", origId);
        q.SetParam("Guide", std::string("EZTRIP"));
        q.ExecQuery();
        const int id = q.AsInteger("NODE_ID");
        q.Close();
        UpdateContent(db_, tr_, id, title, body, encoding);
        return id;
    }

    static void UpdateContent(TDatabase& db, TTransaction& tr, int id, const std::string& title,
                              const std::string& body, const std::string& encoding) {
        TQuery q(db);
        q.SetSQL(std::string(Statements::UpdateNodeContent));
        q.SetParam("NodeId", id);
        q.SetParam("Title", title);
        q.SetParam("Body", body);
        q.SetParam("Head", std::string());
        q.SetParam("Encoding", encoding);
        q.ExecSQL();
        tr.CommitRetaining();
    }

    std::vector<int> Ids(TDocumentSearch& search, const std::string& query) {
        std::vector<int> ids;
        for (const TSearchHit& hit : search.Search(query)) ids.push_back(hit.NodeId);
        return ids;
    }

    TTempDatabase temp_;
    TDatabase db_;
    TTransaction tr_{db_};
    std::string indexPath_;
    int count_ = 0;
};

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

TEST_F(SearchTest, AccentsPhrasesPrefixesAndRanking) {
    const int cafe =
        AddDocument("Old town", "<p>The Caf\xe9 Central serves breakfast.</p>", "windows-1252");
    const int plain =
        AddDocument("Harbour", "<p>A cafe by the harbour; central station nearby.</p>");
    const int guide = AddDocument("Guidebook", "<p>Guides and guided walks.</p>", "");
    const int titled = AddDocument("Breakfast places", "<p>Where to eat.</p>");
    TDocumentSearch search(db_, indexPath_);

    // Accents are ignored in both directions.
    EXPECT_THAT(Ids(search, "cafe"), UnorderedElementsAre(cafe, plain));
    EXPECT_THAT(Ids(search, "CAF\xc3\x89"), UnorderedElementsAre(cafe, plain));
    // A phrase needs its words together and in order; loose words need them anywhere.
    EXPECT_THAT(Ids(search, "\"cafe central\""), ElementsAre(cafe));
    EXPECT_THAT(Ids(search, "central cafe"), UnorderedElementsAre(cafe, plain));
    // Prefixes.
    EXPECT_THAT(Ids(search, "guid*"), ElementsAre(guide));
    EXPECT_THAT(Ids(search, "guid"), IsEmpty());
    // A word in the title ranks above the same word in the text.
    EXPECT_THAT(Ids(search, "breakfast"), ElementsAre(titled, cafe));

    // The title comes decoded, the snippet marks the match.
    const auto hits = search.Search("serves");
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].Title, "Old town");
    EXPECT_NE(hits[0].Snippet.find(std::string(1, kMatchStart) + "serves" + kMatchEnd),
              std::string::npos)
        << hits[0].Snippet;
    // Markup is not searchable text.
    EXPECT_THAT(Ids(search, "p"), IsEmpty());
}

TEST_F(SearchTest, FollowsChangesMadeThroughAnotherConnection) {
    const int changed = AddDocument("Lakes", "<p>Boats on the lake.</p>");
    const int deleted = AddDocument("Castles", "<p>A castle on the hill.</p>");
    const int kept = AddDocument("Mountains", "<p>Peaks and a lake.</p>");
    TDocumentSearch search(db_, indexPath_);
    EXPECT_THAT(Ids(search, "lake"), UnorderedElementsAre(changed, kept));

    // Another user of the same database.
    TDatabase other;
    TTransaction otherTr(other);
    temp_.Connect(other, otherTr);
    UpdateContent(other, otherTr, changed, "Lakes", "<p>Gondolas on the lagoon.</p>", "utf-8");
    {
        TQuery q(other);
        q.SetSQL(Statements::WithId(Statements::DeleteNode, deleted));
        q.ExecSQL();
        otherTr.CommitRetaining();
    }
    const int added = AddDocument("Islands", "<p>A lagoon island.</p>");

    EXPECT_THAT(Ids(search, "lagoon"), UnorderedElementsAre(changed, added));
    EXPECT_THAT(Ids(search, "lake"), ElementsAre(kept));
    EXPECT_THAT(Ids(search, "castle"), IsEmpty());
    // Nothing changed since: nothing is indexed again.
    const TCatchUp again = search.CatchUp();
    EXPECT_EQ(again.Indexed + again.Removed, 0);

    // A second index of the same database, as another program keeps it, agrees.
    TDocumentSearch second(db_, indexPath_ + "2");
    EXPECT_THAT(Ids(second, "lagoon"), UnorderedElementsAre(changed, added));
}

TEST_F(SearchTest, RebuildsAMissingDamagedOrForeignIndex) {
    const int id = AddDocument("Rivers", "<p>Canoe trips down the river.</p>");
    {
        TDocumentSearch search(db_, indexPath_);
        EXPECT_THAT(Ids(search, "canoe"), ElementsAre(id));
    }
    // Damaged: the file's pages overwritten with junk.
    {
        std::fstream f(indexPath_, std::ios::in | std::ios::out | std::ios::binary);
        ASSERT_TRUE(f);
        const std::string junk(8192, '\x5a');
        f.write(junk.data(), junk.size());
    }
    {
        TDocumentSearch search(db_, indexPath_);
        EXPECT_THAT(Ids(search, "canoe"), ElementsAre(id));
    }
    // Damaged inside: the file opens, but a table of the index is gone. The next
    // change to index meets it.
    {
        sqlite3* raw = nullptr;
        ASSERT_EQ(sqlite3_open(indexPath_.c_str(), &raw), SQLITE_OK);
        EXPECT_EQ(sqlite3_exec(raw, "DROP TABLE fts_data", nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(raw);
    }
    UpdateContent(db_, tr_, id, "Rivers", "<p>Canoe trips down the wide river.</p>", "utf-8");
    {
        TDocumentSearch search(db_, indexPath_);
        EXPECT_THAT(Ids(search, "wide"), ElementsAre(id));
    }
    // Missing.
    TSearchIndex::RemoveFiles(indexPath_);
    {
        TDocumentSearch search(db_, indexPath_);
        EXPECT_THAT(Ids(search, "canoe"), ElementsAre(id));
    }
    // Built from another database that stood under the same name: its documents
    // must not be found here.
    {
        TSearchIndex index(indexPath_);
        index.Begin();
        index.SetMeta("database", "somewhere else");
        index.Put(id + 100, "", "Stale", "stale canoe");
        index.Commit();
    }
    TDocumentSearch search(db_, indexPath_);
    EXPECT_THAT(Ids(search, "canoe"), ElementsAre(id));
    EXPECT_THAT(Ids(search, "stale"), IsEmpty());
}

TEST_F(SearchTest, AnIndexOfAnotherVersionIsBuiltAgain) {
    const int id = AddDocument("Forests", "<p>Walks in the forest.</p>");
    {
        TDocumentSearch search(db_, indexPath_);
        EXPECT_THAT(Ids(search, "forest"), ElementsAre(id));
    }
    {
        // An older program's index: other tables, another version number.
        TSearchIndex::RemoveFiles(indexPath_);
        sqlite3* old = nullptr;
        ASSERT_EQ(sqlite3_open(indexPath_.c_str(), &old), SQLITE_OK);
        EXPECT_EQ(sqlite3_exec(old, "CREATE TABLE fts(x); PRAGMA user_version=99;", nullptr,
                               nullptr, nullptr),
                  SQLITE_OK);
        sqlite3_close(old);
    }
    TDocumentSearch search(db_, indexPath_);
    EXPECT_THAT(Ids(search, "forest"), ElementsAre(id));
}

TEST(IndexPathFor, OnePerDatabaseInTheCacheFolder) {
    setenv("XDG_CACHE_HOME", "/tmp/wf-cache", 1);
    const std::string a = IndexPathFor("/data/a.fdb");
    EXPECT_EQ(a.rfind("/tmp/wf-cache/wayfolio/", 0), 0u) << a;
    EXPECT_EQ(a, IndexPathFor("/data/a.fdb"));
    EXPECT_NE(a, IndexPathFor("server:/data/a.fdb"));
    unsetenv("XDG_CACHE_HOME");
    setenv("HOME", "/home/someone", 1);
    EXPECT_EQ(IndexPathFor("x").rfind("/home/someone/.cache/wayfolio/", 0), 0u);
}

}  // namespace
