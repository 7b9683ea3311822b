#include "store/Query.h"

#include <ibase.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>

namespace {

std::string Upper(std::string_view s) {
    std::string r(s);
    std::transform(r.begin(), r.end(), r.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return r;
}

bool IsNameChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$';
}

// Replaces ":Name" outside quotes and comments by "?" and lists the names in order.
std::string TranslateParams(const std::string& sql, std::vector<std::string>& names) {
    std::string out;
    out.reserve(sql.size());
    for (size_t i = 0; i < sql.size();) {
        const char c = sql[i];
        if (c == '\'' || c == '"') {
            size_t end = i + 1;
            while (end < sql.size()) {
                if (sql[end] == c) {
                    if (end + 1 < sql.size() && sql[end + 1] == c) {
                        end += 2;
                        continue;
                    }
                    break;
                }
                ++end;
            }
            end = std::min(end + 1, sql.size());
            out.append(sql, i, end - i);
            i = end;
        } else if (c == '-' && i + 1 < sql.size() && sql[i + 1] == '-') {
            size_t end = sql.find('\n', i);
            end = end == std::string::npos ? sql.size() : end;
            out.append(sql, i, end - i);
            i = end;
        } else if (c == '/' && i + 1 < sql.size() && sql[i + 1] == '*') {
            size_t end = sql.find("*/", i + 2);
            end = end == std::string::npos ? sql.size() : end + 2;
            out.append(sql, i, end - i);
            i = end;
        } else if (c == ':' && i + 1 < sql.size() && IsNameChar(sql[i + 1])) {
            size_t end = i + 1;
            while (end < sql.size() && IsNameChar(sql[end])) ++end;
            names.push_back(Upper(std::string_view(sql).substr(i + 1, end - i - 1)));
            out += '?';
            i = end;
        } else {
            out += c;
            ++i;
        }
    }
    return out;
}

// A value of the output message, which need not be aligned for its type.
template <typename T>
T Load(const unsigned char* data) {
    T v;
    std::memcpy(&v, data, sizeof v);
    return v;
}

bool IsTextType(unsigned type) {
    return type == SQL_TEXT || type == SQL_VARYING;
}

std::string FormatScaled(ISC_INT64 value, int scale) {
    if (scale >= 0) {
        std::string s = std::to_string(value);
        if (value != 0) s.append(static_cast<size_t>(scale), '0');
        return s;
    }
    const bool negative = value < 0;
    unsigned long long magnitude = negative ? 0ULL - static_cast<unsigned long long>(value)
                                            : static_cast<unsigned long long>(value);
    std::string digits = std::to_string(magnitude);
    const size_t places = static_cast<size_t>(-scale);
    if (digits.size() <= places) digits.insert(0, places - digits.size() + 1, '0');
    digits.insert(digits.size() - places, 1, '.');
    return negative ? "-" + digits : digits;
}

std::string FormatDate(ISC_DATE date) {
    unsigned y, m, d;
    fb::Util()->decodeDate(date, &y, &m, &d);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04u-%02u-%02u", y, m, d);
    return buf;
}

std::string FormatTime(ISC_TIME time) {
    unsigned h, mi, s, frac;
    fb::Util()->decodeTime(time, &h, &mi, &s, &frac);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02u:%02u:%02u", h, mi, s);
    return buf;
}

}  // namespace

TQuery::TQuery(TDatabase& db)
    : TQuery(db, [&db]() -> TTransaction& {
          if (!db.DefaultTransaction())
              throw EDatabaseError("The database has no default transaction");
          return *db.DefaultTransaction();
      }()) {}

TQuery::TQuery(TDatabase& db, TTransaction& tr) : db_(db), tr_(tr) {}

TQuery::~TQuery() {
    try {
        Close();
    } catch (...) {
    }
}

void TQuery::SetSQL(std::string text) {
    Close();
    if (text != sql_ || !stmt_) {
        stmt_.reset();
        outMeta_.reset();
        paramNames_.clear();
        sql_ = std::move(text);
        preparedSql_ = TranslateParams(sql_, paramNames_);
    }
    values_.assign(paramNames_.size(), TParamValue{});
}

