#include "store/Database.h"

#include <ibase.h>

#include <algorithm>
#include <cctype>
#include <chrono>

namespace {

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

int ReadDatabaseDialect(Firebird::IAttachment* att) {
    fb::TStatus st;
    const unsigned char items[] = {isc_info_db_sql_dialect, isc_info_end};
    unsigned char buffer[64] = {};
    att->getInfo(&st, sizeof items, items, sizeof buffer, buffer);
    for (unsigned char* p = buffer; *p != isc_info_end && p < buffer + sizeof buffer - 3;) {
        const unsigned char item = *p++;
        const int len = p[0] | (p[1] << 8);
        p += 2;
        if (item == isc_info_db_sql_dialect && len > 0) return p[0];
        p += len;
    }
    return 3;
}

}  // namespace

// ---------------------------------------------------------------- TTransaction

TTransaction::TTransaction(TDatabase& db) : db_(db) {}

TTransaction::~TTransaction() {
    if (!tra_) return;
    try {
        Commit();
    } catch (...) {
        // Destruction after a lost connection: nothing left to commit.
    }
}

void TTransaction::StartTransaction() {
    if (tra_) return;
    fb::Guard([&] {
        fb::TStatus st;
        const unsigned char tpb[] = {isc_tpb_version3, isc_tpb_write, isc_tpb_read_committed,
                                     isc_tpb_rec_version, isc_tpb_nowait};
        tra_.reset(db_.Attachment()->startTransaction(&st, sizeof tpb, tpb));
    });
}

Firebird::ITransaction* TTransaction::Handle() {
    if (!tra_) throw EDatabaseError("Transaction is not active");
    return tra_.get();
}

void TTransaction::CommitRetaining() {
    db_.Guard([&] {
        fb::TStatus st;
        Handle()->commitRetaining(&st);
    });
}

void TTransaction::Commit() {
    if (!tra_) return;
    db_.Guard([&] {
        fb::TStatus st;
        tra_->commit(&st);
        tra_.release();  // a successful commit releases the interface itself
    });
}

// ---------------------------------------------------------------- TDatabase

TDatabase::~TDatabase() {
    try {
        Close();
    } catch (...) {
    }
}

void TDatabase::SetParam(const std::string& name, const std::string& value) {
    const std::string key = Lower(name);
    params_.erase(std::remove_if(params_.begin(), params_.end(),
                                 [&](const auto& p) { return p.first == key; }),
                  params_.end());
    if (!value.empty()) params_.emplace_back(key, value);
}

std::string TDatabase::Param(const std::string& name) const {
    const std::string key = Lower(name);
    for (const auto& p : params_)
        if (p.first == key) return p.second;
    return {};
}

Firebird::IAttachment* TDatabase::Attachment() {
    if (!att_) throw EDatabaseError("Database not connected");
    return att_.get();
}

void SetUpClientLibrary() {
    // The dispatcher sets the library up on entry and then refuses the missing name at
    // once: no provider is loaded and no file is touched.
    fb::TStatus st;
    fb::ProviderPtr provider(fb::Master()->getDispatcher());
    try {
        fb::AttachmentPtr none(provider->attachDatabase(&st, nullptr, 0, nullptr));
    } catch (const Firebird::FbException&) {
    }
}

namespace {

// The server part of a database name ("host", "host/port"), or "" for a file the
// embedded engine opens.
std::string ServerOf(const std::string& name) {
    // The URL form: inet://host[:port]/path (also inet4://, inet6://).
    const std::size_t scheme = name.find("://");
    if (scheme != std::string::npos && name.compare(0, 4, "inet") == 0) {
        const std::size_t start = scheme + 3;
        return name.substr(start, name.find('/', start) - start);
    }
    const std::size_t colon = name.find(':');
    if (colon == std::string::npos || colon < 2 || name.find('/') == 0) return "";
    const std::string server = name.substr(0, colon);
    return server.find_first_of(" \t") == std::string::npos ? server : "";
}

}  // namespace

