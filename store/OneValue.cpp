#include "store/OneValue.h"

#include "store/Query.h"

std::optional<std::string> OneText(TQuery& query, std::string_view column) {
    query.ExecQuery();
    std::optional<std::string> value;
    if (!query.Eof()) value = query.AsText(column);
    query.Close();
    return value;
}

std::optional<int> OneInteger(TQuery& query, std::string_view column) {
    query.ExecQuery();
    std::optional<int> value;
    if (!query.Eof()) value = query.AsInteger(column);
    query.Close();
    return value;
}

bool HasAnyRow(TQuery& query) {
    query.ExecQuery();
    const bool found = !query.Eof();
    query.Close();
    return found;
}

std::optional<std::string> OneText(TDatabase& db, std::string sql, std::string_view column) {
    TQuery query(db);
    query.SetSQL(std::move(sql));
    return OneText(query, column);
}

bool HasAnyRow(TDatabase& db, std::string sql) {
    TQuery query(db);
    query.SetSQL(std::move(sql));
    return HasAnyRow(query);
}
