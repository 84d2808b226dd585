#pragma once

#include "database/chain_order.h"
#include "database/database_host.h"
#include "database/records.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <variant>
#include <vector>

namespace vireo {

// Results of the database operations. Callers mostly ignore them.
namespace db_result {
inline constexpr int Ok = 0;
inline constexpr int NotMade = 1;      // the window is closing; nothing stored
inline constexpr int Inconsistent = 3; // not linked, not found, or nothing to do
inline constexpr int NotNow = 5;       // the window shows neither itself nor the tab
inline constexpr int NotReady = 6;     // the list is not ready to be shown
inline constexpr int Closing = 7;      // the window is closing; nothing shown
inline constexpr int NotProgramKind = 8;
inline constexpr int Disconnect = 9; // the device reported a reset or a new signal source
inline constexpr int Rejected = 10;  // payload of the wrong length or naming index 0xFF
inline constexpr int NotHeld = 11;   // system record or volume not received yet
inline constexpr int UpToDate = 12;  // already shown and unchanged
inline constexpr int NoDatabase = 13;
inline constexpr int NodeNotMade = 14;
inline constexpr int ParentRequested = 15;
inline constexpr int GivenUp = 16;   // asked for often enough this refresh; not asked again
inline constexpr int NotLinked = 27; // satellite not linked; kind without a query
} // namespace db_result

// A record handed to ShowItem, or none for a whole kind.
using RecordRef = std::variant<std::monostate, SatelliteRecord*, TpRecord*, ProgramRecord*>;

// The device database of one connection: satellites, TPs, TV and radio
// programs, the playing program, system record, volume and version, decoded
// from the IRD's replies, kept in the IRD's order, shown in the window's two
// program trees and completed by queries for what is missing.
//
// Ownership. Records are owned by their lists; tree nodes carry raw pointers
// to them and are deleted whenever their record is freed, so a node never
// points at a freed record. Pointers returned by the lookups stay valid while
// the caller holds the list's lock.
//
// Threads. Replies are stored from the session thread; the UI thread shows
// lists and reads records. Every list has its own recursive lock; several are
// always taken top down: satellites, TPs, TV programs, radio programs. The
// system and volume locks are never held with a list lock. The playing state,
// the pending removals and the version sit behind one more lock that is only
// ever held briefly and never while another is taken. A tree's own lock comes
// after the list locks: whoever holds a tree lock must not wait for a list
// lock. No lock is held while the host is asked to log, disconnect, pause or
// post work.
class ListManager
{
public:
    template <class Record> using List = std::vector<std::unique_ptr<Record>>;
    static constexpr int kFromStart = -1;

    explicit ListManager(DatabaseHost& host);
    // Frees every record and deletes their tree nodes, inside update brackets.
    ~ListManager();
    ListManager(const ListManager&) = delete;
    ListManager& operator=(const ListManager&) = delete;

    // --- storing replies ---
    // `payload` is the reply's payload, `length` its size. A null payload is
    // "no payload": the empty-list reports of the status replies. A payload
    // too short for its record, or a record naming index 0xFF, is dropped
    // with 10 and changes nothing; bytes beyond a record are ignored.
    int StoreVersion(const uint8_t* payload, size_t length);
    // 0 stored, 9 reset or changed signal source (the device is disconnected).
    int StoreSystemRecord(const uint8_t* payload, size_t length);
    // Length 0 (no payload): the volume counts as held; over 1: 10.
    int StoreVolume(const uint8_t* payload, size_t length);
    // Length 0: the device has no satellites (TPs).
    int LoadSatellite(const uint8_t* payload, size_t length);
    int MergeSatellite(const uint8_t* payload, size_t length);
    int LoadTp(const uint8_t* payload, size_t length);
    int MergeTp(const uint8_t* payload, size_t length);
    // No payload with length 1 (2): the device has no TV (radio) programs.
    int LoadProgram(const uint8_t* payload, size_t length);
    int MergeProgram(const uint8_t* payload, size_t length);
    int InsertProgram(std::unique_ptr<ProgramRecord> record, bool refresh);
    // Length 6: nothing plays. No payload: nothing changes.
    int StorePlaying(const uint8_t* payload, size_t length);
    int ReplacePlaying(const uint8_t* payload, size_t length);

    // --- lookups ---
    ProgramRecord* FindProgram(int kind, int index);
    TpRecord* FindTp(int index);
    SatelliteRecord* FindSatellite(int index);
    // Kind 1 or 2: the TP of that index; kind 4: the satellite.
    RecordRef FindParent(int kind, int index);
    // `record` is one of this database's (kind 1 TV, else radio). The caller
    // holds the list's lock, so a record found here stays valid under it;
    // a pointer taken from a tree node may belong to a database a refresh
    // has replaced, and is read only once this says it is held.
    bool Holds(const SatelliteRecord* record) const;
    bool Holds(const TpRecord* record) const;
    bool Holds(int kind, const ProgramRecord* record) const;

