#pragma once

#include "app/machine_entry.h"
#include "app/machine_tree.h"
#include "app/machine_window.h"

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace vireo {

// State codes that the session and the windows report for a machine node.
namespace machine_state {
inline constexpr int NotConnected = 1;
inline constexpr int Connected = 2;
inline constexpr int SignalLocked = 4; // both lock bits set while the data is good
inline constexpr int SignalOther = 5;
inline constexpr int Current = 6;    // put the current mark on
inline constexpr int NotCurrent = 7; // take the current mark off
} // namespace machine_state

// The registry of machines: one entry per open device window, each with its
// node under the root of the machine tree, and the entry that carries the
// current mark.
//
// Threads. Every call takes the registry lock (recursive) for the time it
// reads or changes the registry, so the entry list, the current entry and the
// tree are never seen half changed, whatever thread calls. Observer callbacks
// run on the calling thread with the lock held; they must not block on another
// thread and must not change the registry. Calls into a window that can do
// real work (Activate, ShowAndRaise, Teardown, Close) are made without the
// lock, so a teardown may wait for a session thread that is reporting a state.
//
// A state change and the removal of its entry never interleave: the change
// either lands before the removal or finds the entry gone and does nothing.
// A thread other than the user-interface thread must name the machine by its
// NodeId (never reused), not by an entry pointer that may already be freed.
class MachineManager
{
public:
    explicit MachineManager(TextCompare compare = {});
    // Frees any entry still registered without touching its window; every
    // window is expected to have been torn down before.
    ~MachineManager();

    MachineManager(const MachineManager&) = delete;
    MachineManager& operator=(const MachineManager&) = delete;

    void SetObserver(MachineTreeObserver* observer);
    // Replaces the text order of the tree (empty: std::strcoll) and re-sorts.
    void SetCompare(TextCompare compare);

    // Adds the root node (image 3). Returns the root; a second call changes
    // nothing.
    NodeId AddRoot(const std::string& text);

    // Registers `window`: a node under the root with the caption (its display
    // text: the name is the operator's or the settings file's) as text and
    // image 1, selected, at its sorted place; the entry goes to the tail of
    // the list and window and entry are linked both ways. Returns false when
    // `window` is null, there is no root yet, or the window is registered.
    bool AddMachine(MachineWindow* window);

    MachineEntry* FindByNode(NodeId node) const;

    // The window of the first entry in list order whose caption has the same
    // address as `caption`, or null.
    MachineWindow* FindByAddress(std::string_view caption) const;

    // Activates and shows the window of `node` unless it is closing, then
    // moves the current mark to its entry. False (nothing changed) for the
    // root, an unknown node or a closing window.
    bool ShowByNode(NodeId node);

    // Tears down and closes the window of `node`. False when the node has no
    // entry.
    bool CloseByNode(NodeId node);

    // Unregisters `entry`: drops the current mark if it was current, deletes
    // its node, clears the window's link to it and frees it. An entry not
    // registered, or null, changes nothing.
    void RemoveMachine(MachineEntry* entry);

    // Sets the node text of `entry` to the display text of `text` and
    // re-sorts. False for an unknown entry.
    bool RenameMachine(MachineEntry* entry, const std::string& text);

    // Applies a state code to the node of `entry` (see machine_state):
    // 1, 2 set image and selected image; 4, 5 alternate them between 2 and the
    // code, so successive signal reports blink; 6 and 7 put the current mark
    // picture on and off; any other code clears all three pictures. The
    // current entry is not changed. False for an unknown entry or node.
    bool SetMachineState(MachineEntry* entry, int code);
    bool SetMachineState(NodeId node, int code);

    // Activation of the window of `entry`: the previous current entry loses
    // its mark, `entry` gets it and becomes current.
    void MarkCurrent(MachineEntry* entry);
    // Deactivation: if `entry` is current it loses the mark and there is no
    // current entry any more.
    void UnmarkCurrent(MachineEntry* entry);
    MachineEntry* CurrentEntry() const;

    NodeId RootNode() const;
    // The machines in tree order: the root's first child, then next siblings;
    // kNoNode past the last one.
    NodeId FirstMachineNode() const;
    NodeId NextMachineNode(NodeId node) const;
    size_t MachineCount() const;

    // Read access for a widget mirroring the tree on the user-interface thread.
    const MachineTree& Tree() const { return m_tree; }

    // True when both captions carry the same address: each is cut at every
    // '.' and ':', the pieces before a separator are decimal numbers (leading
    // zeros allowed, empty is 0) and the text after the last separator (the
    // name) is ignored. The numbers must agree in count and value.
    static bool SameAddress(std::string_view a, std::string_view b);
    // The address of a caption as one string: equal keys, and not empty,
    // exactly when SameAddress holds.
    static std::string AddressKey(std::string_view caption);

private:
    MachineEntry* findByNodeLocked(NodeId node) const;
    bool isRegisteredLocked(const MachineEntry* entry) const;
    void applyStateLocked(const MachineEntry& entry, int code);
    void markCurrentLocked(MachineEntry* entry);

    mutable std::recursive_mutex m_lock;
    MachineTree m_tree;
    std::vector<std::unique_ptr<MachineEntry>> m_entries; // in order of creation
    MachineEntry* m_current = nullptr;
};

} // namespace vireo
