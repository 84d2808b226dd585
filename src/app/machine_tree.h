#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vireo {

// Identifies a node of the machine tree. Ids are handed out in increasing
// order and never reused, so an id kept after its node is gone simply finds
// nothing.
using NodeId = uint64_t;
inline constexpr NodeId kNoNode = 0;

// Pictures of the machine image list, which serves as node image list and as
// state image list. Image 0 is not used.
inline constexpr int kNoImage = -1;
inline constexpr int kImageNotConnected = 1;
inline constexpr int kImageConnected = 2;
inline constexpr int kImageRoot = 3;
inline constexpr int kImageSignalLocked = 4;
inline constexpr int kImageSignalOther = 5;
inline constexpr int kImageCurrentMark = 6; // state image of the current machine

struct MachineNode
{
    NodeId id = kNoNode;
    std::string text;
    int image = kNoImage;
    int selectedImage = kNoImage;
    int stateImage = kNoImage;
};

// Orders two node texts: negative, zero or positive like strcmp. The default
// is std::strcoll, i.e. the C library's LC_COLLATE order of the 8-bit bytes.
using TextCompare = std::function<int(const std::string&, const std::string&)>;

int DefaultTextCompare(const std::string& a, const std::string& b);

// What a tree widget needs to mirror the model. Every change of the model is
// reported once, after it has been made. Changes that belong together come
// between BeginUpdate and EndUpdate (never nested), during which a widget may
// suspend repainting; a bracket is only opened when something changes.
class MachineTreeObserver
{
public:
    virtual ~MachineTreeObserver() = default;

    virtual void BeginUpdate() = 0;
    virtual void EndUpdate() = 0;
    // `node` was inserted as child number `index` of `parent` (the root has
    // parent kNoNode and index 0).
    virtual void NodeAdded(const MachineNode& node, NodeId parent, size_t index) = 0;
    virtual void NodeRemoved(NodeId id) = 0;
    // The text or any of the three images of `node` changed.
    virtual void NodeChanged(const MachineNode& node) = 0;
    // The children of `parent` now stand in `order` (same set of ids).
    virtual void ChildrenReordered(NodeId parent, const std::vector<NodeId>& order) = 0;
    // The model asks for `id` to become the selected node. Selection itself
    // is the widget's state; the model does not track it.
    virtual void NodeSelected(NodeId id) = 0;
};

// The machine tree: one root and its children, the machines, kept in
// ascending order of their text. Equal texts keep their relative order, as a
// stable sort after each change would leave them.
//
// Not thread-safe; MachineManager guards it with the registry lock.
class MachineTree
{
public:
    explicit MachineTree(TextCompare compare = {});

    MachineTree(const MachineTree&) = delete;
    MachineTree& operator=(const MachineTree&) = delete;

    // One observer at most; null detaches. A widget attached late reads the
    // present tree through Root, RootNode and Children first.
    // A bracket still open is closed on the old observer first.
    void SetObserver(MachineTreeObserver* observer);

    // Replaces the text order (an empty function restores the default) and
    // sorts the children with it.
    void SetCompare(TextCompare compare);

    // Creates the root with `image` as image and selected image. A second
    // call changes nothing and returns the existing root.
    NodeId AddRoot(const std::string& text, int image);

    // Adds a child of the root at its sorted place with `image` as image and
    // selected image. Returns kNoNode when there is no root yet.
    NodeId AddChild(const std::string& text, int image);

    // Removes a child of the root. The root itself is never removed.
    bool Remove(NodeId id);

    // Sets a child's text and moves it to its sorted place.
    bool SetText(NodeId id, const std::string& text);

    // Sets all three pictures of any node; reports only a real change.
    bool SetImages(NodeId id, int image, int selectedImage, int stateImage);

    void Select(NodeId id);

    const MachineNode* Find(NodeId id) const;
    NodeId Root() const { return m_root.id; }
    const MachineNode* RootNode() const { return m_root.id == kNoNode ? nullptr : &m_root; }
    // The children in tree order.
    const std::vector<MachineNode>& Children() const { return m_children; }
    NodeId FirstChild() const;
    NodeId NextSibling(NodeId id) const;

    // Groups the changes made until the matching EndUpdate into one bracket
    // for the observer. Calls may nest.
    void BeginUpdate();
    void EndUpdate();

    class UpdateScope
    {
    public:
        explicit UpdateScope(MachineTree& tree) : m_tree(tree) { m_tree.BeginUpdate(); }
        ~UpdateScope() { m_tree.EndUpdate(); }
        UpdateScope(const UpdateScope&) = delete;
        UpdateScope& operator=(const UpdateScope&) = delete;

    private:
        MachineTree& m_tree;
    };

private:
    MachineNode* findMutable(NodeId id);
    size_t indexOf(NodeId id) const;
    // Stable-sorts the children; reports the new order when it changed.
    void sortChildren();
    // Opens the observer's bracket if this update has not opened it yet and
    // returns the observer (null when none is attached).
    MachineTreeObserver* notify();

    TextCompare m_compare;
    MachineTreeObserver* m_observer = nullptr;
    MachineNode m_root;
    std::vector<MachineNode> m_children;
    NodeId m_lastId = kNoNode;
    int m_updateDepth = 0;
    bool m_bracketOpen = false;
};

} // namespace vireo
