// Composing documents from HTML templates: a template's markers "<#NAME#>" are
// replaced by the columns of a document's NODE row, and a concatenation frame's
// "<#BODY#>" markers by the joined pieces.
//
// Everything is bytes: templates, column values and results are copied as they are,
// with no character conversion, with one exception: a join of documents in different
// character sets is made in UTF-8 (see ComposeConcatenation), since no single set
// could declare bytes of both.
// Nothing here keeps state between calls; every call reads the template afresh.
#pragma once

#include <string>
#include <string_view>
#include <vector>

class TDatabase;
class TQuery;

// Template kinds (column KIND of TEMPLATE).
inline constexpr std::string_view kKindDefault = "DEFAULT";  // showing one document
inline constexpr std::string_view kKindConcat = "CONCAT";    // frame of a concatenation
inline constexpr std::string_view kKindConcat2 = "CONCAT2";  // one joined document

// The columns of one document row as composition sees them.
class TComposeRow {
public:
    virtual ~TComposeRow() = default;
    virtual int FieldCount() const = 0;
    // The column's name as the database reports it.
    virtual std::string FieldName(int index) const = 0;
    // Appends the column's value as text; NULL appends nothing.
    virtual void AppendValue(int index, std::string& out) const = 0;
};

// The current row of a query. A query without a current row (no such node) has its
// columns, but every value reads as NULL.
class TQueryRow : public TComposeRow {
public:
    explicit TQueryRow(const TQuery& query) : query_(query) {}
    int FieldCount() const override;
    std::string FieldName(int index) const override;
    void AppendValue(int index, std::string& out) const override;

private:
    const TQuery& query_;
};

// A row held in memory (for callers that have read the values already).
class TMemoryRow : public TComposeRow {
public:
    struct TColumn {
        std::string Name;
        bool Null = false;
        std::string Value;
    };
    std::vector<TColumn> Columns;

    int FieldCount() const override { return static_cast<int>(Columns.size()); }
    std::string FieldName(int index) const override;
    void AppendValue(int index, std::string& out) const override;
};

// The template of the kind for the guide type: the first one stored for exactly that
// guide type (letter case included), otherwise the last "DEFAULT" one the database
// returns, otherwise empty. Database errors propagate.
std::string FindTemplate(TDatabase& db, const std::string& guideType, std::string_view kind);

// Appends the template to output with every marker replaced:
// - "BODY", when body is given: the whole of body (every such marker gets all of it);
// - the name of a column of row: the column's value (NULL gives nothing). Under SQL
//   dialect 1 names are compared trimmed and upper-cased, as the server itself treats
//   unquoted names; under any other dialect the name must equal the column's exactly;
// - anything else: nothing.
// An opening "<#" with no "#>" after it swallows the one character that follows it,
// and the rest is copied as ordinary text. Runs in time linear in template and output.
void ComposeTemplate(std::string& output, std::string_view templ, const std::string* body,
                     const TComposeRow& row, int dialect);

// Composes row through the template of the kind for the row's GUIDE_TYPE, under the
// connection's dialect, appending to output. Without body a "BODY" marker is the
// row's own BODY column.
void ComposeDocument(TDatabase& db, std::string& output, std::string_view kind,
                     const std::string* body, const TComposeRow& row);

// Composes node nodeId through its template of the kind, appending to output.
// Node 0 (the root of the tree, which has no row) and a node that is no longer in
// the database append nothing and return false.
bool ComposeNode(TDatabase& db, int nodeId, std::string_view kind, std::string& output);

// One document of a concatenation, read and ready to compose: its "CONCAT2"
// template and the columns of its row that the template names.
struct TPiece {
    std::string Template;
    TMemoryRow Row;
    std::string Encoding;  // the document's ENCODING, whether the template shows it or not
};

// Reads node nodeId's row and its template of the kind into piece. Only the columns
// the template names get their values (a page's head, say, is not read when nothing
// shows it). Node 0 and a node that is no longer in the database give false.
bool ReadPiece(TDatabase& db, int nodeId, std::string_view kind, TPiece& piece);

// Appends the frame composed around the pieces: every "BODY" marker of the frame takes
// all pieces, each composed through its own template; the frame's other markers take
// the columns of frameRow. The result's size is worked out first and every byte is
// written once, straight to its place, so a join of many megabytes is not copied
// again and again as it grows.
void ComposeConcatenation(std::string& output, std::string_view frame, const TMemoryRow& frameRow,
                          const std::vector<TPiece>& pieces, int dialect);

// Composes the "CONCAT" frame of node nodeId around the pieces, appending to output.
// When the node has no row (the root of the tree) the frame's column markers give
// nothing and the guide type is empty, so the "DEFAULT" frame is used.
// When the pieces and the frame's document are all in one character set, bytes are
// joined as they are. When their sets differ, every value and template is decoded to
// UTF-8 (DecodeToUtf8) and the frame's "ENCODING" marker says "UTF-8".
void ComposeConcatenation(TDatabase& db, int nodeId, const std::vector<TPiece>& pieces,
                          std::string& output);
