#include "app/settings_file.h"

#include "log/address_text.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vireo {

namespace {

constexpr std::string_view kAddressHeader = "[Address]";
constexpr std::string_view kLanguageHeader = "[LANGUAGE]";
constexpr std::string_view kMachineKey = "machine=";
constexpr std::string_view kLanguageKey = "language=";
constexpr std::string_view kLineEnd = "\r\n";

bool startsAt(std::string_view data, size_t pos, std::string_view word)
{
    return pos <= data.size() && data.substr(pos).starts_with(word);
}

size_t nextSection(std::string_view data, size_t pos)
{
    return std::min(data.find('[', pos), data.size());
}

// Accepts one "machine=" line, given with its CR LF, into the result.
void acceptMachine(std::string_view line, SettingsReadResult& result)
{
    const size_t addressStart = kMachineKey.size() + 1; // after the y/n flag
    if (line.size() <= addressStart) {
        return;
    }
    const bool flag = line[kMachineKey.size()] == 'y';
    // Look for the ':' only as far as the longest address reaches: a line whose
    // address is longer, or that has no ':', is skipped alike.
    const std::string_view field = line.substr(addressStart, kMaxAddressLength + 1);
    const size_t colon = field.find(':');
    if (colon == std::string_view::npos) {
        return;
    }
    const std::string_view address = field.substr(0, colon);
    if (!IsValidIPv4Text(address)) {
        return;
    }

    // The name runs from after the ':' to the line end. The line normally ends
    // in CR LF; should it not, the name ends with the line, and it is never
    // taken as shorter than nothing.
    const size_t nameStart = addressStart + colon + 1;
    const size_t nameEnd = line.ends_with(kLineEnd) ? line.size() - kLineEnd.size() : line.size();
    const std::string_view name =
        nameEnd > nameStart ? line.substr(nameStart, nameEnd - nameStart) : std::string_view{};

    ChosenMachine machine;
    machine.index = static_cast<int>(result.items.size());
    machine.address = address;
    machine.autoConnect = flag;
    machine.open = true;
    if (name.size() <= kMaxMachineNameLength) {
        machine.name = name;
    }
    result.items.push_back({machine.address + ':' + machine.name, flag});
    result.machines.push_back(std::move(machine));
}

// Reads the machine lines from `pos` to the next section; returns where it stopped.
size_t parseMachines(std::string_view data, size_t pos, SettingsReadResult& result)
{
    const size_t length = data.size();
    while (pos < length && data[pos] != '[') {
        const size_t eol = NextLineStart(data, pos);
        // A machine line that is the last line of the data is not taken.
        if (eol < length && startsAt(data, pos, kMachineKey)) {
            acceptMachine(data.substr(pos, eol - pos), result);
        }
        pos = eol;
    }
    return pos;
}

// Reads the language lines from `pos` to the next section; the last one wins.
size_t parseLanguage(std::string_view data, size_t pos, SettingsReadResult& result)
{
    const size_t length = data.size();
    while (pos < length && data[pos] != '[') {
        const size_t eol = NextLineStart(data, pos);
        if (length - pos > kLanguageKey.size() + 1 && startsAt(data, pos, kLanguageKey)) {
            result.languageIndex = data[pos + kLanguageKey.size()] == '1' ? 1 : 0;
        }
        pos = eol;
    }
    return pos;
}

// A new file next to the target that is removed again unless it was renamed
// over the target.
class TempFile
{
public:
    ~TempFile()
    {
        closeFile();
        if (!m_path.empty() && !m_kept) {
            ::unlink(m_path.c_str());
        }
    }

    bool create(const std::filesystem::path& target)
    {
        static std::atomic<unsigned> counter{0};
        const std::filesystem::path folder =
            target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
        const std::string stem =
            "." + target.filename().string() + ".tmp-" + std::to_string(::getpid()) + "-";
        for (int attempt = 0; attempt < 100; ++attempt) {
            m_path = folder / (stem + std::to_string(counter.fetch_add(1)));
            m_fd = ::open(m_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (m_fd >= 0) {
                return true;
            }
            if (errno != EEXIST) {
                break;
            }
        }
        m_path.clear();
        return false;
    }

    bool write(std::string_view bytes)
    {
        while (!bytes.empty()) {
            const ssize_t n = ::write(m_fd, bytes.data(), bytes.size());
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                return false;
            }
            bytes.remove_prefix(static_cast<size_t>(n));
        }
        return true;
    }

    // Gives the new file the permissions of the one it replaces, if any.
    void copyModeFrom(const std::filesystem::path& target)
    {
        struct stat st
        {};
        if (::stat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
            ::fchmod(m_fd, st.st_mode & 07777);
        }
    }

    bool syncAndClose() { return ::fsync(m_fd) == 0 && closeFile(); }

    bool renameTo(const std::filesystem::path& target)
    {
        m_kept = ::rename(m_path.c_str(), target.c_str()) == 0;
        return m_kept;
    }

private:
    bool closeFile()
    {
        if (m_fd < 0) {
            return true;
        }
        const int fd = m_fd;
        m_fd = -1;
        return ::close(fd) == 0;
    }

