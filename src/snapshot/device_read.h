#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace vireo {

class DatabaseContent;
class ListManager;

// Every list of the database is whole, every single record is held, and
// what plays is a program of its list (or nothing plays).
bool DatabaseComplete(ListManager& database);

// Asks the device for the first missing piece, in the order of a refresh.
void RequestFirstMissing(ListManager& database);

// Waits until the device's database is complete and the link idle: the
// device has been read. What a headless reader needs of one device window's
// core parts; the desktop passes its window's, the tools a DeviceCore's.
struct DeviceRead
{
    enum class Outcome { Complete, LinkLost, GaveUp, TimedOut, Cancelled };

    DatabaseContent& content;
    // Runs a refresh the device asked for, where no window does it (the
    // tools); empty where the window's own view takes care of it.
    std::function<void()> serviceRefresh;
    std::chrono::milliseconds idleRequery{1500};
    const std::atomic<bool>* cancel = nullptr;

    // Waits for a complete database other than `replaced` (a refresh
    // replaces the database; null: any complete one will do), until
    // `deadline`. On Complete, *database is it.
    Outcome Wait(const ListManager* replaced, std::chrono::steady_clock::time_point deadline,
                 std::shared_ptr<ListManager>* database);
    // Starts a full refresh and waits for its database.
    Outcome Refresh(std::chrono::steady_clock::time_point deadline,
                    std::shared_ptr<ListManager>* database);
};

} // namespace vireo