    // --- completeness (list_completeness.cpp) ---
    // True when `kind` is complete; otherwise the first missing piece has
    // been queried.
    bool CheckComplete(int kind);
    // Queries `kind` from index `index` or from the start; the send result,
    // 27 when the kind has no query, 16 when that piece has been asked for
    // kMaxAsks times or the kind's query budget is spent.
    int RequestMissing(int kind, int index = kFromStart);
    // The device says it has no record `index` of `kind` (1 to 4): the
    // completeness walk goes on without it for the rest of this database.
    void NoteNotOnDevice(int kind, int index);
    // A QueryTp for `tp` under `satellite` found nothing: the next held
    // satellite to look under, or -1 when every one has been tried.
    int NextTpSatellite(int tp, int satellite);
    // A kind spent its query budget: the device's answers never completed it.
    bool GaveUp() const { return m_gaveUp; }
    // True once, after the budget was spent: time to tell the operator.
    bool TakeGaveUpNotice();
    // Queries sent for missing pieces so far (all kinds).
    int MissingQueries() const;

    // How often one missing piece is asked for, and how many queries one
    // kind may send, in the life of one database (one refresh).
    static constexpr int kMaxAsks = 3;
    static constexpr int kQueryBudget = 2 * 255;

    // --- removal after a confirmed delete (list_removal.cpp) ---
    // `record` null: the pending one. 0 removed; 3 not in its list or none given.
    int RemoveProgram(ProgramRecord* record, bool bracket);
    int RemoveTp(TpRecord* record, bool bracket);
    int RemoveSatellite(SatelliteRecord* record, bool bracket);
    // Gives each program list whose records were removed the indices 0, 1, 2...
    void RenumberPrograms();
    void SetPendingProgram(ProgramRecord* record);
    void SetPendingTp(TpRecord* record);
    void SetPendingSatellite(SatelliteRecord* record);
    ProgramRecord* PendingProgram() const;
    TpRecord* PendingTp() const;
    SatelliteRecord* PendingSatellite() const;

    // --- tree presentation (tree_presentation.cpp) ---
    // Shows one record, or the whole kind when `record` is none. 0 done;
    // 3 nothing to do; 6 list not ready; 7 closing; 14 node not made;
    // 15 parent missing and queried.
    int ShowItem(int kind, RecordRef record = {}, bool force = false);
    // " TV: " or " Radio: ", the playing program's node text and a space;
    // empty when nothing plays or the program has no node.
    std::string PlayingText();
    // Rewrites the PID line selected in `tree` (one of the host's two).
    bool SwitchPidFormat(ProgramTree& tree, int format);

    // --- locks and list contents ---
    std::recursive_mutex& SystemLock() const { return m_systemLock; }
    std::recursive_mutex& VolumeLock() const { return m_volumeLock; }
    std::recursive_mutex& SatelliteLock() const { return m_satelliteLock; }
    std::recursive_mutex& TpLock() const { return m_tpLock; }
    // Kind 1 TV, anything else radio.
    std::recursive_mutex& ProgramLock(int kind) const;
    // The lists in their order; the caller holds the list's lock.
    const List<SatelliteRecord>& Satellites() const { return m_satellites; }
    const List<TpRecord>& Tps() const { return m_tps; }
    const List<ProgramRecord>& Programs(int kind) const;

    // --- state ---
    // Kinds 1 to 4; complete also answers 7 to 9 (held).
    bool IsComplete(int kind) const;
    bool IsShown(int kind) const; // 1 to 4, 7, 8
    bool IsReceived(int kind) const;
    bool IsChanged(int kind) const; // 3, 4, 7, 8
    bool IsEmptyReported(int kind) const;
    bool IsRenumberNeeded(int kind) const;
    // The system page (7) and volume (8) report what they have shown; shown
    // also clears the kind's changed flag.
    void SetShown(int kind, bool shown);
    uint8_t LowestSatellite() const { return m_lowestSatellite; }
    uint8_t HighestSatellite() const { return m_highestSatellite; }

    std::optional<SystemRecord> System() const;
    std::optional<VolumeState> Volume() const;
    std::optional<VersionRecord> Version() const;

    PlayingRecord Playing() const;
    bool PlayingKnown() const;
    // A program plays (signal polling is due).
    bool HasPlayingProgram() const;
    bool PlayingChangedPending() const;
    // 5 or 6, set by the dispatcher from the signal report.
    int PlayingDisplayCode() const { return m_playingDisplayCode; }
    void SetPlayingDisplayCode(int code) { m_playingDisplayCode = code; }
    // This database has seen the end of a full refresh. It belongs to the
    // database, not to the window: a refresh that replaces the database
    // starts an incomplete one, whatever the end of the previous refresh,
    // still being handled, marks on its own.
    bool Loaded() const { return m_loaded; }
    void SetLoaded() { m_loaded = true; }

private:
    struct ListFlags
    {
        std::atomic<bool> complete{false};
        std::atomic<bool> received{false};
        std::atomic<bool> changed{false};
        std::atomic<bool> shown{false};
        std::atomic<bool> emptyReported{false};
        std::atomic<bool> renumberNeeded{false};
    };

