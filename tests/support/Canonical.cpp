#include "tests/support/Canonical.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

#include "store/Query.h"
#include "tests/support/TempDatabase.h"

namespace {

// One line per row of the statement: the prefix, then every column after a "|".
void AppendRows(TQuery& q, const std::string& statement, const std::string& prefix,
                std::vector<std::string>& rows) {
    q.SetSQL(statement);
    for (q.ExecQuery(); !q.Eof(); q.Next()) {
        std::string row = prefix;
        for (int i = 0; i < q.FieldCount(); ++i) row += "|" + q.AsText(i);
        rows.push_back(row);
    }
}

// Connects to the database, lets read fill the rows through one query, and closes.
template <typename F>
std::vector<std::string> ReadRows(const TTempDatabase& temp, F read) {
    TDatabase db;
    TTransaction tr(db);
    temp.Connect(db, tr);
    std::vector<std::string> rows;
    {
        TQuery q(db);
        read(q, rows);
    }
    db.Close();
    return rows;
}

}  // namespace

std::vector<std::string> CanonicalContents(const TTempDatabase& temp) {
    auto rows = ReadRows(temp, [](TQuery& q, std::vector<std::string>& rows) {
        AppendRows(q,
                   "SELECT ORIG_ID, GUIDE_TYPE, TITLE, ORIG_URL, READ_CONTENT, ENCODING, BODY, "
                   "HEAD FROM NODE",
                   "node", rows);
        AppendRows(q,
                   "SELECT COALESCE(P.ORIG_ID, '<root>'), C.ORIG_ID, MD.ORDER_ FROM MASTER_DETAIL "
                   "MD JOIN NODE C ON C.NODE_ID=MD.DETAIL_ID LEFT JOIN NODE P ON "
                   "P.NODE_ID=MD.MASTER_ID",
                   "link", rows);
        // The keys forbid both today; the count says so should they ever be dropped.
        q.SetSQL(
            "SELECT (SELECT COUNT(*) FROM (SELECT 1 AS X FROM NODE GROUP BY ORIG_ID, GUIDE_TYPE "
            "HAVING COUNT(*) > 1)) + (SELECT COUNT(*) FROM (SELECT 1 AS X FROM MASTER_DETAIL "
            "GROUP BY MASTER_ID, DETAIL_ID HAVING COUNT(*) > 1)) FROM RDB$DATABASE");
        q.ExecQuery();
        EXPECT_EQ(q.AsInteger(0), 0) << "a node or a link stored twice";
        q.Close();
    });
    std::sort(rows.begin(), rows.end());
    return rows;
}

std::vector<std::string> ExactContents(const TTempDatabase& temp) {
    return ReadRows(temp, [](TQuery& q, std::vector<std::string>& rows) {
        AppendRows(q,
                   "SELECT NODE_ID, ORIG_ID, GUIDE_TYPE, TITLE, ORIG_URL, READ_CONTENT, ENCODING, "
                   "BODY, HEAD FROM NODE ORDER BY NODE_ID",
                   "node", rows);
        AppendRows(q, "SELECT MASTER_ID, DETAIL_ID, ORDER_ FROM MASTER_DETAIL ORDER BY 1, 2",
                   "link", rows);
    });
}

void ExpectSameContents(const std::vector<std::string>& expected,
                        const std::vector<std::string>& actual) {
    EXPECT_EQ(actual.size(), expected.size());
    std::vector<std::string> missing, extra;
    std::set_difference(expected.begin(), expected.end(), actual.begin(), actual.end(),
                        std::back_inserter(missing));
    std::set_difference(actual.begin(), actual.end(), expected.begin(), expected.end(),
                        std::back_inserter(extra));
    EXPECT_TRUE(missing.empty()) << missing.size() << " missing, the first: " << missing.front();
    EXPECT_TRUE(extra.empty()) << extra.size() << " extra, the first: " << extra.front();
}
