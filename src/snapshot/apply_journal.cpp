#include "snapshot/apply_journal.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <unistd.h>

namespace vireo {

namespace {

using Json = nlohmann::ordered_json;

bool writeAll(int fd, const std::string& text)
{
    size_t at = 0;
    while (at < text.size()) {
        const ssize_t n = ::write(fd, text.data() + at, text.size() - at);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        at += static_cast<size_t>(n);
    }
    return true;
}

std::string systemError(const std::string& what)
{
    return what + ": " + std::strerror(errno);
}

// The folder a path's file lives in, flushed so a new file's name survives
// a power cut as well as its bytes.
void syncFolder(const std::string& path)
{
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

bool WriteFileSynced(const std::string& path, const std::string& text, std::string* error)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        *error = systemError(path);
        return false;
    }
    const bool ok = writeAll(fd, text) && ::fdatasync(fd) == 0;
    if (!ok) {
        *error = systemError(path);
    }
    ::close(fd);
    if (!ok) {
        ::unlink(path.c_str());
        return false;
    }
    syncFolder(path);
    return true;
}

std::string ApplyRecordStem(const std::string& folder, const std::string& address)
{
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm utc{};
    gmtime_r(&now, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &utc);
    std::string stem = folder.empty() ? "" : folder;
    if (!stem.empty() && stem.back() != '/') {
        stem += '/';
    }
    stem += address + "-" + stamp;
    // A second run within the same second gets a number of its own.
    std::string free = stem;
    for (int n = 2; n < 1000 && (::access((free + ".before.json").c_str(), F_OK) == 0 ||
                                 ::access((free + ".journal").c_str(), F_OK) == 0);
         ++n) {
        free = stem + "-" + std::to_string(n);
    }
    return free;
}

std::unique_ptr<ApplyJournal> ApplyJournal::Create(const std::string& path, const JournalHead& head,
                                                   std::string* error)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        *error = systemError(path);
        return nullptr;
    }
    std::unique_ptr<ApplyJournal> journal(new ApplyJournal(path, fd));
    Json target = Json::parse(head.targetDocument, nullptr, false);
    const Json line{{"journal", 1},
                    {"address", head.address},
                    {"sections", head.sections},
                    {"before_state", head.beforeState},
                    {"plan", head.plan},
                    {"target", std::move(target)}};
    if (!journal->line(line.dump(), true)) {
        *error = systemError(path);
        return nullptr;
    }
    syncFolder(path);
    return journal;
}

ApplyJournal::~ApplyJournal()
{
    ::fdatasync(m_fd);
    ::close(m_fd);
}

bool ApplyJournal::line(const std::string& text, bool sync)
{
    return writeAll(m_fd, text + "\n") && (!sync || ::fdatasync(m_fd) == 0);
}

bool ApplyJournal::Intending(size_t first, const std::vector<std::string>& texts)
{
    if (m_texts.size() < first - 1 + texts.size()) {
        m_texts.resize(first - 1 + texts.size());
    }
    std::copy(texts.begin(), texts.end(), m_texts.begin() + static_cast<ptrdiff_t>(first - 1));
    return line(Json{{"from", first}, {"intended", texts}}.dump(), true);
}

std::string ApplyJournal::textOf(size_t n) const
{
    return n >= 1 && n <= m_texts.size() ? m_texts[n - 1] : "";
}

bool ApplyJournal::Sending(size_t n)
{
    return line(Json{{"step", n}, {"sending", textOf(n)}}.dump(), false);
}

bool ApplyJournal::Done(size_t n)
{
    return line(Json{{"step", n}, {"done", textOf(n)}}.dump(), false);
}

bool ApplyJournal::Flush()
{
    return ::fdatasync(m_fd) == 0;
}

bool ApplyJournal::Finished(const std::string& outcome)
{
    return line(Json{{"end", outcome}}.dump(), true);
}

std::optional<JournalRecord> ReadApplyJournal(const std::string& path, std::string* error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = systemError(path);
        return std::nullopt;
    }
    std::string text;
    if (!std::getline(in, text)) {
        *error = path + ": empty";
        return std::nullopt;
    }
    const Json head = Json::parse(text, nullptr, false);
    if (!head.is_object() || !head.contains("journal") || !head["plan"].is_array() ||
        !head["target"].is_object()) {
        *error = path + ": not an apply journal";
        return std::nullopt;
    }
    JournalRecord record;
    record.head.address = head.value("address", "");
    record.head.sections = head.value("sections", 0u);
    record.head.beforeState = head.value("before_state", "");
    record.head.targetDocument = head["target"].dump(2) + "\n";
    for (const Json& step : head["plan"]) {
        record.head.plan.push_back(step.is_string() ? step.get<std::string>() : "");
    }
    std::map<size_t, std::string> sending;
    std::map<size_t, std::string> intended;
    while (std::getline(in, text)) {
        const Json line = Json::parse(text, nullptr, false);
        if (!line.is_object()) {
            continue; // torn by a kill while it was written
        }
        if (line.contains("end") && line["end"].is_string()) {
            record.end = line["end"].get<std::string>();
        } else if (line.contains("intended") && line["intended"].is_array() &&
                   line.contains("from") && line["from"].is_number_unsigned()) {
            size_t n = line["from"].get<size_t>();
            for (const Json& step : line["intended"]) {
                intended[n++] = step.is_string() ? step.get<std::string>() : "";
            }
        } else if (line.contains("step") && line["step"].is_number_unsigned()) {
            // A step's own line names it as well: a journal whose group line
            // was lost still reads.
            const size_t n = line["step"].get<size_t>();
            if (line.contains("sending") && line["sending"].is_string()) {
                sending[n] = line["sending"].get<std::string>();
                intended.erase(n);
            } else if (line.contains("done") && line["done"].is_string()) {
                record.done.push_back(line["done"].get<std::string>());
                sending.erase(n);
                intended.erase(n);
            }
        }
    }
    for (const auto& [n, step] : sending) {
        record.inDoubt.push_back(step);
    }
    for (const auto& [n, step] : intended) {
        record.unconfirmed.push_back(step);
    }
    if (record.head.address.empty()) {
        *error = path + ": the journal names no device";
        return std::nullopt;
    }
    return record;
}

} // namespace vireo
