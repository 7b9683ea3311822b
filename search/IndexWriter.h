// Puts documents into the index on a thread of its own, so that reading the next
// documents from the database and taking their markup apart goes on meanwhile.
#pragma once

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <string>
#include <thread>

class TSearchIndex;

class TIndexWriter {
public:
    // Starts the thread. Until Finish (or the destructor) the caller must not use
    // index itself.
    explicit TIndexWriter(TSearchIndex& index);
    // Writes what is queued and stops; an error is dropped here (call Finish to see it).
    ~TIndexWriter();
    TIndexWriter(const TIndexWriter&) = delete;
    TIndexWriter& operator=(const TIndexWriter&) = delete;

    // Queues a document (waits while the queue is full). Rethrows the thread's error
    // (ESearchIndex) once it has failed.
    void Put(int nodeId, std::string stamp, std::string title, std::string text);
    // Writes everything queued, commits, and stops the thread; rethrows its error.
    void Finish();

private:
    struct TDocument {
        int NodeId;
        std::string Stamp, Title, Text;
    };
    void Run();
    void Stop();

    TSearchIndex& index_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<TDocument> queue_;
    bool closing_ = false;
    std::exception_ptr error_;
    std::thread thread_;
};