EDatabaseError TDatabase::ConnectError(const EDatabaseError& error, double waitedSeconds) const {
    const std::string server = ServerOf(DatabaseName);
    if (server.empty()) return error;
    const std::string host = server.substr(0, server.find('/'));
    const char* const where = " (DatabaseName in section [Interbase] of the configuration)";
    std::string line;
    if (IsHostUnknown(error))
        line = "The database server's host \"" + host + "\" is not known" + where + ".";
    else if (IsServerUnreachable(error))
        line = "No database server answers at \"" + server +
               "\": check its host and port, and that the Firebird server runs there" + where +
               ".";
    else if (IsLoginRefused(error))
        line = "The database server at \"" + server +
               "\" refused this user name and password (User and Password in section "
               "[Interbase] of the configuration).";
    else if (IsConnectRejected(error) && ConnectTimeout > 0 && waitedSeconds >= ConnectTimeout - 0.5)
        line = "The database server at \"" + server + "\" took the connection but did not answer within " +
               std::to_string(ConnectTimeout) +
               " s (ConnectTimeout in section [Interbase] of the configuration).";
    else if (IsConnectRejected(error))
        line = "The database server at \"" + server + "\" turned the connection down.";
    else
        return error;
    return EDatabaseError(line, error.GdsCodes());
}

void TDatabase::Open() {
    if (att_) return;
    if (BeforeConnect) BeforeConnect(*this);
    if (SQLDialect < 1) throw EDatabaseError("SQL Dialect Invalid");

    fb::Guard([&] {
        fb::TStatus st;
        fb::XpbBuilderPtr dpb(
            fb::Util()->getXpbBuilder(&st, Firebird::IXpbBuilder::DPB, nullptr, 0));
        for (const auto& p : params_) {
            if (p.first == "user_name")
                dpb->insertString(&st, isc_dpb_user_name, p.second.c_str());
            else if (p.first == "password")
                dpb->insertString(&st, isc_dpb_password, p.second.c_str());
            else if (p.first == "lc_ctype")
                dpb->insertString(&st, isc_dpb_lc_ctype, p.second.c_str());
        }
        dpb->insertInt(&st, isc_dpb_sql_dialect, SQLDialect);
        if (ConnectTimeout > 0) dpb->insertInt(&st, isc_dpb_connect_timeout, ConnectTimeout);
        fb::ProviderPtr provider(fb::Master()->getDispatcher());
        const auto started = std::chrono::steady_clock::now();
        try {
            att_.reset(provider->attachDatabase(&st, DatabaseName.c_str(),
                                                dpb->getBufferLength(&st), dpb->getBuffer(&st)));
        } catch (const Firebird::FbException& e) {
            const double waited =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
            try {
                fb::Rethrow(e);
            } catch (const EDatabaseError& error) {
                throw ConnectError(error, waited);
            }
        }
        effectiveDialect_ = std::min(SQLDialect, ReadDatabaseDialect(att_.get()));
        lost_ = false;
    });
    try {
        if (AfterConnect) AfterConnect(*this);
    } catch (...) {
        Close();
        throw;
    }
}

void TDatabase::Close() {
    if (!att_) return;
    std::exception_ptr failure;
    if (defaultTransaction_ && defaultTransaction_->InTransaction()) {
        try {
            defaultTransaction_->Commit();
        } catch (...) {
            failure = std::current_exception();
            defaultTransaction_->Forget();
        }
    }
    if (att_) {  // gone already when the commit found the connection lost
        try {
            fb::TStatus st;
            fb::ClearErrnoForEngine();
            att_->detach(&st);
            att_.release();  // a successful detach releases the interface itself
        } catch (const Firebird::FbException&) {
            att_.reset();  // a lost connection cannot be detached; just let it go
        }
    }
    if (failure) std::rethrow_exception(failure);
}

void TDatabase::DropLostConnection() {
    lost_ = true;
    if (defaultTransaction_) defaultTransaction_->Forget();
    att_.reset();
}
