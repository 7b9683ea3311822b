#include "core/Compose.h"

#include <algorithm>
#include <cctype>

#include "store/Database.h"
#include "store/Query.h"
#include "store/Statements.h"
#include "text/Charset.h"

namespace {

constexpr std::string_view kOpen = "<#";
constexpr std::string_view kClose = "#>";
constexpr std::string_view kBodyMarker = "BODY";

// Dialect 1 treats names the way the server treats unquoted identifiers: surrounding
// blanks do not count and letter case does not matter. Only ASCII letters change
// case; other bytes are kept as they are.
std::string_view Trimmed(std::string_view name) {
    size_t begin = 0, end = name.size();
    while (begin < end && static_cast<unsigned char>(name[begin]) <= ' ') ++begin;
    while (end > begin && static_cast<unsigned char>(name[end - 1]) <= ' ') --end;
    return name.substr(begin, end - begin);
}

char UpperAscii(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

std::string NormalizedName(std::string_view name) {
    std::string r(Trimmed(name));
    for (char& c : r) c = UpperAscii(c);
    return r;
}

// Finds a column by marker name, under the dialect's rule. The row's names are
// prepared once per composed document, not once per marker.
class TColumnLookup {
public:
    TColumnLookup(const TComposeRow& row, int dialect) : fold_(dialect == 1) {
        const int n = row.FieldCount();
        names_.reserve(static_cast<size_t>(n));
        for (int i = 0; i < n; ++i)
            names_.push_back(fold_ ? NormalizedName(row.FieldName(i)) : row.FieldName(i));
    }

    int Find(std::string_view marker) const {
        if (marker.empty()) return -1;
        if (!fold_) {
            for (size_t i = 0; i < names_.size(); ++i)
                if (names_[i] == marker) return static_cast<int>(i);
            return -1;
        }
        const std::string_view key = Trimmed(marker);
        for (size_t i = 0; i < names_.size(); ++i)
            if (names_[i].size() == key.size() &&
                std::equal(key.begin(), key.end(), names_[i].begin(),
                           [](char a, char b) { return UpperAscii(a) == b; }))
                return static_cast<int>(i);
        return -1;
    }

private:
    bool fold_;
    std::vector<std::string> names_;
};

// Walks a template: onText(text) for every run of ordinary text, onMarker(name) for
// every marker (the name is empty for a marker without "#>"). An unclosed "<#" costs
// the one character after it; what follows is ordinary text again and may hold
// further markers.
template <class TOnText, class TOnMarker>
void ScanTemplate(std::string_view templ, TOnText&& onText, TOnMarker&& onMarker) {
    // Once no "#>" is left after some point, none is left after any later point:
    // remembering that keeps a template full of unclosed "<#" linear.
    bool closeLeft = true;
    size_t pos = 0;
    while (pos < templ.size()) {
        const size_t open = templ.find(kOpen, pos);
        if (open == std::string_view::npos) {
            onText(templ.substr(pos));
            return;
        }
        if (open > pos) onText(templ.substr(pos, open - pos));
        const size_t nameBegin = open + kOpen.size();
        const size_t close = closeLeft ? templ.find(kClose, nameBegin) : std::string_view::npos;
        if (close == std::string_view::npos) {
            closeLeft = false;
            onMarker(std::string_view());
            pos = std::min(nameBegin + 1, templ.size());
        } else {
            onMarker(templ.substr(nameBegin, close - nameBegin));
            pos = close + kClose.size();
        }
    }
}

bool IsBodyMarker(bool bodyGiven, std::string_view name) {
    return bodyGiven && name == kBodyMarker;
}

// The size ComposeTemplate would append for an in-memory row.
size_t ComposedSize(std::string_view templ, const size_t* bodySize, const TMemoryRow& row,
                    const TColumnLookup& columns) {
    size_t size = 0;
    ScanTemplate(
        templ, [&](std::string_view text) { size += text.size(); },
        [&](std::string_view name) {
            if (IsBodyMarker(bodySize != nullptr, name)) {
                size += *bodySize;
            } else if (const int i = columns.Find(name); i >= 0) {
                const TMemoryRow::TColumn& c = row.Columns[static_cast<size_t>(i)];
                if (!c.Null) size += c.Value.size();
            }
        });
    return size;
}

// The row's columns that a template names, its values read through the row; the
// other columns keep only their names.
TMemoryRow CaptureRow(const TComposeRow& row, std::string_view templ, bool bodyGiven, int dialect) {
    TMemoryRow captured;
    const int n = row.FieldCount();
    captured.Columns.resize(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        captured.Columns[static_cast<size_t>(i)].Name = row.FieldName(i);
        captured.Columns[static_cast<size_t>(i)].Null = true;
    }
    const TColumnLookup columns(row, dialect);
    ScanTemplate(
        templ, [](std::string_view) {},
        [&](std::string_view name) {
            if (IsBodyMarker(bodyGiven, name)) return;
            const int i = columns.Find(name);
            if (i < 0) return;
            TMemoryRow::TColumn& c = captured.Columns[static_cast<size_t>(i)];
            if (!c.Null) return;  // read once, however often the template shows it
            c.Null = false;
            row.AppendValue(i, c.Value);
        });
    return captured;
}

std::string EncodingOf(const TComposeRow& row) {
    std::string encoding;
    for (int i = 0; i < row.FieldCount(); ++i)
        if (row.FieldName(i) == "ENCODING") {
            row.AppendValue(i, encoding);
            break;
        }
    return encoding;
}

// One name per character set, for telling whether two documents share one: labels
// differ in case, blanks and quotes, and Latin-1, ASCII and no label at all are read
// as Windows-1252 (as DecodeToUtf8 and browsers read them).
std::string CharsetKey(std::string_view label) {
    std::string key;
    for (char c : label)
        if (c != ' ' && c != '\t' && c != '"' && c != '\'')
            key += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    static const char* const kWestern[] = {"", "iso-8859-1", "iso8859-1", "latin1", "latin-1",
                                           "l1", "us-ascii", "ascii", "windows-1252", "cp1252",
                                           "x-cp1252", "iso_8859-1"};
    for (const char* western : kWestern)
        if (key == western) return "windows-1252";
    if (key == "utf8") return "utf-8";
    return key;
}

bool MixedCharsets(const std::vector<TPiece>& pieces, const std::string& frameEncoding) {
    // The frame's own set counts only when it has a document (its title, say, shows).
    std::string first = CharsetKey(frameEncoding);
    bool haveFirst = !frameEncoding.empty();
    for (const TPiece& piece : pieces) {
        const std::string key = CharsetKey(piece.Encoding);
        if (!haveFirst) {
            first = key;
            haveFirst = true;
        } else if (key != first) {
            return true;
        }
    }
    return false;
}

// The row's values decoded from encoding to UTF-8; its "ENCODING" column says "UTF-8".
TMemoryRow RowToUtf8(const TMemoryRow& row, const std::string& encoding, int dialect) {
    TMemoryRow out = row;
    const TColumnLookup columns(row, dialect);
    const int encodingColumn = columns.Find("ENCODING");
    for (size_t i = 0; i < out.Columns.size(); ++i) {
        TMemoryRow::TColumn& c = out.Columns[i];
        if (static_cast<int>(i) == encodingColumn) {
            // Also where the row has no value (the root's frame): the join must say it.
            c.Null = false;
            c.Value = "UTF-8";
        } else if (!c.Null) {
            c.Value = DecodeToUtf8(c.Value, encoding);
        }
    }
    return out;
}

std::string GuideTypeOf(const TComposeRow& row) {
    std::string guideType;
    for (int i = 0; i < row.FieldCount(); ++i)
        if (row.FieldName(i) == "GUIDE_TYPE") {
            row.AppendValue(i, guideType);
            break;
        }
    return guideType;
}

}  // namespace

// ---------------------------------------------------------------- rows

int TQueryRow::FieldCount() const {
    return query_.FieldCount();
}

std::string TQueryRow::FieldName(int index) const {
    return query_.FieldName(index);
}

void TQueryRow::AppendValue(int index, std::string& out) const {
    if (query_.Eof() || query_.IsNull(index)) return;
    out += query_.AsText(index);
}

std::string TMemoryRow::FieldName(int index) const {
    return Columns.at(static_cast<size_t>(index)).Name;
}

void TMemoryRow::AppendValue(int index, std::string& out) const {
    const TColumn& c = Columns.at(static_cast<size_t>(index));
    if (!c.Null) out += c.Value;
}

// ---------------------------------------------------------------- composition

std::string FindTemplate(TDatabase& db, const std::string& guideType, std::string_view kind) {
    TQuery q(db);
    q.SetSQL(std::string(Statements::TemplateQuery));
    q.SetParam("Guide", guideType);
    q.SetParam("Kind", std::string(kind));
    std::string text;
    for (q.ExecQuery(); !q.Eof(); q.Next()) {
        text = q.AsText("TEXT");
        // A template of the document's own guide type wins over a "DEFAULT" one,
        // whichever order the server returns them in.
        if (q.AsText("GUIDE_TYPE") == guideType) break;
    }
    return text;
}

void ComposeTemplate(std::string& output, std::string_view templ, const std::string* body,
                     const TComposeRow& row, int dialect) {
    const TColumnLookup columns(row, dialect);
    ScanTemplate(
        templ, [&](std::string_view text) { output.append(text.data(), text.size()); },
        [&](std::string_view name) {
            if (IsBodyMarker(body != nullptr, name)) {
                output += *body;
            } else if (const int i = columns.Find(name); i >= 0) {
                row.AppendValue(i, output);
            }
        });
}

void ComposeDocument(TDatabase& db, std::string& output, std::string_view kind,
                     const std::string* body, const TComposeRow& row) {
    const std::string templ = FindTemplate(db, GuideTypeOf(row), kind);
    ComposeTemplate(output, templ, body, row, db.EffectiveDialect());
}

bool ComposeNode(TDatabase& db, int nodeId, std::string_view kind, std::string& output) {
    // The root of the tree is a placeholder without a row; nothing to compose.
    if (nodeId == 0) return false;
    TQuery q(db);
    q.SetSQL(Statements::WithId(Statements::NodeByIdQuery, nodeId));
    q.ExecQuery();
    // Deleted (perhaps by another user) since it was listed in the tree.
    if (q.Eof()) return false;
    ComposeDocument(db, output, kind, nullptr, TQueryRow(q));
    return true;
}

bool ReadPiece(TDatabase& db, int nodeId, std::string_view kind, TPiece& piece) {
    if (nodeId == 0) return false;
    TQuery q(db);
    q.SetSQL(Statements::WithId(Statements::NodeByIdQuery, nodeId));
    q.ExecQuery();
    if (q.Eof()) return false;
    const TQueryRow row(q);
    piece.Template = FindTemplate(db, GuideTypeOf(row), kind);
    piece.Row = CaptureRow(row, piece.Template, false, db.EffectiveDialect());
    piece.Encoding = EncodingOf(row);
    return true;
}

void ComposeConcatenation(std::string& output, std::string_view frame, const TMemoryRow& frameRow,
                          const std::vector<TPiece>& pieces, int dialect) {
    // Pieces of one guide type share their columns' names; their lookups are made once
    // per distinct set of names instead of once per piece.
    std::vector<TColumnLookup> lookups;
    std::vector<size_t> lookupOf(pieces.size());
    const TMemoryRow* lastShape = nullptr;
    const auto sameNames = [](const TMemoryRow& a, const TMemoryRow& b) {
        return a.Columns.size() == b.Columns.size() &&
               std::equal(a.Columns.begin(), a.Columns.end(), b.Columns.begin(),
                          [](const auto& x, const auto& y) { return x.Name == y.Name; });
    };
    size_t piecesSize = 0;
    for (size_t i = 0; i < pieces.size(); ++i) {
        if (!lastShape || !sameNames(*lastShape, pieces[i].Row)) {
            lookups.emplace_back(pieces[i].Row, dialect);
            lastShape = &pieces[i].Row;
        }
        lookupOf[i] = lookups.size() - 1;
        piecesSize += ComposedSize(pieces[i].Template, nullptr, pieces[i].Row, lookups.back());
    }
    const TColumnLookup frameColumns(frameRow, dialect);
    output.reserve(output.size() + ComposedSize(frame, &piecesSize, frameRow, frameColumns));

    // The first "BODY" marker composes the pieces in place; any further one copies
    // what the first one wrote.
    size_t firstBody = std::string::npos;
    ScanTemplate(
        frame, [&](std::string_view text) { output.append(text.data(), text.size()); },
        [&](std::string_view name) {
            if (IsBodyMarker(true, name)) {
                if (firstBody != std::string::npos) {
                    output.append(output, firstBody, piecesSize);
                    return;
                }
                firstBody = output.size();
                for (size_t i = 0; i < pieces.size(); ++i) {
                    const TColumnLookup& columns = lookups[lookupOf[i]];
                    const TMemoryRow& row = pieces[i].Row;
                    ScanTemplate(
                        pieces[i].Template,
                        [&](std::string_view text) { output.append(text.data(), text.size()); },
                        [&](std::string_view pieceName) {
                            if (const int c = columns.Find(pieceName); c >= 0)
                                row.AppendValue(c, output);
                        });
                }
            } else if (const int c = frameColumns.Find(name); c >= 0) {
                frameRow.AppendValue(c, output);
            }
        });
}

void ComposeConcatenation(TDatabase& db, int nodeId, const std::vector<TPiece>& pieces,
                          std::string& output) {
    TQuery q(db);
    q.SetSQL(Statements::WithId(Statements::NodeByIdQuery, nodeId));
    q.ExecQuery();
    // Without a row (the root) every column reads as NULL.
    const TQueryRow row(q);
    const std::string frame = FindTemplate(db, GuideTypeOf(row), kKindConcat);
    const int dialect = db.EffectiveDialect();
    TMemoryRow frameRow = CaptureRow(row, frame, true, dialect);
    // The root has no row and so no character set of its own.
    const std::string frameEncoding = q.Eof() ? std::string() : EncodingOf(row);
    if (!MixedCharsets(pieces, frameEncoding)) {
        ComposeConcatenation(output, frame, frameRow, pieces, dialect);
        return;
    }
    std::vector<TPiece> utf8(pieces.size());
    for (size_t i = 0; i < pieces.size(); ++i) {
        utf8[i].Template = DecodeToUtf8(pieces[i].Template, "utf-8");
        utf8[i].Row = RowToUtf8(pieces[i].Row, pieces[i].Encoding, dialect);
        utf8[i].Encoding = "UTF-8";
    }
    ComposeConcatenation(output, DecodeToUtf8(frame, "utf-8"),
                         RowToUtf8(frameRow, frameEncoding, dialect), utf8, dialect);
}
