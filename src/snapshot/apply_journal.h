#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vireo {

// What a journal's first line says of its run.
struct JournalHead
{
    std::string address;
    unsigned sections = 0;         // apply_section bits
    std::string beforeState;       // the snapshot a roll back returns to
    std::string targetDocument;    // the snapshot applied, as a JSON document
    std::vector<std::string> plan; // the steps as planned before the first write
};

// The record of one apply on disk: a JSON object a line, the head first,
// then a line before each step is sent and one when the device has taken
// it, then how the run ended. Each line announcing a step reaches the disk
// (fdatasync) before the step goes out, so a run killed at any moment
// leaves a journal that names what was done and what was in flight.
class ApplyJournal
{
public:
    // Creates `path` (never over an existing file) and writes the head.
    // Null with the reason in *error when it cannot.
    static std::unique_ptr<ApplyJournal> Create(const std::string& path, const JournalHead& head,
                                                std::string* error);
    ~ApplyJournal();
    ApplyJournal(const ApplyJournal&) = delete;
    ApplyJournal& operator=(const ApplyJournal&) = delete;

    // Step `n` (from 1) is about to be sent; false when it could not be
    // written, and then it must not be sent.
    bool Sending(size_t n, const std::string& text);
    // Step `n` was taken by the device.
    bool Done(size_t n);
    // The run ended: "matches", "differs" or "stopped: why".
    bool Finished(const std::string& outcome);
    const std::string& Path() const { return m_path; }

private:
    ApplyJournal(std::string path, int fd) : m_path(std::move(path)), m_fd(fd) {}
    bool line(const std::string& text, bool sync);

    const std::string m_path;
    int m_fd;
    std::vector<std::string> m_texts; // by step number - 1
};

// A journal read back.
struct JournalRecord
{
    JournalHead head;
    std::vector<std::string> done;    // steps the device took, in order
    std::vector<std::string> inDoubt; // sent and never answered: taken or not
    std::string end;                  // how it ended; empty when the run was cut off
};

// Reads a journal; a torn last line (the program killed while writing it)
// is passed over. nullopt with the reason in *error when it is not one.
std::optional<JournalRecord> ReadApplyJournal(const std::string& path, std::string* error);

// "<folder>/<address>-<YYYYMMDDTHHMMSSZ>" (no suffix), for a run's files;
// "-2", "-3"... after it when a run of the same second has those names.
std::string ApplyRecordStem(const std::string& folder, const std::string& address);

// Writes `text` to a new file at `path` and flushes it to the disk. false
// with the reason in *error when it cannot.
bool WriteFileSynced(const std::string& path, const std::string& text, std::string* error);

} // namespace vireo
