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

    // Records that parent's page links to child (the title came from that link).
    void Link(int parent, int child) {
        TQuery q(db_);
        q.SetSQL(std::string(Statements::InsertLink));
        q.SetParam("MId", parent);
        q.SetParam("DId", child);
        q.SetParam("Order", 1);
        q.ExecSQL();
        tr_.CommitRetaining();
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
    EXPECT_THAT(Ids(search, "guideboo*"), ElementsAre(guide));
    EXPECT_THAT(Ids(search, "guideboo"), IsEmpty());
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
    const int changed = AddDocument("Waters", "<p>Boats on the lake.</p>");
    const int deleted = AddDocument("Castles", "<p>A castle on the hill.</p>");
    const int kept = AddDocument("Mountains", "<p>Peaks and a lake.</p>");
    TDocumentSearch search(db_, indexPath_);
    EXPECT_THAT(Ids(search, "lake"), UnorderedElementsAre(changed, kept));

    // Another user of the same database.
    TDatabase other;
    TTransaction otherTr(other);
    temp_.Connect(other, otherTr);
    UpdateContent(other, otherTr, changed, "Waters", "<p>Gondolas on the lagoon.</p>", "utf-8");
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

TEST_F(SearchTest, WordFormsAndTheQueryLanguage) {
    const int cafes = AddDocument("Caf\xc3\xa9s of the old town",
                                  "<p>Markets on Sundays; the tourist office.</p>");
    const int harbour =
        AddDocument("Harbour", "<p>A market hall and a cafe, no tourist crowds.</p>");
    const int museums = AddDocument("Museums", "<p>Old paintings, or so they say.</p>");
    TDocumentSearch search(db_, indexPath_);

    // Word forms: plural and accented forms are the same word.
    EXPECT_THAT(Ids(search, "cafe"), ElementsAre(cafes, harbour));
    EXPECT_THAT(Ids(search, "market"), UnorderedElementsAre(cafes, harbour));
    EXPECT_THAT(Ids(search, "markets"), UnorderedElementsAre(cafes, harbour));
    EXPECT_THAT(Ids(search, "painting"), ElementsAre(museums));
    // The operators.
    EXPECT_THAT(Ids(search, "title:cafe"), ElementsAre(cafes));
    EXPECT_THAT(Ids(search, "market -sundays"), ElementsAre(harbour));
    EXPECT_THAT(Ids(search, "NOT sundays market"), ElementsAre(harbour));
    EXPECT_THAT(Ids(search, "museum OR harbour"), UnorderedElementsAre(harbour, museums));
    EXPECT_THAT(Ids(search, "old OR crowds -paintings"), UnorderedElementsAre(cafes, harbour));
    // Lower-case "or" is a word, not an operator.
    EXPECT_THAT(Ids(search, "old or"), ElementsAre(museums));
    // Refused with a message, nothing searched.
    EXPECT_THROW(search.Search("-market"), ESearchQuery);

    // The count covers every match, also beyond a limit.
    EXPECT_EQ(search.Search("market", 1).size(), 1u);
    EXPECT_EQ(search.Count("market"), 2);
    EXPECT_EQ(search.Count("market -sundays"), 1);
    EXPECT_EQ(search.Count(""), 0);
}

TEST_F(SearchTest, TitlesAreIndexedAsTheLinkThatGaveThemReads) {
    const int utf8Parent = AddDocument("Switzerland", "<p>Cities.</p>", "utf-8");
    const int latinParent = AddDocument("Suisse", "<p>Villes.</p>", "iso-8859-1");
    // The link text came from a UTF-8 page; the document's own page is Latin-1.
    const int zurich = AddDocument("Z\xc3\xbcrich", "<p>Lake.</p>", "iso-8859-1");
    // Entities and markup in a link text.
    const int cafe = AddDocument("Caf&eacute; <b>Bern</b>", "<p>Coffee.</p>", "utf-8");
    // A Latin-1 link text to a page in another single-byte set.
    const int geneve = AddDocument("Gen\xe8ve", "<p>Lac.</p>", "windows-1251");
    Link(utf8Parent, zurich);
    Link(utf8Parent, cafe);
    Link(latinParent, geneve);
    // Terminal controls in a stored title (ESC, and CSI as U+009B) never reach a hit.
    const int hostile = AddDocument(
        "Evil\x1b[2J\xc2\x9b"
        "31mtitle",
        "<p>Text.</p>");
    TDocumentSearch search(db_, indexPath_);

    auto title = [&](const std::string& query) {
        const auto hits = search.Search(query);
        return hits.size() == 1 ? hits[0].Title : "(" + std::to_string(hits.size()) + " hits)";
    };
    EXPECT_EQ(title("zurich"), "Z\xc3\xbcrich");
    EXPECT_EQ(title("caf\xc3\xa9"), "Caf\xc3\xa9 Bern");
    EXPECT_EQ(title("geneve"), "Gen\xc3\xa8ve");
    EXPECT_EQ(title("evil"), "Evil[2J 31mtitle");
    EXPECT_THAT(Ids(search, "evil"), ElementsAre(hostile));
    EXPECT_THAT(Ids(search, "eacute"), IsEmpty());
    EXPECT_THAT(Ids(search, "title:b"), IsEmpty());

    // The parent page now declares another set: the title reads in it, though the
    // document itself did not change.
    UpdateContent(db_, tr_, latinParent, "Suisse", "<p>Villes.</p>", "windows-1251");
    const auto lac = search.Search("lac");
    ASSERT_EQ(lac.size(), 1u);
    EXPECT_EQ(lac[0].Title, "Gen\xd0\xb8ve");
}

TEST_F(SearchTest, SnippetsShowTheFirstMatchInItsWords) {
    std::string body;
    for (int i = 0; i < 3000; ++i) body += "<p>filler text here</p>";
    body += "<p>then the rare gem sits in the old town square</p>";
    // A word met over and over (a large page of one topic).
    for (int i = 0; i < 20000; ++i) body += "<p>gem</p>";
    const int large = AddDocument("Gems", body);
    const int small = AddDocument("Town walks", "<p>Start at the square.</p>");
    TDocumentSearch search(db_, indexPath_);

    const std::string open(1, kMatchStart), close(1, kMatchEnd);
    auto snippet = [&](const std::string& query) {
        const auto hits = search.Search(query);
        return hits.empty() ? std::string("(none)") : hits[0].Snippet;
    };
    // A few words before the first match, then the rest of the window; matched words
    // next to each other (a phrase, or words of the query) share one mark.
    EXPECT_EQ(snippet("\"old town\" square"), "...gem sits in the " + open + "old town square" +
                                                  close +
                                                  " gem gem gem gem gem gem gem gem gem...");
    EXPECT_EQ(snippet("rare gem"), "...text here then the " + open + "rare gem" + close +
                                       " sits in the old town square " + open + "gem gem gem gem" +
                                       close + "...");
    EXPECT_EQ(snippet("filler"), open + "filler" + close + " text here " + open + "filler" + close +
                                     " text here " + open + "filler" + close + " text here " +
                                     open + "filler" + close + " text here " + open + "filler" +
                                     close + " text here " + open + "filler" + close + "...");
    // A match in the title only: the text's first words, nothing marked.
    EXPECT_EQ(search.Search("walks")[0].Snippet, "Start at the square.");
    EXPECT_EQ(search.Search("walks")[0].NodeId, small);
    EXPECT_EQ(search.Search("gems")[0].NodeId, large);
}

TEST_F(SearchTest, ASecondProgramReadsWhileTheFirstWritesAndDeletesNothing) {
    const int first = AddDocument("Bridges", "<p>Stone bridges.</p>");
    {
        TDocumentSearch search(db_, indexPath_);
        EXPECT_THAT(Ids(search, "stone"), ElementsAre(first));
    }
    const int second = AddDocument("Towers", "<p>Stone towers.</p>");

    // Another program holds the index for writing (its catch-up under way).
    TSearchIndex other(indexPath_);
    other.Begin();
    {
        TDocumentSearch search(db_, indexPath_, 50);
        EXPECT_TRUE(search.CatchUp().Busy);
        // What the other program's index holds is searched, and kept.
        EXPECT_THAT(Ids(search, "stone"), ElementsAre(first));
    }
    other.Commit();
    EXPECT_EQ(other.Stamps().size(), 1u);
    // Once it is done, the next search catches up as usual.
    TDocumentSearch search(db_, indexPath_, 50);
    EXPECT_THAT(Ids(search, "stone"), UnorderedElementsAre(first, second));
}

TEST_F(SearchTest, AnUnwritableCacheFolderIsNamedInTheMessage) {
    AddDocument("Parks", "<p>Green parks.</p>");
    // A folder that cannot be made, even by root (the system's own file system).
    TDocumentSearch search(db_, "/sys/wayfolio-index-test/index.sqlite");
    try {
        search.Search("parks");
        ADD_FAILURE() << "searched without an index";
    } catch (const ESearchIndex& e) {
        EXPECT_EQ(e.Cause(), ESearchIndex::TCause::Unwritable);
        // Says what cannot be done where, and why; not the file library's "unable to open".
        const std::string what = e.what();
        EXPECT_EQ(what.rfind("cannot ", 0), 0u) << what;
        EXPECT_NE(what.find("/sys/wayfolio-index-test: "), std::string::npos) << what;
    }
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
