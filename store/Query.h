// One SQL statement on the connection and a transaction: named parameters,
// a forward-only cursor, and columns read by name as text or integer.
//
// Values are raw bytes: texts are never converted between character sets.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "store/Database.h"

class TQuery {
public:
    // Uses the database's default transaction.
    explicit TQuery(TDatabase& db);
    TQuery(TDatabase& db, TTransaction& tr);
    ~TQuery();
    TQuery(const TQuery&) = delete;
    TQuery& operator=(const TQuery&) = delete;

    // Sets the statement text. ":Name" outside quotes is a parameter; the same
    // name may occur more than once. Clears parameter values and closes the cursor;
    // a text equal to the current one keeps the prepared statement.
    void SetSQL(std::string text);
    const std::string& SQL() const { return sql_; }

    // Binds a parameter by name (case-insensitive); EDatabaseError for an unknown name.
    // An empty text bound to a column that is not text is sent as NULL.
    void SetParam(std::string_view name, int value);
    void SetParam(std::string_view name, const std::string& value);
    void SetParamNull(std::string_view name);

    // Runs a select and positions on the first row; Eof() tells there is none.
    void ExecQuery();
    bool Eof() const { return eof_; }
    void Next();
    // Closes the cursor (the statement stays prepared with its parameter values).
    void Close();
    // Runs a statement that returns no rows; the caller commits.
    void ExecSQL();

    // Columns of the current row. FieldIndex is -1 for a name the row lacks;
    // reading such a name raises EDatabaseError. NULL reads as "" or 0.
    int FieldCount() const;
    std::string FieldName(int index) const;
    int FieldIndex(std::string_view column) const;
    bool IsNull(int index) const;
    std::string AsText(int index) const;
    std::string AsText(std::string_view column) const;
    int AsInteger(int index) const;
    int AsInteger(std::string_view column) const;

private:
    struct TParamValue {
        enum { kNull, kInt, kText } kind = kNull;
        int number = 0;
        std::string text;
    };
    struct TParamRef {
        std::string name;  // upper-cased
    };

    // Where a column lies in the output message; read once when the statement is
    // prepared, so that reading a row asks the client library nothing.
    struct TColumnLayout {
        unsigned type = 0;  // SQL_... without the nullable bit
        unsigned offset = 0;
        unsigned nullOffset = 0;
        unsigned length = 0;
        int scale = 0;
    };

    void Prepare();
    // Prepares the statement when needed and builds the input message from the
    // bound values (blobs are written here).
    void PrepareInput(fb::MetadataPtr& meta, std::vector<unsigned char>& buffer);
    std::vector<TParamValue*> Bound(std::string_view name);
    const unsigned char* Column(int index, unsigned& type) const;
    void CheckRow(int index) const;

    TDatabase& db_;
    TTransaction& tr_;
    std::string sql_;
    std::string preparedSql_;              // the text sent to the server (":Name" replaced by "?")
    std::vector<std::string> paramNames_;  // one per "?", upper-cased
    std::vector<TParamValue> values_;      // one per "?"
    fb::StatementPtr stmt_;
    fb::MetadataPtr outMeta_;
    fb::ResultSetPtr cursor_;
    std::vector<unsigned char> row_;
    fb::TStatus fetchStatus_;  // reused by every fetch: a large level fetches many rows
    std::vector<std::string> columnNames_;
    std::vector<TColumnLayout> columns_;  // one per column, as columnNames_
    bool eof_ = true;
};
