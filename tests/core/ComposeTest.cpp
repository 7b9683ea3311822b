// Composition against a real embedded database, read under SQL dialects 1 and 3.
#include <gtest/gtest.h>

#include <memory>

#include "core/Compose.h"
#include "store/Query.h"
#include "tests/support/TempDatabase.h"

namespace {

class ComposeTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        db_ = new TTempDatabase(false);
        db_->RunIsql(R"(
INSERT INTO NODE (NODE_ID, TITLE, ORIG_URL, ORIG_ID, GUIDE_TYPE, BODY, ENCODING, STAMP_UPDATED)
  VALUES (1, 'First', 'http://127.0.0.1/first', 'first', 'EZTRIP', 'body one', 'utf-8',
          '2024-03-05 14:07:09');
INSERT INTO NODE (NODE_ID, TITLE, ORIG_ID, GUIDE_TYPE) VALUES (2, 'Second', 'second', 'EZTRIP');
INSERT INTO NODE (NODE_ID, TITLE, ORIG_ID, GUIDE_TYPE, BODY) VALUES (3, 'Alpha', 'a', 'ALPHA', 'x');
INSERT INTO NODE (NODE_ID, TITLE, ORIG_ID, GUIDE_TYPE, BODY) VALUES (4, 'Zulu', 'z', 'ZULU', 'x');
INSERT INTO NODE (NODE_ID, TITLE, ORIG_ID, GUIDE_TYPE) VALUES (5, 'Quote', 'q', 'O''REILLY');
)");
    }
    static void TearDownTestSuite() {
        delete db_;
        db_ = nullptr;
    }

    void SetUp() override {
        Connect(d1, tr1, 1);
        Connect(d3, tr3, 3);
        Exec("DELETE FROM TEMPLATE");
    }

    static void Connect(TDatabase& db, TTransaction& tr, int dialect) {
        db_->Connect(db, tr, dialect);
    }

    void Exec(const std::string& sql) {
        TQuery q(d3);
        q.SetSQL(sql);
        q.ExecSQL();
        tr3.CommitRetaining();
    }

    void AddTemplate(const std::string& guide, const std::string& kind, const std::string& text) {
        TQuery q(d3);
        q.SetSQL("INSERT INTO TEMPLATE (GUIDE_TYPE, KIND, TEXT) VALUES (:G, :K, :T)");
        q.SetParam("G", guide);
        q.SetParam("K", kind);
        q.SetParam("T", text);
        q.ExecSQL();
        tr3.CommitRetaining();
    }

    void SetBody(int nodeId, const std::string& body) {
        TQuery q(d3);
        q.SetSQL("UPDATE NODE SET BODY=:B WHERE NODE_ID=:Id");
        q.SetParam("B", body);
        q.SetParam("Id", nodeId);
        q.ExecSQL();
        tr3.CommitRetaining();
    }

    static std::string Node(TDatabase& db, int nodeId, std::string_view kind = kKindDefault) {
        std::string out = "[";  // composition appends; it never replaces
        EXPECT_TRUE(ComposeNode(db, nodeId, kind, out));
        return out;
    }

    // The frame of nodeId around one piece that composes to exactly pieces.
    static std::string Frame(TDatabase& db, int nodeId, const std::string& pieces) {
        std::vector<TPiece> list(1);
        list[0].Template = pieces;
        std::string out;
        ComposeConcatenation(db, nodeId, list, out);
        return out;
    }

    static TTempDatabase* db_;
    TDatabase d1, d3;
    TTransaction tr1{d1}, tr3{d3};
};
TTempDatabase* ComposeTest::db_ = nullptr;

TEST_F(ComposeTest, MarkersTakeColumnsAndOtherTextIsCopied) {
    AddTemplate("DEFAULT", "DEFAULT",
                "<h1><#TITLE#></h1> #> <#NO_SUCH#>|<##>|<#ORIG_URL#>|<#BODY#>|<#NODE_ID#>|"
                "<#STAMP_UPDATED#>");
    EXPECT_EQ(Node(d3, 1),
              "[<h1>First</h1> #> ||http://127.0.0.1/first|body one|1|2024-03-05 14:07:09");
    // NULL columns give nothing, also for numbers and dates.
    EXPECT_EQ(Node(d3, 2), "[<h1>Second</h1> #> ||||2|");

    Exec("DELETE FROM TEMPLATE");
    AddTemplate("DEFAULT", "DEFAULT", "plain <b>text</b>\r\n without markers # > < #");
    EXPECT_EQ(Node(d3, 1), "[plain <b>text</b>\r\n without markers # > < #");
}

