#include "core/NewGuide.h"

#include <memory>

#include "config/AuxProj.h"
#include "core/Reload.h"
#include "download/LinkAddress.h"
#include "download/wf_Download.h"
#include "script/ReaderCatalogue.h"
#include "store/Database.h"
#include "store/Query.h"
#include "store/Statements.h"

namespace {

std::string Trimmed(std::string_view text) {
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= 32) text.remove_prefix(1);
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= 32) text.remove_suffix(1);
    return std::string(text);
}

// A title longer than its column is cut, not refused, and never in half a UTF-8
// character.
std::string FitTitle(std::string title) {
    if (title.size() <= Statements::TitleBytes) return title;
    std::size_t end = Statements::TitleBytes;
    while (end > 0 && (static_cast<unsigned char>(title[end]) & 0xC0) == 0x80) --end;
    title.resize(end);
    return title;
}

void CommitRetaining(TDatabase& db) {
    if (TTransaction* tr = db.DefaultTransaction()) tr->CommitRetaining();
}

int FindGuide(TDatabase& db, const std::string& origId, const std::string& guideType,
              std::string* title) {
    TQuery find(db);
    find.SetSQL(std::string(Statements::FindNodeByOrigId));
    find.SetParam("OrigId", origId);
    find.SetParam("Guide", guideType);
    find.ExecQuery();
    if (find.Eof()) return 0;
    if (title) *title = find.AsText("TITLE");
    return find.AsInteger("NODE_ID");
}

// The title the page gives itself, as its reader delivers it; empty when the page
// does not arrive or its reader gives none.
std::string PageTitle(TDownload& reader, const std::string& url, const std::string& guideType,
                      TReloadHost& host) {
    std::string title;
    reader.OnLog = [&host](const std::string& msg) { host.WriteLog(1, msg); };
    reader.OnContent = [&title](const std::string& t, const std::string&, const std::string&,
                                const std::string&, const std::string&, const std::string&,
                                TDownloadHandle&) { title = t; };
    reader.OnLink = nullptr;
    reader.OnIdle = [&host] {
        host.ProcessMessages();
        return !StopFlag;
    };
    TDownloadHandle handle(0, 0, guideType);
    handle.TopUrl = url;
    reader.Open();
    try {
        RunDownload(reader, url, handle);
    } catch (...) {
        reader.Close();
        throw;
    }
    reader.Close();
    return Trimmed(title);
}

}  // namespace

std::string NewGuideProblem(std::string_view url, std::string_view guideType) {
    const std::string address = Trimmed(url);
    // Only http and https name a page with a host, so only they give an identifier.
    if (AddressIdentifier(address).empty())
        return "The address \"" + address + "\" is not an http or https address";
    if (address.size() > Statements::OrigUrlBytes)
        return "The address is longer than " + std::to_string(Statements::OrigUrlBytes) +
               " bytes";
    if (guideType.empty()) return "No guide type was given";
    if (guideType.size() > MaxGuideTypeBytes)
        return "The guide type \"" + std::string(guideType) + "\" is longer than " +
               std::to_string(MaxGuideTypeBytes) + " characters";
    TReaderInfo reader;
    if (!Readers().Find(guideType, reader))
        return "No page reader serves the guide type \"" + std::string(guideType) + "\"";
    return {};
}

TNewGuide CreateGuide(TDatabase& db, const std::string& url, const std::string& guideType,
                      const std::string& title, TReloadHost* host) {
    const std::string problem = NewGuideProblem(url, guideType);
    if (!problem.empty()) throw EProjError(problem);
    const std::string address = Trimmed(url);
    const std::unique_ptr<TDownload> reader = CreateReader(guideType);
    if (!reader) throw EProjError("No page reader serves the guide type \"" + guideType + "\"");
    const std::string origId = reader->OrigIdOf(address);
    if (origId.size() > Statements::OrigIdBytes)
        throw EProjError("The address is too long to name a document");

    TNewGuide guide;
    if ((guide.NodeId = FindGuide(db, origId, guideType, &guide.Title)) != 0) {
        guide.Existed = true;
        return guide;
    }

    guide.Title = Trimmed(title);
    if (guide.Title.empty() && host) guide.Title = PageTitle(*reader, address, guideType, *host);
    if (guide.Title.empty()) guide.Title = address;
    guide.Title = FitTitle(guide.Title);

    int lastOrder = 0;
    {
        TQuery last(db);
        last.SetSQL(Statements::WithId(Statements::LastChildOrderQuery, 0));
        last.ExecQuery();
        if (!last.Eof()) lastOrder = last.AsInteger("LAST_ORDER");
    }
    {
        TQuery insert(db);
        insert.SetSQL(std::string(Statements::InsertNode));
        insert.SetParam("Title", guide.Title);
        insert.SetParam("OrigUrl", address);
        insert.SetParam("OrigId", origId);
        insert.SetParam("Guide", guideType);
        insert.ExecSQL();
    }
    CommitRetaining(db);
    guide.NodeId = FindGuide(db, origId, guideType, nullptr);
    if (guide.NodeId == 0) throw EProjError("The new guide could not be found again");
    {
        TQuery link(db);
        link.SetSQL(std::string(Statements::InsertLink));
        link.SetParam("MId", 0);
        link.SetParam("DId", guide.NodeId);
        link.SetParam("Order", lastOrder + 1);
        link.ExecSQL();
    }
    CommitRetaining(db);
    return guide;
}
