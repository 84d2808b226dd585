#include "snapshot/headless_device.h"

#include "lang/language_table.h"

#include <cstdio>

namespace vireo {

void HeadlessDevice::LastLine::OnLogLineAdded(const std::string& line)
{
    if (m_echo) {
        std::fprintf(stderr, "%s\n", line.c_str());
    }
    std::lock_guard lock(m_mutex);
    const size_t cut = line.find("): ");
    m_last = cut == std::string::npos ? line : line.substr(cut + 3);
}

std::string HeadlessDevice::LastLine::Get() const
{
    std::lock_guard lock(m_mutex);
    return m_last;
}

namespace {

// The window caption that names the device, once the English texts the
// session's log lines use are in place.
std::string captionWithTexts(const std::string& address)
{
    SetLanguageFlag(1);
    BuildLanguageTable();
    return address + ":";
}

} // namespace

HeadlessDevice::HeadlessDevice(const std::string& address, bool verbose, LinkTiming timing)
    : m_address(address), m_lastLine(verbose),
      m_core(m_context, m_view, captionWithTexts(address), timing, "Logs")
{
    m_core.LogPane().SetObserver(&m_lastLine);
}

HeadlessDevice::~HeadlessDevice()
{
    m_core.LogPane().SetObserver(nullptr);
    m_core.Teardown();
}

bool HeadlessDevice::Connect()
{
    return m_core.Session().ConnectAndStart();
}

DeviceRead HeadlessDevice::Reader(const std::atomic<bool>* cancel)
{
    DeviceRead read{m_core.Content(), [this] {
                        if (m_view.refreshWanted.exchange(false)) {
                            m_core.Session().RefreshIrd();
                        }
                    }};
    read.cancel = cancel;
    return read;
}

DeviceRead::Outcome HeadlessDevice::ReadFirst(std::chrono::steady_clock::time_point deadline,
                                              std::shared_ptr<ListManager>* database)
{
    return Reader().Wait(nullptr, deadline, database);
}

std::string HeadlessDevice::LastLogLine() const
{
    return m_lastLine.Get();
}

std::string HeadlessDevice::Reason(DeviceRead::Outcome outcome,
                                   std::chrono::milliseconds timeLimit) const
{
    switch (outcome) {
    case DeviceRead::Outcome::Complete:
        return {};
    case DeviceRead::Outcome::LinkLost:
        return "connection to " + m_address + " lost: " + LastLogLine();
    case DeviceRead::Outcome::GaveUp:
        return "the answers of " + m_address + " never completed its lists: " + LastLogLine();
    case DeviceRead::Outcome::Cancelled:
        return "cancelled";
    case DeviceRead::Outcome::TimedOut:
    default:
        return "no complete refresh of " + m_address + " within " +
               std::to_string(timeLimit.count() / 1000) + " s";
    }
}

} // namespace vireo