TEST_F(ComposeTest, UnclosedMarkerLosesOneCharacter) {
    AddTemplate("DEFAULT", "DEFAULT", "<#TITLE#>: a<#TITLE and <#x");
    // Every "<#" after the last "#>" costs the character after it.
    EXPECT_EQ(Node(d3, 1), "[First: aITLE and ");
    Exec("DELETE FROM TEMPLATE");
    AddTemplate("DEFAULT", "DEFAULT", "end<#");
    EXPECT_EQ(Node(d3, 1), "[end");
}

TEST_F(ComposeTest, NamesFollowTheDialect) {
    AddTemplate("DEFAULT", "DEFAULT", "<# title #>|<#Title#>|<#TITLE#>|<#body#>");
    EXPECT_EQ(Node(d1, 1), "[First|First|First|body one");
    EXPECT_EQ(Node(d3, 1), "[||First|");
}

TEST_F(ComposeTest, OwnGuideTypeWinsWhateverTheRowOrder) {
    // Guide types on both sides of "DEFAULT", each stored before and after it, so the
    // server's order (insertion or index) cannot decide the outcome.
    for (const bool ownFirst : {true, false}) {
        Exec("DELETE FROM TEMPLATE");
        if (ownFirst) {
            AddTemplate("ALPHA", "DEFAULT", "alpha <#TITLE#>");
            AddTemplate("ZULU", "DEFAULT", "zulu <#TITLE#>");
        }
        AddTemplate("DEFAULT", "DEFAULT", "common <#TITLE#>");
        if (!ownFirst) {
            AddTemplate("ALPHA", "DEFAULT", "alpha <#TITLE#>");
            AddTemplate("ZULU", "DEFAULT", "zulu <#TITLE#>");
        }
        AddTemplate("ALPHA", "CONCAT2", "wrong kind");
        EXPECT_EQ(Node(d3, 3), "[alpha Alpha") << ownFirst;
        EXPECT_EQ(Node(d3, 4), "[zulu Zulu") << ownFirst;
        EXPECT_EQ(Node(d1, 4), "[zulu Zulu") << ownFirst;
        EXPECT_EQ(Node(d3, 1), "[common First") << ownFirst;
    }
    // Letter case of the guide type counts; a quote in it is just a character.
    Exec("DELETE FROM TEMPLATE");
    AddTemplate("alpha", "DEFAULT", "lower");
    AddTemplate("O'REILLY", "DEFAULT", "quoted <#TITLE#>");
    EXPECT_EQ(Node(d3, 3), "[");
    EXPECT_EQ(Node(d3, 5), "[quoted Quote");
    EXPECT_EQ(FindTemplate(d3, "O'REILLY", kKindConcat), "");
}

TEST_F(ComposeTest, FrameRepeatsThePiecesForEveryBodyMarker) {
    AddTemplate("DEFAULT", "CONCAT", "<#TITLE#>{<#BODY#>}{<#BODY#>}<#body#>");
    const std::string pieces = "<p>one</p><p>two</p>";
    // Only "BODY" itself is the pieces; a lower-case body is the frame node's column.
    EXPECT_EQ(Frame(d1, 1, pieces), "First{" + pieces + "}{" + pieces + "}body one");
    EXPECT_EQ(Frame(d3, 1, pieces), "First{" + pieces + "}{" + pieces + "}");
    // Nothing marked: the frame alone.
    EXPECT_EQ(Frame(d3, 1, ""), "First{}{}");
    // The root has no row: the "DEFAULT" frame, its column markers empty.
    EXPECT_EQ(Frame(d3, 0, pieces), "{" + pieces + "}{" + pieces + "}");
    // Without a frame template the result is empty.
    Exec("DELETE FROM TEMPLATE");
    EXPECT_EQ(Frame(d3, 1, pieces), "");
}

TEST_F(ComposeTest, JoinComposesEveryPieceThroughItsOwnTemplate) {
    AddTemplate("DEFAULT", "CONCAT2", "(<#TITLE#>:<#BODY#>)");
    AddTemplate("ALPHA", "CONCAT2", "[<# title #>|<#NODE_ID#>|<#x");
    AddTemplate("DEFAULT", "CONCAT", "<#TITLE#>{<#BODY#>}<#ORIG_URL#>{<#BODY#>}");
    std::vector<TPiece> pieces;
    for (const int id : {3, 1, 0, 999, 2}) {
        TPiece piece;
        if (ReadPiece(d1, id, kKindConcat2, piece)) pieces.push_back(std::move(piece));
    }
    ASSERT_EQ(pieces.size(), 3u);  // no row for the root and for 999
    std::string out = "kept:";
    ComposeConcatenation(d1, 1, pieces, out);
    const std::string joined = "[Alpha|3|(First:body one)(Second:)";
    EXPECT_EQ(out, "kept:First{" + joined + "}http://127.0.0.1/first{" + joined + "}");

    // Under dialect 3 the spaced name of the ALPHA piece names nothing.
    pieces.clear();
    for (const int id : {3, 2}) {
        pieces.emplace_back();
        ASSERT_TRUE(ReadPiece(d3, id, kKindConcat2, pieces.back()));
    }
    out.clear();
    ComposeConcatenation(d3, 0, pieces, out);
    EXPECT_EQ(out, "{[|3|(Second:)}{[|3|(Second:)}");
}