    std::filesystem::path m_path;
    int m_fd = -1;
    bool m_kept = false;
};

// Makes a rename in `folder` durable; a failure here loses nothing already
// written, so it is not reported.
void syncFolder(const std::filesystem::path& target)
{
    const std::filesystem::path folder =
        target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

class FileCloser
{
public:
    explicit FileCloser(int fd) : m_fd(fd) {}
    ~FileCloser() { ::close(m_fd); }
    FileCloser(const FileCloser&) = delete;
    FileCloser& operator=(const FileCloser&) = delete;

private:
    int m_fd;
};

} // namespace

size_t NextLineStart(std::string_view data, size_t pos)
{
    const size_t length = data.size();
    while (pos < length) {
        pos = data.find('\r', pos);
        if (pos == std::string_view::npos) {
            break;
        }
        if (pos + 1 < length && data[pos + 1] == '\n') {
            return pos + 2;
        }
        pos += 2; // a lone CR: the byte after it is passed over unexamined
    }
    return length;
}

SettingsReadResult SettingsReadFailure(SettingsReadError error)
{
    const char* text = "";
    switch (error) {
    case SettingsReadError::NoFile:
        text = "None of machine recorde!";
        break;
    case SettingsReadError::OpenFailed:
        text = "Open file error!";
        break;
    case SettingsReadError::BadHandle:
        text = "Read record file error!";
        break;
    case SettingsReadError::SizeUnknown:
        text = "file size error!";
        break;
    case SettingsReadError::ShortRead:
        text = "None of machine recorded!";
        break;
    }
    SettingsReadResult result;
    result.items.push_back({text, false});
    return result;
}

SettingsReadResult ParseSettings(std::string_view data)
{
    SettingsReadResult result;
    result.checkboxes = true;
    const size_t length = data.size();
    size_t pos = 0;
    while (pos < length) {
        bool recognised = false;
        if (length - pos >= kAddressHeader.size() + 1 && startsAt(data, pos, kAddressHeader)) {
            recognised = true;
            pos = std::min(pos + kAddressHeader.size() + kLineEnd.size(), length);
            pos = parseMachines(data, pos, result);
        }
        if (length - pos >= kLanguageHeader.size() + 1 && startsAt(data, pos, kLanguageHeader)) {
            recognised = true;
            pos = std::min(pos + kLanguageHeader.size() + kLineEnd.size(), length);
            pos = parseLanguage(data, pos, result);
        }
        if (!recognised) {
            ++pos;
        }
        pos = nextSection(data, pos); // any other section is skipped whole
    }
    return result;
}

SettingsReadResult ReadSettingsFile(const std::filesystem::path& path)
{
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec) || ::access(path.c_str(), R_OK) != 0) {
        return SettingsReadFailure(SettingsReadError::NoFile);
    }
    // Non-blocking, so that something swapped in for the file meanwhile (a
    // FIFO) cannot hang the start-up; it has no effect on a regular file.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return SettingsReadFailure(SettingsReadError::OpenFailed);
    }
    const FileCloser closer(fd);
    struct stat st
    {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        return SettingsReadFailure(SettingsReadError::BadHandle);
    }
    const off_t size = ::lseek(fd, 0, SEEK_END);
    if (size < 0 || ::lseek(fd, 0, SEEK_SET) != 0) {
        return SettingsReadFailure(SettingsReadError::SizeUnknown);
    }
    std::string data;
    try {
        data.resize(static_cast<size_t>(size));
    } catch (const std::exception&) {
        return SettingsReadFailure(SettingsReadError::SizeUnknown);
    }
    size_t got = 0;
    while (got < data.size()) {
        const ssize_t n = ::read(fd, data.data() + got, data.size() - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        got += static_cast<size_t>(n);
    }
    if (got < data.size()) {
        return SettingsReadFailure(SettingsReadError::ShortRead);
    }
    return ParseSettings(data);
}

std::string FormatSettings(const std::vector<SettingsMachine>& machinesInTreeOrder,
                           int languageIndex)
{
    std::string out;
    out.append(kAddressHeader).append(kLineEnd);
    for (const SettingsMachine& machine : machinesInTreeOrder) {
        out.append(kMachineKey);
        out += machine.everConnected ? 'y' : 'n';
        for (const char c : machine.caption) {
            out += (c == '\r' || c == '\n') ? ' ' : c;
        }
        out.append(kLineEnd);
    }
    out.append(kLanguageHeader).append(kLineEnd);
    out.append(kLanguageKey);
    out += languageIndex == 0 ? '0' : '1';
    out.append(kLineEnd).append(kLineEnd);
    return out;
}

bool WriteSettingsFile(const std::filesystem::path& path,
                       const std::vector<SettingsMachine>& machinesInTreeOrder, int languageIndex,
                       std::string* reason)
{
    auto fail = [reason](const std::string& what, int error) {
        if (reason != nullptr) {
            *reason = what + ": " + std::strerror(error);
        }
        return false;
    };
    try {
        const std::string bytes = FormatSettings(machinesInTreeOrder, languageIndex);
        std::error_code ec;
        std::filesystem::path target = path;
        if (std::filesystem::is_symlink(path, ec)) {
            target = std::filesystem::weakly_canonical(path, ec);
            if (ec) {
                return fail("cannot follow the link " + path.string(), ec.value());
            }
        }
        TempFile temp;
        if (!temp.create(target)) {
            const std::filesystem::path folder =
                target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
            return fail("cannot create a file in " + folder.string(), errno);
        }
        temp.copyModeFrom(target);
        if (!temp.write(bytes) || !temp.syncAndClose()) {
            return fail("cannot write " + target.string(), errno);
        }
        if (!temp.renameTo(target)) {
            return fail("cannot replace " + target.string(), errno);
        }
        syncFolder(target);
        return true;
    } catch (const std::exception&) {
        return fail("cannot write " + path.string(), ENOMEM); // building the bytes or names
    }
}

} // namespace vireo