std::vector<TQuery::TParamValue*> TQuery::Bound(std::string_view name) {
    const std::string key = Upper(name);
    std::vector<TParamValue*> found;
    for (size_t i = 0; i < paramNames_.size(); ++i)
        if (paramNames_[i] == key) found.push_back(&values_[i]);
    if (found.empty()) throw EDatabaseError("Parameter \"" + std::string(name) + "\" not found");
    return found;
}

void TQuery::SetParam(std::string_view name, int value) {
    for (TParamValue* v : Bound(name)) {
        v->kind = TParamValue::kInt;
        v->number = value;
    }
}

void TQuery::SetParam(std::string_view name, const std::string& value) {
    for (TParamValue* v : Bound(name)) {
        v->kind = TParamValue::kText;
        v->text = value;
    }
}

void TQuery::SetParamNull(std::string_view name) {
    for (TParamValue* v : Bound(name)) *v = TParamValue{};
}

void TQuery::Prepare() {
    if (stmt_) return;
    db_.Guard([&] {
        fb::TStatus st;
        stmt_.reset(db_.Attachment()->prepare(&st, tr_.Handle(), 0, preparedSql_.c_str(),
                                              static_cast<unsigned>(db_.EffectiveDialect()),
                                              Firebird::IStatement::PREPARE_PREFETCH_METADATA));
        outMeta_.reset(stmt_->getOutputMetadata(&st));
        columnNames_.clear();
        columns_.clear();
        const unsigned n = outMeta_->getCount(&st);
        for (unsigned i = 0; i < n; ++i) {
            const char* alias = outMeta_->getAlias(&st, i);
            std::string name(alias && *alias ? alias : outMeta_->getField(&st, i));
            TColumnLayout c;
            c.type = outMeta_->getType(&st, i) & ~1u;
            c.offset = outMeta_->getOffset(&st, i);
            c.nullOffset = outMeta_->getNullOffset(&st, i);
            c.length = outMeta_->getLength(&st, i);
            c.scale = outMeta_->getScale(&st, i);
            columnNames_.push_back(std::move(name));
            columns_.push_back(c);
        }
    });
}

void TQuery::PrepareInput(fb::MetadataPtr& meta, std::vector<unsigned char>& buffer) {
    Prepare();
    fb::TStatus st;
    fb::MetadataPtr original(stmt_->getInputMetadata(&st));
    const unsigned count = original->getCount(&st);
    if (count != values_.size())
        throw EDatabaseError("Statement expects " + std::to_string(count) +
                             " parameters, the text names " + std::to_string(values_.size()));
    fb::MetadataBuilderPtr builder(original->getBuilder(&st));
    std::vector<bool> sendNull(count, false);
    for (unsigned i = 0; i < count; ++i) {
        const TParamValue& v = values_[i];
        const unsigned type = original->getType(&st, i) & ~1u;
        if (v.kind == TParamValue::kInt) {
            builder->setType(&st, i, SQL_LONG + 1);
            builder->setLength(&st, i, sizeof(ISC_LONG));
            builder->setScale(&st, i, 0);
        } else if (v.kind == TParamValue::kText && type == SQL_BLOB) {
            // kept as a blob: the value is written into a new blob below
        } else if (v.kind == TParamValue::kText && (IsTextType(type) || !v.text.empty())) {
            builder->setType(&st, i, SQL_VARYING + 1);
            builder->setLength(&st, i, static_cast<unsigned>(std::max<size_t>(v.text.size(), 1)));
            if (!IsTextType(type))
                builder->setCharSet(&st, i, 0);  // character set NONE: bytes as they are
        } else {
            sendNull[i] = true;  // unbound, NULL, or an empty text for a non-text column
        }
    }
    meta.reset(builder->getMetadata(&st));
    buffer.assign(meta->getMessageLength(&st), 0);
    for (unsigned i = 0; i < count; ++i) {
        auto* nullFlag = reinterpret_cast<short*>(&buffer[meta->getNullOffset(&st, i)]);
        unsigned char* data = &buffer[meta->getOffset(&st, i)];
        const TParamValue& v = values_[i];
        if (sendNull[i]) {
            *nullFlag = -1;
            continue;
        }
        *nullFlag = 0;
        const unsigned type = meta->getType(&st, i) & ~1u;
        if (type == SQL_LONG) {
            const ISC_LONG n = v.number;
            std::memcpy(data, &n, sizeof n);
        } else if (type == SQL_VARYING) {
            const auto len = static_cast<unsigned short>(v.text.size());
            if (v.text.size() > 32765)
                throw EDatabaseError("Text parameter too long for a character column (" +
                                     std::to_string(v.text.size()) + " bytes)");
            std::memcpy(data, &len, sizeof len);
            std::memcpy(data + sizeof len, v.text.data(), v.text.size());
        } else if (type == SQL_BLOB) {
            ISC_QUAD id{};
            fb::BlobPtr blob(db_.Attachment()->createBlob(&st, tr_.Handle(), &id, 0, nullptr));
            const size_t chunk = 32768;
            for (size_t pos = 0; pos < v.text.size(); pos += chunk) {
                const size_t n = std::min(chunk, v.text.size() - pos);
                blob->putSegment(&st, static_cast<unsigned>(n), v.text.data() + pos);
            }
            blob->close(&st);
            blob.release();  // a successful close releases the interface
            std::memcpy(data, &id, sizeof id);
        }
    }
}