TEST_F(ComposeTest, BytesPassUnchanged) {
    // NUL bytes, invalid UTF-8 and Latin-1 in the body, in a template of several megabytes
    // made mostly of unclosed markers.
    std::string body = std::string("a\0b\xFF\xFE\xC3(caf\xE9", 11);
    SetBody(2, body);
    std::string big(3 << 20, 'x');
    for (size_t i = 0; i < big.size(); i += 7) big.replace(i, 2, "<#");
    const std::string templ = "<#BODY#>" + big;
    AddTemplate("DEFAULT", "DEFAULT", templ);

    std::string expected = "[" + body;
    for (size_t i = 0; i < big.size(); i += 7) expected += big.substr(i + 3, 4);
    EXPECT_EQ(Node(d3, 2), expected);
    Exec("UPDATE NODE SET BODY=NULL WHERE NODE_ID=2");
}

TEST_F(ComposeTest, DocumentsOfDifferentCharacterSetsJoinAsUtf8) {
    // Latin-1 under two labels (one set), and UTF-8.
    const auto add = [this](int id, const std::string& title, const std::string& body,
                            const std::string& encoding) {
        TQuery q(d3);
        q.SetSQL("INSERT INTO NODE (NODE_ID, TITLE, ORIG_ID, GUIDE_TYPE, BODY, ENCODING) "
                 "VALUES (:Id, :T, :O, 'MIX', :B, :E)");
        q.SetParam("Id", id);
        q.SetParam("T", title);
        q.SetParam("O", "mix" + std::to_string(id));
        q.SetParam("B", body);
        q.SetParam("E", encoding);
        q.ExecSQL();
        tr3.CommitRetaining();
    };
    add(60, "Caf\xE9", "cr\xE8me", "ISO-8859-1");
    add(61, "Na\xEFve", "d\xE9j\xE0", " windows-1252");
    add(62, "Caf\xC3\xA9", "cr\xC3\xA8me", "utf-8");
    AddTemplate("MIX", "CONCAT", "<meta charset=<#ENCODING#>><#TITLE#>|<#BODY#>");
    AddTemplate("MIX", "CONCAT2", "<#TITLE#>:<#BODY#>;");
    AddTemplate("DEFAULT", "CONCAT", "[<#ENCODING#>]<#BODY#>");
    const auto join = [this](int frameId, std::vector<int> ids) {
        std::vector<TPiece> pieces;
        for (int id : ids) {
            TPiece piece;
            EXPECT_TRUE(ReadPiece(d3, id, kKindConcat2, piece));
            pieces.push_back(std::move(piece));
        }
        std::string out;
        ComposeConcatenation(d3, frameId, pieces, out);
        return out;
    };

    // One set, whatever its labels: the bytes as stored, the frame's own label.
    EXPECT_EQ(join(60, {60, 61}),
              "<meta charset=ISO-8859-1>Caf\xE9|Caf\xE9:cr\xE8me;Na\xEFve:d\xE9j\xE0;");
    EXPECT_EQ(join(62, {62}), "<meta charset=utf-8>Caf\xC3\xA9|Caf\xC3\xA9:cr\xC3\xA8me;");
    // Sets that differ: every piece and the frame's title in UTF-8, declared so.
    EXPECT_EQ(join(62, {60, 62, 61}),
              "<meta charset=UTF-8>Caf\xC3\xA9|Caf\xC3\xA9:cr\xC3\xA8me;"
              "Caf\xC3\xA9:cr\xC3\xA8me;Na\xC3\xAFve:d\xC3\xA9j\xC3\xA0;");
    // A frame in one set around pieces of another counts as a mix too.
    EXPECT_EQ(join(62, {60}), "<meta charset=UTF-8>Caf\xC3\xA9|Caf\xC3\xA9:cr\xC3\xA8me;");
    // The root has no set of its own; a mixed join still says UTF-8.
    EXPECT_EQ(join(0, {60, 62}), "[UTF-8]Caf\xC3\xA9:cr\xC3\xA8me;Caf\xC3\xA9:cr\xC3\xA8me;");
    EXPECT_EQ(join(0, {60}), "[]Caf\xE9:cr\xE8me;");
    Exec("DELETE FROM NODE WHERE NODE_ID IN (60, 61, 62)");
}

}  // namespace
