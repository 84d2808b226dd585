#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace vireo {

// One of the two program trees of a device window (TV and radio), modelled in
// the core: the widget mirrors it through ProgramTreeObserver, and every
// decision (does a record have a node, a node's level, the PID-line format
// read back from a node's text) reads this model, never the widget.
//
// Levels: 0 satellite (roots), 1 transponder, 2 program, 3 the PID line under
// a program. Texts are 8-bit GBK bytes.

using TreeNodeId = uint64_t; // never reused; 0 is "no node"
inline constexpr TreeNodeId kNoTreeNode = 0;
inline constexpr int kNoTreeImage = -1;

// What a node stands for. The record pointer is owned by the device database.
enum class TreeNodeData {
    None,
    Satellite,
    Tp,
    Program,
};

struct TreeNode
{
    TreeNodeId id = kNoTreeNode;
    TreeNodeId parent = kNoTreeNode;
    std::string text;
    int image = kNoTreeImage; // image and selected image are always set together
    int stateImage = kNoTreeImage;
    bool expanded = false;
    TreeNodeData dataKind = TreeNodeData::None;
    void* data = nullptr;
    std::vector<TreeNodeId> children;
};

// Receives every change of the tree, after it is made, with the tree's lock
// held: implementations hand the change on (post it to the UI thread), never
// block and never call back into the tree.
//
// BeginUpdate and EndUpdate come when the tree's outermost bracket opens and
// closes, whether or not anything changed inside it. A change made outside
// any bracket is reported on its own. Only real changes are reported: setting
// a text or image to the value it already has tells the observer nothing.
class ProgramTreeObserver
{
public:
    virtual ~ProgramTreeObserver() = default;
    virtual void BeginUpdate() = 0; // outermost bracket only
    virtual void EndUpdate() = 0;
    // Added as child number `index` of `parent` (kNoTreeNode: a root, index
    // among the roots).
    virtual void NodeAdded(const TreeNode& node, TreeNodeId parent, size_t index) = 0;
    virtual void NodeRemoved(TreeNodeId id) = 0;        // with its whole subtree
    virtual void NodeChanged(const TreeNode& node) = 0; // text or images
    // The model opened or closed a node (the display of the playing program
    // does). Expansion the operator made in the widget is never reported back.
    virtual void NodeExpanded(TreeNodeId id, bool expanded) = 0;
};

class ProgramTree
{
public:
    ProgramTree() = default;
    ProgramTree(const ProgramTree&) = delete;
    ProgramTree& operator=(const ProgramTree&) = delete;

    // One observer at most; null detaches. An observer attached while a
    // bracket is open gets BeginUpdate at once, and the old one its EndUpdate,
    // so both see balanced brackets. A widget attached late reads the present
    // tree through Children and Node first (under Lock).
    void SetObserver(ProgramTreeObserver* observer);

    // The tree's lock, for a caller that reads and then changes the tree and
    // needs both steps to see the same tree. Recursive: the calls below may
    // be made while it is held.
    std::unique_lock<std::recursive_mutex> Lock() const;

    // Adds a root (parent kNoTreeNode) or a child at the end of its parent's
    // children. Returns kNoTreeNode when the parent does not exist.
    TreeNodeId Add(TreeNodeId parent, std::string text, TreeNodeData kind = TreeNodeData::None,
                   void* data = nullptr);
    // Removes the node and its subtree; an unknown id changes nothing. The
    // observer hears of the subtree's top node only.
    void Remove(TreeNodeId id);
    // Removes every root (each reported), inside a bracket of its own.
    void Clear();

    // False for an unknown id.
    bool SetText(TreeNodeId id, std::string text);
    bool SetImage(TreeNodeId id, int image);
    bool SetStateImage(TreeNodeId id, int stateImage);
    // Opens or closes a node for the display; the observer is told.
    bool SetExpanded(TreeNodeId id, bool expanded);
    // The widget opened or closed the node (the operator did, mostly): the
    // model keeps it, so a later SetExpanded is a change only when it differs
    // from what the operator sees. The observer is not told.
    bool NoteExpanded(TreeNodeId id, bool expanded);

    // A copy of the node (id kNoTreeNode when it does not exist).
    TreeNode Node(TreeNodeId id) const;
    bool Exists(TreeNodeId id) const;
    std::string Text(TreeNodeId id) const;
    TreeNodeId Parent(TreeNodeId id) const;     // kNoTreeNode for a root or an unknown id
    TreeNodeId FirstChild(TreeNodeId id) const; // kNoTreeNode: the first root
    std::vector<TreeNodeId> Children(TreeNodeId id) const; // kNoTreeNode: the roots
    // 0 for a root, 1 for its children and so on; -1 for an unknown id.
    int Level(TreeNodeId id) const;
    size_t Size() const;

    // Position in a depth-first walk over the whole tree (roots in order, each
    // followed by its subtree), counted from 0; -1 for an unknown id. The popup
    // menu names a program by this position.
    long AbsoluteIndex(TreeNodeId id) const;
    TreeNodeId NodeAtAbsoluteIndex(long index) const;

    // The node the operator selected in the widget (the widget reports it).
    // An unknown id selects nothing; removing the selected node (or one of its
    // ancestors) clears the selection. The observer is not told.
    void SetSelected(TreeNodeId id);
    TreeNodeId Selected() const;

    // Bracketing of multi-node changes; nests, the observer sees the outermost.
    // An EndUpdate without a matching BeginUpdate is ignored.
    void BeginUpdate();
    void EndUpdate();

private:
    TreeNode* find(TreeNodeId id);
    const TreeNode* find(TreeNodeId id) const;
    std::vector<TreeNodeId>& siblingsOf(const TreeNode& node);
    // Forgets `id` and everything under it (no report, no unlinking from the
    // parent).
    void eraseSubtree(TreeNodeId id);
    void reportChanged(const TreeNode& node);

    mutable std::recursive_mutex m_mutex;
    std::unordered_map<TreeNodeId, TreeNode> m_nodes;
    std::vector<TreeNodeId> m_roots;
    TreeNodeId m_lastId = kNoTreeNode;
    TreeNodeId m_selected = kNoTreeNode;
    ProgramTreeObserver* m_observer = nullptr;
    int m_updateDepth = 0;
};

// RAII bracket over one tree.
class TreeUpdateScope
{
public:
    explicit TreeUpdateScope(ProgramTree& tree) : m_tree(tree) { m_tree.BeginUpdate(); }
    ~TreeUpdateScope() { m_tree.EndUpdate(); }
    TreeUpdateScope(const TreeUpdateScope&) = delete;
    TreeUpdateScope& operator=(const TreeUpdateScope&) = delete;

private:
    ProgramTree& m_tree;
};

} // namespace vireo