void TQuery::ExecQuery() {
    Close();
    db_.Guard([&] {
        fb::MetadataPtr inMeta;
        std::vector<unsigned char> inBuf;
        PrepareInput(inMeta, inBuf);
        fb::TStatus st;
        row_.assign(outMeta_->getMessageLength(&st), 0);
        cursor_.reset(
            stmt_->openCursor(&st, tr_.Handle(), inMeta.get(), inBuf.data(), outMeta_.get(), 0));
        eof_ = false;
    });
    Next();
}

void TQuery::Next() {
    if (!cursor_ || eof_) return;
    db_.Guard([&] {
        if (cursor_->fetchNext(&fetchStatus_, row_.data()) != Firebird::IStatus::RESULT_OK) {
            eof_ = true;
            fb::TStatus st;
            cursor_->close(&st);
            cursor_.release();  // a successful close releases the interface
        }
    });
}

void TQuery::Close() {
    eof_ = true;
    if (!cursor_) return;
    try {
        fb::TStatus st;
        cursor_->close(&st);
        cursor_.release();
    } catch (const Firebird::FbException&) {
        cursor_.reset();
    }
}

void TQuery::ExecSQL() {
    Close();
    db_.Guard([&] {
        fb::MetadataPtr inMeta;
        std::vector<unsigned char> inBuf;
        PrepareInput(inMeta, inBuf);
        fb::TStatus st;
        std::vector<unsigned char> out(outMeta_->getMessageLength(&st), 0);
        stmt_->execute(&st, tr_.Handle(), inMeta.get(), inBuf.data(),
                       outMeta_->getCount(&st) ? outMeta_.get() : nullptr,
                       outMeta_->getCount(&st) ? out.data() : nullptr);
    });
}

int TQuery::FieldCount() const {
    return static_cast<int>(columnNames_.size());
}

std::string TQuery::FieldName(int index) const {
    if (index < 0 || index >= FieldCount()) return {};
    return columnNames_[static_cast<size_t>(index)];
}

int TQuery::FieldIndex(std::string_view column) const {
    for (size_t i = 0; i < columnNames_.size(); ++i)
        if (columnNames_[i] == column) return static_cast<int>(i);
    return -1;
}

void TQuery::CheckRow(int index) const {
    if (index < 0 || index >= FieldCount()) throw EDatabaseError("Column index out of range");
    if (eof_ || row_.empty()) throw EDatabaseError("No current row");
}

const unsigned char* TQuery::Column(int index, unsigned& type) const {
    CheckRow(index);
    const TColumnLayout& c = columns_[static_cast<size_t>(index)];
    if (Load<short>(&row_[c.nullOffset])) return nullptr;
    type = c.type;
    return &row_[c.offset];
}

bool TQuery::IsNull(int index) const {
    unsigned type;
    return Column(index, type) == nullptr;
}

