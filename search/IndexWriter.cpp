#include "search/IndexWriter.h"

#include "search/SearchIndex.h"

namespace {

// Enough to keep the thread busy, little enough to hold in memory (documents are
// some tens of kilobytes of text).
constexpr size_t kQueued = 64;
// Documents per index transaction: a stopped or failed run keeps most of its work.
constexpr int kBatch = 500;

}  // namespace

TIndexWriter::TIndexWriter(TSearchIndex& index) : index_(index), thread_([this] { Run(); }) {}

TIndexWriter::~TIndexWriter() {
    Stop();
}

void TIndexWriter::Put(int nodeId, std::string stamp, std::string title, std::string text) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return queue_.size() < kQueued || error_; });
    if (error_) std::rethrow_exception(error_);
    queue_.push_back({nodeId, std::move(stamp), std::move(title), std::move(text)});
    changed_.notify_all();
}

void TIndexWriter::Finish() {
    Stop();
    if (error_) std::rethrow_exception(error_);
}

void TIndexWriter::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closing_ = true;
        changed_.notify_all();
    }
    if (thread_.joinable()) thread_.join();
}

void TIndexWriter::Run() {
    try {
        int inBatch = 0;
        for (;;) {
            TDocument doc;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                changed_.wait(lock, [this] { return !queue_.empty() || closing_; });
                if (queue_.empty()) break;
                doc = std::move(queue_.front());
                queue_.pop_front();
                changed_.notify_all();
            }
            if (inBatch == 0) index_.Begin();
            index_.Put(doc.NodeId, doc.Stamp, doc.Title, doc.Text);
            if (++inBatch == kBatch) {
                index_.Commit();
                inBatch = 0;
            }
        }
        if (inBatch > 0) index_.Commit();
    } catch (...) {
        std::lock_guard<std::mutex> lock(mutex_);
        error_ = std::current_exception();
        queue_.clear();
        changed_.notify_all();
    }
}
