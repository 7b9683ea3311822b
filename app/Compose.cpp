#include "app/Compose.h"

#include <algorithm>

#include "store/Database.h"
#include "store/Query.h"
#include "store/Statements.h"

namespace {

constexpr std::string_view kOpen = "<#";
constexpr std::string_view kClose = "#>";
constexpr std::string_view kBodyMarker = "BODY";

// Dialect 1 treats names the way the server treats unquoted identifiers: surrounding
// blanks do not count and letter case does not matter. Only ASCII letters change
// case; other bytes are kept as they are.
std::string NormalizedName(std::string_view name) {
    size_t begin = 0, end = name.size();
    while (begin < end && static_cast<unsigned char>(name[begin]) <= ' ') ++begin;
    while (end > begin && static_cast<unsigned char>(name[end - 1]) <= ' ') --end;
    std::string r(name.substr(begin, end - begin));
    for (char& c : r)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
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
        const std::string folded = fold_ ? NormalizedName(marker) : std::string();
        const std::string_view key = fold_ ? std::string_view(folded) : marker;
        for (size_t i = 0; i < names_.size(); ++i)
            if (names_[i] == key) return static_cast<int>(i);
        return -1;
    }

private:
    bool fold_;
    std::vector<std::string> names_;
};

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
    // Once no "#>" is left after some point, none is left after any later point:
    // remembering that keeps a template full of unclosed "<#" linear.
    bool closeLeft = true;
    size_t pos = 0;
    while (pos < templ.size()) {
        const size_t open = templ.find(kOpen, pos);
        if (open == std::string_view::npos) {
            output.append(templ.data() + pos, templ.size() - pos);
            break;
        }
        output.append(templ.data() + pos, open - pos);
        const size_t nameBegin = open + kOpen.size();
        const size_t close = closeLeft ? templ.find(kClose, nameBegin) : std::string_view::npos;
        if (close == std::string_view::npos) closeLeft = false;
        const std::string_view name = close == std::string_view::npos
                                          ? std::string_view()
                                          : templ.substr(nameBegin, close - nameBegin);

        if (body && name == kBodyMarker) {
            output += *body;
        } else if (!name.empty()) {
            const int index = columns.Find(name);
            if (index >= 0) row.AppendValue(index, output);
        }

        // An unclosed marker costs the one character after "<#"; what follows is
        // ordinary text again and may hold further markers.
        pos = close == std::string_view::npos ? std::min(nameBegin + 1, templ.size())
                                              : close + kClose.size();
    }
}

void ComposeDocument(TDatabase& db, std::string& output, std::string_view kind,
                     const std::string* body, const TComposeRow& row) {
    std::string guideType;
    for (int i = 0; i < row.FieldCount(); ++i)
        if (row.FieldName(i) == "GUIDE_TYPE") {
            row.AppendValue(i, guideType);
            break;
        }
    const std::string templ = FindTemplate(db, guideType, kind);
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

void ComposeFrame(TDatabase& db, int nodeId, const std::string& pieces, std::string& output) {
    TQuery q(db);
    q.SetSQL(Statements::WithId(Statements::NodeByIdQuery, nodeId));
    q.ExecQuery();
    ComposeDocument(db, output, kKindConcat, &pieces, TQueryRow(q));
}
