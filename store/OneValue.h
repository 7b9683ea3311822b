// A query asked for one value: a column of its first row, or nothing when it returns
// no row. The caller sets the statement and its parameters; the helpers run it, read,
// and close the cursor again, so that a statement kept prepared can run once more.
#pragma once

#include <optional>
#include <string>
#include <string_view>

class TDatabase;
class TQuery;

// Column of the first row as text; nullopt when there is no row. A NULL reads as "".
std::optional<std::string> OneText(TQuery& query, std::string_view column);
// Column of the first row as an integer; nullopt when there is no row. NULL reads as 0.
std::optional<int> OneInteger(TQuery& query, std::string_view column);
// Whether the query returns any row.
bool HasAnyRow(TQuery& query);

// The same for a statement without parameters, on the database's default transaction.
std::optional<std::string> OneText(TDatabase& db, std::string sql, std::string_view column);
bool HasAnyRow(TDatabase& db, std::string sql);
