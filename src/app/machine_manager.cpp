#include "app/machine_manager.h"

#include "lang/display_text.h"

#include <algorithm>

namespace vireo {

namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

// Walks the address pieces of a caption: the texts in front of each '.' or ':'.
class PieceReader
{
public:
    explicit PieceReader(std::string_view text) : m_text(text) {}

    // The next piece that a separator ends; false once none is left (the rest
    // is the name).
    bool Next(std::string_view& piece)
    {
        const size_t separator = m_text.find_first_of(".:", m_pos);
        if (separator == std::string_view::npos) {
            return false;
        }
        piece = m_text.substr(m_pos, separator - m_pos);
        m_pos = separator + 1;
        return true;
    }

private:
    std::string_view m_text;
    size_t m_pos = 0;
};

bool isDecimal(std::string_view piece)
{
    return std::all_of(piece.begin(), piece.end(), [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace

MachineManager::MachineManager(TextCompare compare) : m_tree(std::move(compare)) {}

MachineManager::~MachineManager() = default;

void MachineManager::SetObserver(MachineTreeObserver* observer)
{
    Lock lock(m_lock);
    m_tree.SetObserver(observer);
}

void MachineManager::SetCompare(TextCompare compare)
{
    Lock lock(m_lock);
    m_tree.SetCompare(std::move(compare));
}

NodeId MachineManager::AddRoot(const std::string& text)
{
    Lock lock(m_lock);
    return m_tree.AddRoot(text, kImageRoot);
}

bool MachineManager::AddMachine(MachineWindow* window)
{
    if (window == nullptr) {
        return false;
    }
    Lock lock(m_lock);
    if (m_tree.Root() == kNoNode) {
        return false;
    }
    const bool registered = std::any_of(m_entries.begin(), m_entries.end(),
                                        [window](const auto& e) { return e->Window() == window; });
    if (registered) {
        return false;
    }
    MachineTree::UpdateScope scope(m_tree);
    const NodeId node = m_tree.AddChild(DisplayText(window->Caption()), kImageNotConnected);
    m_tree.Select(node);
    m_entries.push_back(std::make_unique<MachineEntry>(node, window));
    m_entries.back()->SetAddressKey(AddressKey(window->Caption()));
    window->SetEntry(m_entries.back().get());
    return true;
}

MachineEntry* MachineManager::FindByNode(NodeId node) const
{
    Lock lock(m_lock);
    return findByNodeLocked(node);
}

MachineWindow* MachineManager::FindByAddress(std::string_view caption) const
{
    // The captions compared are those the registry was given (AddMachine,
    // RenameMachine), read as keys made once: opening a list of thousands of
    // machines asks this for each of them.
    const std::string key = AddressKey(caption);
    if (key.empty()) {
        return nullptr;
    }
    Lock lock(m_lock);
    for (const auto& entry : m_entries) {
        if (entry->Window() != nullptr && entry->AddressKey() == key) {
            return entry->Window();
        }
    }
    return nullptr;
}

bool MachineManager::ShowByNode(NodeId node)
{
    MachineWindow* window = nullptr;
    {
        Lock lock(m_lock);
        const MachineEntry* entry = findByNodeLocked(node);
        if (entry == nullptr || entry->Window() == nullptr || entry->Window()->IsClosing()) {
            return false;
        }
        window = entry->Window();
    }
    // The window's own activation may call back here (MarkCurrent), so the
    // lock is not held across it.
    window->Activate();
    window->ShowAndRaise();

    Lock lock(m_lock);
    // Look the entry up again: activation may have ended in the window's
    // teardown, which frees it.
    MachineEntry* entry = findByNodeLocked(node);
    if (entry != nullptr && entry->Window() == window) {
        markCurrentLocked(entry);
    }
    return true;
}

bool MachineManager::CloseByNode(NodeId node)
{
    MachineWindow* window = nullptr;
    {
        Lock lock(m_lock);
        const MachineEntry* entry = findByNodeLocked(node);
        if (entry == nullptr) {
            return false;
        }
        window = entry->Window();
    }
    if (window != nullptr) {
        // The teardown removes the entry (RemoveMachine) and may wait for the
        // session thread, which may be waiting for the lock to report a state.
        window->Teardown();
        window->Close();
    }
    return true;
}

void MachineManager::RemoveMachine(MachineEntry* entry)
{
    Lock lock(m_lock);
    const auto it = std::find_if(m_entries.begin(), m_entries.end(),
                                 [entry](const auto& e) { return e.get() == entry; });
    if (entry == nullptr || it == m_entries.end()) {
        return;
    }
    MachineTree::UpdateScope scope(m_tree);
    if (m_current == entry) {
        m_current = nullptr;
    }
    m_tree.Remove(entry->Node());
    MachineWindow* window = entry->Window();
    if (window != nullptr && window->Entry() == entry) {
        window->SetEntry(nullptr);
    }
    m_entries.erase(it);
}

bool MachineManager::RenameMachine(MachineEntry* entry, const std::string& text)
{
    Lock lock(m_lock);
    if (!isRegisteredLocked(entry)) {
        return false;
    }
    entry->SetAddressKey(AddressKey(text));
    return m_tree.SetText(entry->Node(), DisplayText(text));
}

bool MachineManager::SetMachineState(MachineEntry* entry, int code)
{
    Lock lock(m_lock);
    if (!isRegisteredLocked(entry)) {
        return false;
    }
    applyStateLocked(*entry, code);
    return true;
}

bool MachineManager::SetMachineState(NodeId node, int code)
{
    Lock lock(m_lock);
    const MachineEntry* entry = findByNodeLocked(node);
    if (entry == nullptr) {
        return false;
    }
    applyStateLocked(*entry, code);
    return true;
}

void MachineManager::MarkCurrent(MachineEntry* entry)
{
    Lock lock(m_lock);
    if (isRegisteredLocked(entry)) {
        markCurrentLocked(entry);
    }
}

void MachineManager::UnmarkCurrent(MachineEntry* entry)
{
    Lock lock(m_lock);
    if (entry == nullptr || entry != m_current) {
        return;
    }
    applyStateLocked(*entry, machine_state::NotCurrent);
    m_current = nullptr;
}

MachineEntry* MachineManager::CurrentEntry() const
{
    Lock lock(m_lock);
    return m_current;
}

NodeId MachineManager::RootNode() const
{
    Lock lock(m_lock);
    return m_tree.Root();
}

NodeId MachineManager::FirstMachineNode() const
{
    Lock lock(m_lock);
    return m_tree.FirstChild();
}

NodeId MachineManager::NextMachineNode(NodeId node) const
{
    Lock lock(m_lock);
    return m_tree.NextSibling(node);
}

size_t MachineManager::MachineCount() const
{
    Lock lock(m_lock);
    return m_entries.size();
}

bool MachineManager::SameAddress(std::string_view a, std::string_view b)
{
    const std::string key = AddressKey(a);
    // A caption without any separator has no address and is nobody's.
    return !key.empty() && key == AddressKey(b);
}

std::string MachineManager::AddressKey(std::string_view caption)
{
    // Each piece as a number without its leading zeros (the empty piece and
    // any run of zeros are 0) or, when it is no number, as its text; every
    // piece carries its kind and length, so different pieces never run into
    // the same key.
    std::string key;
    PieceReader reader(caption);
    std::string_view piece;
    while (reader.Next(piece)) {
        if (isDecimal(piece)) {
            piece.remove_prefix(std::min(piece.find_first_not_of('0'), piece.size()));
            key += 'n';
        } else {
            key += 't';
        }
        key += std::to_string(piece.size());
        key += ':';
        key += piece;
    }
    return key;
}

MachineEntry* MachineManager::findByNodeLocked(NodeId node) const
{
    if (node == kNoNode) {
        return nullptr;
    }
    const auto it = std::find_if(m_entries.begin(), m_entries.end(),
                                 [node](const auto& e) { return e->Node() == node; });
    return it == m_entries.end() ? nullptr : it->get();
}

bool MachineManager::isRegisteredLocked(const MachineEntry* entry) const
{
    // Compares addresses only: a pointer to an entry already freed is never
    // followed.
    return entry != nullptr && std::any_of(m_entries.begin(), m_entries.end(),
                                           [entry](const auto& e) { return e.get() == entry; });
}

void MachineManager::applyStateLocked(const MachineEntry& entry, int code)
{
    const MachineNode* node = m_tree.Find(entry.Node());
    if (node == nullptr) {
        return;
    }
    int image = node->image;
    int selectedImage = node->selectedImage;
    int stateImage = node->stateImage;
    switch (code) {
    case machine_state::NotConnected:
    case machine_state::Connected:
        image = selectedImage = code;
        break;
    case machine_state::SignalLocked:
    case machine_state::SignalOther:
        // Each report swaps between the connected picture and the signal
        // picture, so a polled machine blinks.
        image = selectedImage = node->image == kImageConnected ? code : kImageConnected;
        break;
    case machine_state::Current:
        stateImage = kImageCurrentMark;
        break;
    case machine_state::NotCurrent:
        stateImage = kNoImage;
        break;
    default:
        image = selectedImage = stateImage = kNoImage;
        break;
    }
    m_tree.SetImages(entry.Node(), image, selectedImage, stateImage);
}

void MachineManager::markCurrentLocked(MachineEntry* entry)
{
    MachineTree::UpdateScope scope(m_tree);
    if (m_current != nullptr && m_current != entry) {
        applyStateLocked(*m_current, machine_state::NotCurrent);
    }
    m_current = entry;
    applyStateLocked(*entry, machine_state::Current);
}

} // namespace vireo