    static int programSlot(int kind) { return kind == item_kind::Tv ? 0 : 1; }
    const ListFlags* flagsOf(int kind) const;
    ProgramTree& treeOf(int kind)
    {
        return kind == item_kind::Tv ? m_host.TvTree() : m_host.RadioTree();
    }

    // Satellite and TP lists (list_manager.cpp): a record is new to the
    // list, updated a held one, or was new and is already outside the
    // device's list (dropped).
    enum class Held { Added, Updated, Stale };
    template <class Record> Held holdLinked(List<Record>& list, std::unique_ptr<Record> record);
    template <class Record> static ChainPlan planLinked(const List<Record>& list);
    // Puts the list in link order; returns the plan of the list as it then stands.
    template <class Record> ChainPlan orderLinked(List<Record>& list);

    // Completeness bookkeeping of this database (list_completeness.cpp).
    struct QueryLedger
    {
        std::map<int, int> asks; // index (kFromStart too) -> times asked
        std::set<int> dropped;   // given up for this database
        int sent = 0;
        bool spent = false;
    };
    static size_t ledgerSlot(int kind);
    // Counts one query; false when the piece or the kind is given up.
    bool admitQuery(int kind, int index);
    void giveUp();
    // Satellites to look under for `tp`, in the order to try them.
    std::vector<uint8_t> tpSearchOrder(int tp) const;
    std::vector<int> wantedPrograms(int kind) const;
    void noteSatelliteRange(); // lowest and highest index held
    void refreshNodes(SatelliteRecord& record);
    void refreshNodes(TpRecord& record);

    // Freeing records together with their nodes (list_removal.cpp).
    void discard(std::unique_ptr<SatelliteRecord> record);
    void discard(std::unique_ptr<TpRecord> record);
    void discard(std::unique_ptr<ProgramRecord> record, int kind);
    void deleteNode(ProgramTree& tree, TreeNodeId& node, bool tvTree);
    void forgetSubtree(ProgramTree& tree, TreeNodeId node, bool tvTree);
    void clearPending(const void* record);
    int removeProgramLocked(ProgramRecord* record);
    int removeTpLocked(TpRecord* record);

    // Tree presentation (tree_presentation.cpp).
    int showProgram(ProgramRecord& record, int kind);
    int showSatellite(SatelliteRecord& record);
    int showTp(TpRecord& record);
    int showPrograms(int kind, bool force);
    int showSatellites();
    int showTps();
    int showPlaying(int kind);
    static bool liveNode(ProgramTree& tree, TreeNodeId& node);

    DatabaseHost& m_host;

    mutable std::recursive_mutex m_systemLock;
    mutable std::recursive_mutex m_volumeLock;
    mutable std::recursive_mutex m_satelliteLock;
    mutable std::recursive_mutex m_tpLock;
    mutable std::recursive_mutex m_programLocks[2]; // TV, radio
    mutable std::mutex m_stateLock;                 // playing state, pending removals, version

    List<SatelliteRecord> m_satellites;
    ListFlags m_satelliteFlags;
    std::atomic<uint8_t> m_lowestSatellite{0};
    std::atomic<uint8_t> m_highestSatellite{0};

    List<TpRecord> m_tps;
    ListFlags m_tpFlags;

    List<ProgramRecord> m_programs[2]; // TV, radio
    ListFlags m_programFlags[2];

    bool m_playingKnown = false;
    PlayingRecord m_playing;
    bool m_playingChanged = false;
    std::atomic<int> m_playingDisplayCode{item_kind::PlayingLocked};
    std::atomic<bool> m_loaded{false};

    ProgramRecord* m_pendingProgram = nullptr;
    TpRecord* m_pendingTp = nullptr;
    SatelliteRecord* m_pendingSatellite = nullptr;

    std::atomic<bool> m_systemHeld{false};
    std::atomic<bool> m_systemChanged{false};
    std::atomic<bool> m_systemShown{false};
    SystemRecord m_system;

    std::atomic<bool> m_volumeHeld{false};
    std::atomic<bool> m_volumeChanged{false};
    std::atomic<bool> m_volumeShown{false};
    VolumeState m_volume;

    bool m_versionHeld = false;
    VersionRecord m_version;

    mutable std::mutex m_ledgerLock; // never held while anything else is taken
    QueryLedger m_ledgers[8];
    std::map<int, std::vector<uint8_t>> m_tpSearch; // TP index -> satellites left to try
    std::atomic<bool> m_gaveUp{false};
    std::atomic<bool> m_gaveUpNotice{false};
};

// Whether and what a reply or a tab change displays now. 13 without a
// database; 5 when the window is neither active nor showing the kind's tab;
// otherwise the whole kind is shown (kinds 1 to 8) and the result is 0.
int DisplayProgramEntry(DatabaseHost& host, ListManager* database, int kind, bool force);

} // namespace vireo