std::string TQuery::AsText(int index) const {
    unsigned type = 0;
    const unsigned char* data = Column(index, type);
    if (!data) return {};
    const TColumnLayout& column = columns_[static_cast<size_t>(index)];
    const int scale = column.scale;
    switch (type) {
        case SQL_TEXT: {
            std::string s(reinterpret_cast<const char*>(data), column.length);
            s.erase(s.find_last_not_of(' ') + 1);  // CHAR columns come blank-padded
            return s;
        }
        case SQL_VARYING: {
            unsigned short len;
            std::memcpy(&len, data, sizeof len);
            return std::string(reinterpret_cast<const char*>(data + sizeof len), len);
        }
        case SQL_SHORT: {
            const auto v = Load<ISC_SHORT>(data);
            return FormatScaled(v, scale);
        }
        case SQL_LONG: {
            const auto v = Load<ISC_LONG>(data);
            return FormatScaled(v, scale);
        }
        case SQL_INT64: {
            const auto v = Load<ISC_INT64>(data);
            return FormatScaled(v, scale);
        }
        case SQL_FLOAT: {
            const auto v = Load<float>(data);
            char buf[64];
            std::snprintf(buf, sizeof buf, "%.7g", static_cast<double>(v));
            return buf;
        }
        case SQL_DOUBLE:
        case SQL_D_FLOAT: {
            const auto v = Load<double>(data);
            char buf[64];
            std::snprintf(buf, sizeof buf, "%.15g", v);
            return buf;
        }
        case SQL_TYPE_DATE: {
            const auto v = Load<ISC_DATE>(data);
            return FormatDate(v);
        }
        case SQL_TYPE_TIME: {
            const auto v = Load<ISC_TIME>(data);
            return FormatTime(v);
        }
        case SQL_TIMESTAMP: {
            const auto v = Load<ISC_TIMESTAMP>(data);
            return FormatDate(v.timestamp_date) + " " + FormatTime(v.timestamp_time);
        }
        case SQL_BOOLEAN:
            return *data ? "True" : "False";
        case SQL_BLOB:
            return db_.Guard([&]() -> std::string {
                fb::TStatus st;
                ISC_QUAD id;
                std::memcpy(&id, data, sizeof id);
                fb::BlobPtr blob(const_cast<TDatabase&>(db_).Attachment()->openBlob(
                    &st, const_cast<TTransaction&>(tr_).Handle(), &id, 0, nullptr));
                std::string text;
                std::vector<char> chunk(65535);
                for (;;) {
                    unsigned got = 0;
                    const int rc = blob->getSegment(&st, static_cast<unsigned>(chunk.size()),
                                                    chunk.data(), &got);
                    if (rc == Firebird::IStatus::RESULT_NO_DATA) break;
                    text.append(chunk.data(), got);
                }
                blob->close(&st);
                blob.release();
                return text;
            });
        default:
            throw EDatabaseError("Column \"" + FieldName(index) +
                                 "\" has a type that cannot be read as text");
    }
}

std::string TQuery::AsText(std::string_view column) const {
    const int index = FieldIndex(column);
    if (index < 0) throw EDatabaseError("Column \"" + std::string(column) + "\" not found");
    return AsText(index);
}

int TQuery::AsInteger(int index) const {
    unsigned type = 0;
    const unsigned char* data = Column(index, type);
    if (!data) return 0;
    switch (type) {
        case SQL_SHORT: {
            const auto v = Load<ISC_SHORT>(data);
            return v;
        }
        case SQL_LONG: {
            const auto v = Load<ISC_LONG>(data);
            return v;
        }
        case SQL_INT64: {
            const auto v = Load<ISC_INT64>(data);
            return static_cast<int>(v);
        }
        default: {
            const std::string text = AsText(index);
            try {
                size_t used = 0;
                const long long v = std::stoll(text, &used);
                if (used == text.size()) return static_cast<int>(v);
            } catch (const std::exception&) {
            }
            throw EDatabaseError("\"" + text + "\" is not a valid integer value");
        }
    }
}

int TQuery::AsInteger(std::string_view column) const {
    const int index = FieldIndex(column);
    if (index < 0) throw EDatabaseError("Column \"" + std::string(column) + "\" not found");
    return AsInteger(index);
}
