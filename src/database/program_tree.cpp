#include "database/program_tree.h"

#include <algorithm>
#include <utility>

namespace vireo {

namespace {

using Guard = std::lock_guard<std::recursive_mutex>;

// Visits the nodes depth-first, roots in order, each followed by its subtree,
// with their position from 0, until `visit` returns false. Linear in the
// number of nodes visited; an explicit stack keeps deep trees off the call
// stack.
template <class Visit>
void walkPreorder(const std::unordered_map<TreeNodeId, TreeNode>& nodes,
                  const std::vector<TreeNodeId>& roots, Visit visit)
{
    long position = 0;
    std::vector<std::pair<const std::vector<TreeNodeId>*, size_t>> stack;
    stack.emplace_back(&roots, 0);
    while (!stack.empty()) {
        auto& [siblings, next] = stack.back();
        if (next == siblings->size()) {
            stack.pop_back();
            continue;
        }
        const TreeNodeId current = (*siblings)[next++];
        if (!visit(current, position++)) {
            return;
        }
        const std::vector<TreeNodeId>& children = nodes.at(current).children;
        if (!children.empty()) {
            stack.emplace_back(&children, 0);
        }
    }
}

} // namespace

void ProgramTree::SetObserver(ProgramTreeObserver* observer)
{
    Guard guard(m_mutex);
    if (observer == m_observer) {
        return;
    }
    if (m_updateDepth > 0 && m_observer != nullptr) {
        m_observer->EndUpdate();
    }
    m_observer = observer;
    if (m_updateDepth > 0 && m_observer != nullptr) {
        m_observer->BeginUpdate();
    }
}

std::unique_lock<std::recursive_mutex> ProgramTree::Lock() const
{
    return std::unique_lock<std::recursive_mutex>(m_mutex);
}

TreeNodeId ProgramTree::Add(TreeNodeId parent, std::string text, TreeNodeData kind, void* data)
{
    Guard guard(m_mutex);
    std::vector<TreeNodeId>* siblings = &m_roots;
    if (parent != kNoTreeNode) {
        TreeNode* parentNode = find(parent);
        if (parentNode == nullptr) {
            return kNoTreeNode;
        }
        siblings = &parentNode->children;
    }
    const TreeNodeId id = ++m_lastId;
    TreeNode node;
    node.id = id;
    node.parent = parent;
    node.text = std::move(text);
    node.dataKind = kind;
    node.data = data;
    // Nodes of an unordered_map stay where they are when it grows, so
    // `siblings` survives the emplace below.
    siblings->push_back(id);
    const size_t index = siblings->size() - 1;
    const TreeNode& stored = m_nodes.emplace(id, std::move(node)).first->second;
    if (m_observer != nullptr) {
        m_observer->NodeAdded(stored, parent, index);
    }
    return id;
}

void ProgramTree::Remove(TreeNodeId id)
{
    Guard guard(m_mutex);
    const TreeNode* node = find(id);
    if (node == nullptr) {
        return;
    }
    std::vector<TreeNodeId>& siblings = siblingsOf(*node);
    siblings.erase(std::find(siblings.begin(), siblings.end(), id));
    eraseSubtree(id);
    if (m_observer != nullptr) {
        m_observer->NodeRemoved(id);
    }
}

void ProgramTree::Clear()
{
    Guard guard(m_mutex);
    if (m_roots.empty()) {
        return;
    }
    BeginUpdate();
    while (!m_roots.empty()) {
        Remove(m_roots.front());
    }
    EndUpdate();
}

bool ProgramTree::SetText(TreeNodeId id, std::string text)
{
    Guard guard(m_mutex);
    TreeNode* node = find(id);
    if (node == nullptr) {
        return false;
    }
    if (node->text != text) {
        node->text = std::move(text);
        reportChanged(*node);
    }
    return true;
}

bool ProgramTree::SetImage(TreeNodeId id, int image)
{
    Guard guard(m_mutex);
    TreeNode* node = find(id);
    if (node == nullptr) {
        return false;
    }
    if (node->image != image) {
        node->image = image;
        reportChanged(*node);
    }
    return true;
}

bool ProgramTree::SetStateImage(TreeNodeId id, int stateImage)
{
    Guard guard(m_mutex);
    TreeNode* node = find(id);
    if (node == nullptr) {
        return false;
    }
    if (node->stateImage != stateImage) {
        node->stateImage = stateImage;
        reportChanged(*node);
    }
    return true;
}

bool ProgramTree::SetExpanded(TreeNodeId id, bool expanded)
{
    Guard guard(m_mutex);
    TreeNode* node = find(id);
    if (node == nullptr) {
        return false;
    }
    if (node->expanded != expanded) {
        node->expanded = expanded;
        if (m_observer != nullptr) {
            m_observer->NodeExpanded(id, expanded);
        }
    }
    return true;
}

bool ProgramTree::NoteExpanded(TreeNodeId id, bool expanded)
{
    Guard guard(m_mutex);
    TreeNode* node = find(id);
    if (node == nullptr) {
        return false;
    }
    node->expanded = expanded;
    return true;
}

TreeNode ProgramTree::Node(TreeNodeId id) const
{
    Guard guard(m_mutex);
    const TreeNode* node = find(id);
    return node == nullptr ? TreeNode{} : *node;
}

bool ProgramTree::Exists(TreeNodeId id) const
{
    Guard guard(m_mutex);
    return find(id) != nullptr;
}

std::string ProgramTree::Text(TreeNodeId id) const
{
    Guard guard(m_mutex);
    const TreeNode* node = find(id);
    return node == nullptr ? std::string() : node->text;
}

TreeNodeId ProgramTree::Parent(TreeNodeId id) const
{
    Guard guard(m_mutex);
    const TreeNode* node = find(id);
    return node == nullptr ? kNoTreeNode : node->parent;
}

TreeNodeId ProgramTree::FirstChild(TreeNodeId id) const
{
    Guard guard(m_mutex);
    const std::vector<TreeNodeId>* children = &m_roots;
    if (id != kNoTreeNode) {
        const TreeNode* node = find(id);
        if (node == nullptr) {
            return kNoTreeNode;
        }
        children = &node->children;
    }
    return children->empty() ? kNoTreeNode : children->front();
}

std::vector<TreeNodeId> ProgramTree::Children(TreeNodeId id) const
{
    Guard guard(m_mutex);
    if (id == kNoTreeNode) {
        return m_roots;
    }
    const TreeNode* node = find(id);
    return node == nullptr ? std::vector<TreeNodeId>() : node->children;
}

int ProgramTree::Level(TreeNodeId id) const
{
    Guard guard(m_mutex);
    const TreeNode* node = find(id);
    if (node == nullptr) {
        return -1;
    }
    int level = 0;
    while (node->parent != kNoTreeNode) {
        node = find(node->parent);
        ++level;
    }
    return level;
}

size_t ProgramTree::Size() const
{
    Guard guard(m_mutex);
    return m_nodes.size();
}

long ProgramTree::AbsoluteIndex(TreeNodeId id) const
{
    Guard guard(m_mutex);
    if (find(id) == nullptr) {
        return -1;
    }
    long found = -1;
    walkPreorder(m_nodes, m_roots, [&](TreeNodeId current, long position) {
        if (current != id) {
            return true;
        }
        found = position;
        return false;
    });
    return found;
}

TreeNodeId ProgramTree::NodeAtAbsoluteIndex(long index) const
{
    Guard guard(m_mutex);
    if (index < 0 || static_cast<size_t>(index) >= m_nodes.size()) {
        return kNoTreeNode;
    }
    TreeNodeId found = kNoTreeNode;
    walkPreorder(m_nodes, m_roots, [&](TreeNodeId current, long position) {
        if (position != index) {
            return true;
        }
        found = current;
        return false;
    });
    return found;
}

void ProgramTree::SetSelected(TreeNodeId id)
{
    Guard guard(m_mutex);
    m_selected = find(id) == nullptr ? kNoTreeNode : id;
}

TreeNodeId ProgramTree::Selected() const
{
    Guard guard(m_mutex);
    return m_selected;
}

void ProgramTree::BeginUpdate()
{
    Guard guard(m_mutex);
    if (m_updateDepth++ == 0 && m_observer != nullptr) {
        m_observer->BeginUpdate();
    }
}

void ProgramTree::EndUpdate()
{
    Guard guard(m_mutex);
    if (m_updateDepth == 0) {
        return;
    }
    if (--m_updateDepth == 0 && m_observer != nullptr) {
        m_observer->EndUpdate();
    }
}

TreeNode* ProgramTree::find(TreeNodeId id)
{
    const auto it = m_nodes.find(id);
    return it == m_nodes.end() ? nullptr : &it->second;
}

const TreeNode* ProgramTree::find(TreeNodeId id) const
{
    const auto it = m_nodes.find(id);
    return it == m_nodes.end() ? nullptr : &it->second;
}

std::vector<TreeNodeId>& ProgramTree::siblingsOf(const TreeNode& node)
{
    return node.parent == kNoTreeNode ? m_roots : find(node.parent)->children;
}

void ProgramTree::eraseSubtree(TreeNodeId id)
{
    std::vector<TreeNodeId> pending{id};
    while (!pending.empty()) {
        const TreeNodeId current = pending.back();
        pending.pop_back();
        const auto it = m_nodes.find(current);
        pending.insert(pending.end(), it->second.children.begin(), it->second.children.end());
        if (current == m_selected) {
            m_selected = kNoTreeNode;
        }
        m_nodes.erase(it);
    }
}

void ProgramTree::reportChanged(const TreeNode& node)
{
    if (m_observer != nullptr) {
        m_observer->NodeChanged(node);
    }
}

} // namespace vireo
