#include "app/machine_tree.h"

#include <algorithm>
#include <cstring>

namespace vireo {

namespace {

std::vector<NodeId> idsOf(const std::vector<MachineNode>& nodes)
{
    std::vector<NodeId> ids;
    ids.reserve(nodes.size());
    for (const auto& node : nodes) {
        ids.push_back(node.id);
    }
    return ids;
}

} // namespace

int DefaultTextCompare(const std::string& a, const std::string& b)
{
    return std::strcoll(a.c_str(), b.c_str());
}

MachineTree::MachineTree(TextCompare compare)
    : m_compare(compare ? std::move(compare) : TextCompare(DefaultTextCompare))
{}

void MachineTree::SetObserver(MachineTreeObserver* observer)
{
    if (m_bracketOpen && m_observer != nullptr) {
        m_observer->EndUpdate();
    }
    m_bracketOpen = false;
    m_observer = observer;
}

void MachineTree::SetCompare(TextCompare compare)
{
    m_compare = compare ? std::move(compare) : TextCompare(DefaultTextCompare);
    UpdateScope scope(*this);
    sortChildren();
}

NodeId MachineTree::AddRoot(const std::string& text, int image)
{
    if (m_root.id != kNoNode) {
        return m_root.id;
    }
    UpdateScope scope(*this);
    m_root = MachineNode{++m_lastId, text, image, image, kNoImage};
    if (auto* observer = notify()) {
        observer->NodeAdded(m_root, kNoNode, 0);
    }
    return m_root.id;
}

NodeId MachineTree::AddChild(const std::string& text, int image)
{
    if (m_root.id == kNoNode) {
        return kNoNode;
    }
    UpdateScope scope(*this);
    const NodeId id = ++m_lastId;
    // The children are in order: the new one goes after every child that
    // does not sort after it, where a stable sort would put it, found in
    // logarithmic time (lists of thousands of machines are opened one by
    // one).
    const auto at = std::upper_bound(m_children.begin(), m_children.end(), text,
                                     [this](const std::string& t, const MachineNode& node) {
                                         return m_compare(t, node.text) < 0;
                                     });
    const auto placed = m_children.insert(at, MachineNode{id, text, image, image, kNoImage});
    const size_t index = static_cast<size_t>(placed - m_children.begin());
    if (auto* observer = notify()) {
        observer->NodeAdded(m_children[index], m_root.id, index);
    }
    return id;
}

bool MachineTree::Remove(NodeId id)
{
    const size_t index = indexOf(id);
    if (index == m_children.size()) {
        return false;
    }
    UpdateScope scope(*this);
    m_children.erase(m_children.begin() + static_cast<std::ptrdiff_t>(index));
    if (auto* observer = notify()) {
        observer->NodeRemoved(id);
    }
    return true;
}

bool MachineTree::SetText(NodeId id, const std::string& text)
{
    const size_t index = indexOf(id);
    if (index == m_children.size()) {
        return false;
    }
    if (m_children[index].text == text) {
        return true;
    }
    UpdateScope scope(*this);
    m_children[index].text = text;
    if (auto* observer = notify()) {
        observer->NodeChanged(m_children[index]);
    }
    sortChildren();
    return true;
}

bool MachineTree::SetImages(NodeId id, int image, int selectedImage, int stateImage)
{
    MachineNode* node = findMutable(id);
    if (node == nullptr) {
        return false;
    }
    if (node->image == image && node->selectedImage == selectedImage &&
        node->stateImage == stateImage) {
        return true;
    }
    UpdateScope scope(*this);
    node->image = image;
    node->selectedImage = selectedImage;
    node->stateImage = stateImage;
    if (auto* observer = notify()) {
        observer->NodeChanged(*node);
    }
    return true;
}

void MachineTree::Select(NodeId id)
{
    if (Find(id) == nullptr) {
        return;
    }
    UpdateScope scope(*this);
    if (auto* observer = notify()) {
        observer->NodeSelected(id);
    }
}

const MachineNode* MachineTree::Find(NodeId id) const
{
    if (id == kNoNode) {
        return nullptr;
    }
    if (id == m_root.id) {
        return &m_root;
    }
    const size_t index = indexOf(id);
    return index == m_children.size() ? nullptr : &m_children[index];
}

MachineNode* MachineTree::findMutable(NodeId id)
{
    return const_cast<MachineNode*>(Find(id));
}

size_t MachineTree::indexOf(NodeId id) const
{
    const auto it = std::find_if(m_children.begin(), m_children.end(),
                                 [id](const MachineNode& node) { return node.id == id; });
    return static_cast<size_t>(it - m_children.begin());
}

NodeId MachineTree::FirstChild() const
{
    return m_children.empty() ? kNoNode : m_children.front().id;
}

NodeId MachineTree::NextSibling(NodeId id) const
{
    const size_t index = indexOf(id);
    return index + 1 < m_children.size() ? m_children[index + 1].id : kNoNode;
}

void MachineTree::sortChildren()
{
    const std::vector<NodeId> before = idsOf(m_children);
    std::stable_sort(m_children.begin(), m_children.end(),
                     [this](const MachineNode& a, const MachineNode& b) {
                         return m_compare(a.text, b.text) < 0;
                     });
    std::vector<NodeId> after = idsOf(m_children);
    if (after != before) {
        if (auto* observer = notify()) {
            observer->ChildrenReordered(m_root.id, after);
        }
    }
}

void MachineTree::BeginUpdate()
{
    ++m_updateDepth;
}

void MachineTree::EndUpdate()
{
    if (m_updateDepth == 0) {
        return;
    }
    if (--m_updateDepth == 0 && m_bracketOpen) {
        m_bracketOpen = false;
        if (m_observer != nullptr) {
            m_observer->EndUpdate();
        }
    }
}

MachineTreeObserver* MachineTree::notify()
{
    if (m_observer == nullptr) {
        return nullptr;
    }
    if (!m_bracketOpen) {
        m_bracketOpen = true;
        m_observer->BeginUpdate();
    }
    return m_observer;
}

} // namespace vireo
