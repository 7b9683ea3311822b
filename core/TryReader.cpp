#include "core/TryReader.h"

#include <memory>

#include "core/Compose.h"
#include "core/NodePath.h"
#include "core/NodeTree.h"
#include "core/Reload.h"
#include "download/wf_Download.h"
#include "script/ReaderCatalogue.h"
#include "store/Database.h"
#include "store/Query.h"
#include "store/Statements.h"

namespace {

// Opens the reader and closes it again however the trial ends.
class TOpenReader {
public:
    explicit TOpenReader(std::unique_ptr<TDownload> reader) : reader_(std::move(reader)) {
        if (reader_) reader_->Open();
    }
    ~TOpenReader() {
        if (reader_) reader_->Close();
    }
    TOpenReader(const TOpenReader&) = delete;
    TOpenReader& operator=(const TOpenReader&) = delete;
    TDownload* get() const { return reader_.get(); }

private:
    std::unique_ptr<TDownload> reader_;
};

// The node's whole row in memory, so that the delivered values can stand in for the
// stored ones.
TMemoryRow CopyRow(const TQuery& query) {
    const TQueryRow source(query);
    TMemoryRow row;
    for (int i = 0; i < source.FieldCount(); ++i) {
        TMemoryRow::TColumn column;
        column.Name = source.FieldName(i);
        source.AppendValue(i, column.Value);
        row.Columns.push_back(std::move(column));
    }
    return row;
}

void Replace(TMemoryRow& row, const std::string& name, const std::string& value) {
    for (TMemoryRow::TColumn& column : row.Columns)
        if (column.Name == name) {
            column.Value = value;
            column.Null = false;
        }
}

}  // namespace

bool TryReader(TDatabase& db, int nodeId, TReloadHost& host, TReaderTrial& trial) {
    trial = TReaderTrial();
    trial.NodeId = nodeId;
    if (nodeId == 0) return false;
    TMemoryRow row;
    bool storedBody = false;
    {
        TQuery query(db);
        query.SetSQL(Statements::WithId(Statements::NodeByIdQuery, nodeId));
        query.ExecQuery();
        if (query.Eof()) return false;
        trial.Url = query.AsText("ORIG_URL");
        trial.GuideType = query.AsText("GUIDE_TYPE");
        trial.ContentKept = query.AsText("READ_CONTENT") == "N";
        storedBody = HasBody(query.AsText("BODY"));
        row = CopyRow(query);
    }

    TOpenReader reader(CreateReader(trial.GuideType));
    if (!reader.get()) {
        trial.Result = TReaderTrial::trNoReader;
        return true;
    }
    bool arrived = false;
    TDownload& download = *reader.get();
    download.OnLog = [&host](const std::string& msg) { host.WriteLog(1, msg); };
    download.OnContent = [&](const std::string& title, const std::string& body,
                             const std::string& head, const std::string& encoding,
                             const std::string&, const std::string&, TDownloadHandle&) {
        arrived = true;
        trial.Title = title;
        trial.Body = body;
        trial.Head = head;
        trial.Encoding = encoding;
    };
    download.OnLink = [&](bool first, const std::string& title, const std::string& url,
                          const std::string& origId, int order, TDownloadHandle&) {
        trial.Links.push_back({first, order, title, url, origId});
    };
    download.OnIdle = [&host] {
        host.ProcessMessages();
        return !StopFlag;
    };
    TDownloadHandle handle(nodeId, 0, trial.GuideType);
    // Bounded by its guide's address, as a reload of the document is.
    handle.TopUrl = GuideUrl(db, nodeId);
    RunDownload(download, trial.Url, handle);
    if (!arrived) {
        trial.Result = TReaderTrial::trFailed;
        trial.Links.clear();  // a failed fetch reports nothing a reload would store
        return true;
    }
    int pageLinks = 0;
    for (const TTriedLink& link : trial.Links) pageLinks += link.FirstPass ? 1 : 0;
    trial.Verdict = JudgePage(handle.LayoutKnown, HasBody(trial.Body), pageLinks, storedBody,
                              [&] { return HasChildren(db, nodeId); });
    trial.Result = trial.Verdict == pvRecognised ? TReaderTrial::trRecognised
                                                 : TReaderTrial::trUnrecognised;

    // A reload writes the delivered content unless the row keeps its own, the page's
    // layout was not recognised, or an empty body would replace a stored one; an empty
    // delivered title leaves the stored one.
    if (!trial.ContentKept && handle.LayoutKnown && (HasBody(trial.Body) || !storedBody)) {
        if (!trial.Title.empty()) Replace(row, "TITLE", trial.Title);
        Replace(row, "BODY", trial.Body);
        Replace(row, "HEAD", trial.Head);
        Replace(row, "ENCODING", trial.Encoding);
    }
    ComposeDocument(db, trial.View, kKindDefault, nullptr, row);
    return true;
}
