#include "store/Database.h"

#include <ibase.h>

#include <algorithm>
#include <cctype>

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
        fb::ProviderPtr provider(fb::Master()->getDispatcher());
        att_.reset(provider->attachDatabase(&st, DatabaseName.c_str(), dpb->getBufferLength(&st),
                                            dpb->getBuffer(&st)));
        effectiveDialect_ = std::min(SQLDialect, ReadDatabaseDialect(att_.get()));
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
    if (defaultTransaction_) defaultTransaction_->Forget();
    att_.reset();
}
