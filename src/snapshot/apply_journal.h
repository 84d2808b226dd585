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
// then before each group of steps sent together one line naming them all,
// a line as each goes out and one when the device has taken it, then how
// the run ended. The line announcing a group reaches the disk (fdatasync)
// before its first step goes out, so a run cut off at any moment leaves a
// journal that names every step that may have reached the device; the
// lines of each step follow without a flush of their own (a killed program
// leaves them in the system's cache) and reach the disk with the group's
// end or the run's.
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

    // Steps `first`, `first` + 1... (from 1) are about to be sent; false
    // when that could not be written, and then none may be sent.
    bool Intending(size_t first, const std::vector<std::string>& texts);
    // Step `n`, announced, goes out now.
    bool Sending(size_t n);
    // Step `n` was taken by the device.
    bool Done(size_t n);
    // What was written since the last flush reaches the disk.
    bool Flush();
    // The run ended: "matches", "differs" or "stopped: why".
    bool Finished(const std::string& outcome);
    const std::string& Path() const { return m_path; }

private:
    ApplyJournal(std::string path, int fd) : m_path(std::move(path)), m_fd(fd) {}
    bool line(const std::string& text, bool sync);
    std::string textOf(size_t n) const;

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
    // Announced with their group and neither sent nor taken as far as the
    // disk tells (a power cut may have lost the lines that followed): the
    // device is read again before anything goes on.
    std::vector<std::string> unconfirmed;
    std::string end; // how it ended; empty when the run was cut off
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
