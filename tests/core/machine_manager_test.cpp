#include "app/machine_manager.h"

#include <atomic>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace vireo;

namespace {

// A device window as far as the registry sees it; records what is called.
class FakeWindow : public MachineWindow
{
public:
    FakeWindow(MachineManager& manager, std::string caption,
               std::vector<std::string>* calls = nullptr)
        : m_manager(manager), m_caption(std::move(caption)), m_calls(calls)
    {}

    std::string Caption() const override { return m_caption; }
    bool IsClosing() const override { return closing; }
    void Activate() override
    {
        record("activate");
        if (!closing && m_entry != nullptr) {
            m_manager.MarkCurrent(m_entry);
        }
        if (tearDownOnActivate) {
            Teardown();
        }
    }
    void ShowAndRaise() override { record("show"); }
    void Teardown() override
    {
        record("teardown");
        if (closing) {
            return;
        }
        closing = true;
        m_manager.RemoveMachine(m_entry);
    }
    void Close() override
    {
        record("close");
        if (deleteOnClose) {
            delete this;
        }
    }
    MachineEntry* Entry() const override { return m_entry; }
    void SetEntry(MachineEntry* entry) override { m_entry = entry; }

    bool closing = false;
    bool tearDownOnActivate = false;
    bool deleteOnClose = false;

private:
    void record(const char* what)
    {
        if (m_calls != nullptr) {
            m_calls->push_back(m_caption + " " + what);
        }
    }

    MachineManager& m_manager;
    std::string m_caption;
    std::vector<std::string>* m_calls;
    MachineEntry* m_entry = nullptr;
};

// Rebuilds the tree from the notifications alone, as a widget would, and
// checks the bracketing on the way.
class MirrorObserver : public MachineTreeObserver
{
public:
    void BeginUpdate() override
    {
        EXPECT_FALSE(inBracket) << "nested bracket";
        inBracket = true;
        ++brackets;
    }
    void EndUpdate() override
    {
        EXPECT_TRUE(inBracket);
        EXPECT_GT(changesInBracket, 0) << "empty bracket";
        inBracket = false;
        changesInBracket = 0;
    }
    void NodeAdded(const MachineNode& node, NodeId parent, size_t index) override
    {
        change();
        nodes[node.id] = node;
        if (parent == kNoNode) {
            root = node.id;
            return;
        }
        ASSERT_EQ(parent, root);
        ASSERT_LE(index, children.size());
        children.insert(children.begin() + static_cast<std::ptrdiff_t>(index), node.id);
    }
    void NodeRemoved(NodeId id) override
    {
        change();
        nodes.erase(id);
        std::erase(children, id);
    }
    void NodeChanged(const MachineNode& node) override
    {
        change();
        ASSERT_TRUE(nodes.count(node.id));
        nodes[node.id] = node;
    }
    void ChildrenReordered(NodeId parent, const std::vector<NodeId>& order) override
    {
        change();
        ASSERT_EQ(parent, root);
        ASSERT_EQ(order.size(), children.size());
        children = order;
    }
    void NodeSelected(NodeId id) override
    {
        change();
        selected = id;
    }

    // The mirror equals the model.
    void ExpectMatches(const MachineTree& tree) const
    {
        EXPECT_FALSE(inBracket);
        ASSERT_EQ(root, tree.Root());
        std::vector<NodeId> ids;
        for (const auto& node : tree.Children()) {
            ids.push_back(node.id);
        }
        ASSERT_EQ(children, ids);
        ASSERT_EQ(nodes.size(), ids.size() + (root == kNoNode ? 0 : 1));
        for (const auto& [id, node] : nodes) {
            const MachineNode* model = tree.Find(id);
            ASSERT_NE(model, nullptr);
            EXPECT_EQ(node.text, model->text);
            EXPECT_EQ(node.image, model->image);
            EXPECT_EQ(node.selectedImage, model->selectedImage);
            EXPECT_EQ(node.stateImage, model->stateImage);
        }
    }

    NodeId root = kNoNode;
    std::vector<NodeId> children;
    std::map<NodeId, MachineNode> nodes;
    NodeId selected = kNoNode;
    int brackets = 0;

private:
    void change()
    {
        EXPECT_TRUE(inBracket) << "change outside a bracket";
        ++changesInBracket;
    }

    bool inBracket = false;
    int changesInBracket = 0;
};

struct Registry : ::testing::Test
{
    Registry()
    {
        manager.SetObserver(&mirror);
        manager.AddRoot("HD Professional IRDs");
    }

    FakeWindow& open(const std::string& caption)
    {
        windows.push_back(std::make_unique<FakeWindow>(manager, caption, &calls));
        EXPECT_TRUE(manager.AddMachine(windows.back().get()));
        return *windows.back();
    }

    const MachineNode& nodeOf(const FakeWindow& w) const
    {
        return *manager.Tree().Find(w.Entry()->Node());
    }

    std::vector<std::string> treeTexts() const
    {
        std::vector<std::string> texts;
        for (NodeId n = manager.FirstMachineNode(); n != kNoNode; n = manager.NextMachineNode(n)) {
            texts.push_back(manager.Tree().Find(n)->text);
        }
        return texts;
    }

    MirrorObserver mirror;
    MachineManager manager; // declared after the mirror, so it goes first
    std::vector<std::string> calls;
    std::vector<std::unique_ptr<FakeWindow>> windows;
};

} // namespace

TEST(SameAddress, ComparesNumbersNotNamesOrZeros)
{
    EXPECT_TRUE(MachineManager::SameAddress("192.168.001.020:Studio", "192.168.1.20:Other"));
    EXPECT_TRUE(MachineManager::SameAddress("10.0.0.1:A", "10.0.0.1:B"));
    EXPECT_TRUE(MachineManager::SameAddress("10..0.1:", "10.0.000.1:x")); // empty piece is 0
    EXPECT_TRUE(MachineManager::SameAddress(":", "0:"));
    EXPECT_FALSE(MachineManager::SameAddress("192.168.1.20:", "192.168.1.21:"));
    EXPECT_FALSE(MachineManager::SameAddress("10.0.0.1:", "10.0.0.1.0:")); // count differs
    // The text after the last separator is the name, even when it looks like a number.
    EXPECT_TRUE(MachineManager::SameAddress("10.0.0.1", "10.0.0.2"));
    // Without any separator there is no address to compare.
    EXPECT_FALSE(MachineManager::SameAddress("Studio", "Studio"));
    EXPECT_FALSE(MachineManager::SameAddress("", ""));
}

TEST(SameAddress, LongDigitRunsAndTextPiecesStayExact)
{
    const std::string big(400, '9');
    EXPECT_TRUE(MachineManager::SameAddress(big + ".1:a", "000" + big + ".1:b"));
    EXPECT_FALSE(MachineManager::SameAddress(big + ".1:", big.substr(1) + "8.1:"));
    // 2^32 + 1 and 2^64 + 1 must not wrap onto 1.
    EXPECT_FALSE(MachineManager::SameAddress("4294967297.0:", "1.0:"));
    EXPECT_FALSE(MachineManager::SameAddress("18446744073709551617.0:", "1.0:"));
    // A piece that is no number matches only the same text.
    EXPECT_TRUE(MachineManager::SameAddress("host.lan:A", "host.lan:B"));
    EXPECT_FALSE(MachineManager::SameAddress("host.lan:", "0.lan:"));
    EXPECT_FALSE(MachineManager::SameAddress("+1.0:", "1.0:"));
    const std::string odd("1\0.2:", 5);
    EXPECT_TRUE(MachineManager::SameAddress(odd, odd));
    EXPECT_FALSE(MachineManager::SameAddress(odd, "1.2:"));
}

TEST_F(Registry, AddMachineBuildsNodeLinksAndSorts)
{
    EXPECT_EQ(manager.Tree().RootNode()->image, kImageRoot);
    EXPECT_EQ(manager.Tree().RootNode()->selectedImage, kImageRoot);
    EXPECT_EQ(manager.AddRoot("again"), manager.RootNode());
    EXPECT_EQ(manager.Tree().RootNode()->text, "HD Professional IRDs");

    FakeWindow& b = open("10.0.0.2:B");
    FakeWindow& a = open("10.0.0.1:A");
    FakeWindow& c = open("10.0.0.3:");
    EXPECT_EQ(treeTexts(), (std::vector<std::string>{"10.0.0.1:A", "10.0.0.2:B", "10.0.0.3:"}));

    const MachineNode& node = nodeOf(a);
    EXPECT_EQ(node.image, kImageNotConnected);
    EXPECT_EQ(node.selectedImage, kImageNotConnected);
    EXPECT_EQ(node.stateImage, kNoImage);
    EXPECT_EQ(manager.FindByNode(node.id), a.Entry());
    EXPECT_EQ(a.Entry()->Window(), &a);
    EXPECT_EQ(mirror.selected, c.Entry()->Node());
    EXPECT_EQ(manager.FindByNode(manager.RootNode()), nullptr);
    EXPECT_EQ(manager.FindByNode(kNoNode), nullptr);

    // Registering twice, no window, or no root: nothing is created.
    EXPECT_FALSE(manager.AddMachine(&b));
    EXPECT_FALSE(manager.AddMachine(nullptr));
    MachineManager rootless;
    FakeWindow orphan(rootless, "10.0.0.9:");
    EXPECT_FALSE(rootless.AddMachine(&orphan));
    EXPECT_EQ(orphan.Entry(), nullptr);
    EXPECT_EQ(manager.MachineCount(), 3u);
    mirror.ExpectMatches(manager.Tree());
}

TEST_F(Registry, FindByAddressTakesFirstInListOrder)
{
    FakeWindow& z = open("10.0.0.1:Zulu");
    FakeWindow& a = open("10.0.0.1:Alpha"); // sorts first in the tree, but came later
    open("10.0.0.2:B");
    EXPECT_EQ(manager.FindByAddress("010.000.000.001:Other"), &z);
    EXPECT_EQ(manager.FindByAddress("10.0.0.3:B"), nullptr);
    manager.RemoveMachine(z.Entry());
    EXPECT_EQ(manager.FindByAddress("10.0.0.1:"), &a);
}

TEST_F(Registry, RenameAndCompareKeepTheTreeSorted)
{
    FakeWindow& a = open("10.0.0.1:");
    open("10.0.0.2:");
    FakeWindow& c = open("10.0.0.3:");
    EXPECT_TRUE(manager.RenameMachine(c.Entry(), "10.0.0.0:moved"));
    EXPECT_EQ(treeTexts(), (std::vector<std::string>{"10.0.0.0:moved", "10.0.0.1:", "10.0.0.2:"}));
    EXPECT_EQ(manager.FirstMachineNode(), c.Entry()->Node());

    // Equal texts keep their order: a stable sort after the change.
    FakeWindow& d = open("10.0.0.2:");
    EXPECT_EQ(manager.NextMachineNode(manager.NextMachineNode(a.Entry()->Node())),
              d.Entry()->Node());
    EXPECT_TRUE(manager.RenameMachine(a.Entry(), "10.0.0.2:"));
    EXPECT_EQ(manager.NextMachineNode(c.Entry()->Node()), a.Entry()->Node());

    // A plugged-in order re-sorts at once.
    manager.SetCompare([](const std::string& x, const std::string& y) { return y.compare(x); });
    EXPECT_EQ(treeTexts(),
              (std::vector<std::string>{"10.0.0.2:", "10.0.0.2:", "10.0.0.2:", "10.0.0.0:moved"}));
    EXPECT_FALSE(manager.RenameMachine(nullptr, "x"));
    mirror.ExpectMatches(manager.Tree());
}

TEST_F(Registry, NodeTextsShowNamesWithoutControlBytes)
{
    FakeWindow& w = open("10.0.0.1:Lab\r\n10.0.0.2:");
    EXPECT_EQ(nodeOf(w).text, "10.0.0.1:Lab\\r\\n10.0.0.2:");
    EXPECT_TRUE(manager.RenameMachine(w.Entry(), "10.0.0.1:\tx\xB0"));
    EXPECT_EQ(nodeOf(w).text, "10.0.0.1:\\tx\\xb0");
}

TEST_F(Registry, ManyEqualCaptionsStayInOpeningOrder)
{
    std::vector<NodeId> opened;
    for (int i = 0; i < 40; ++i) {
        open(i % 2 == 0 ? "10.0.0.7:" : "10.0.1." + std::to_string(i % 10) + ":");
        if (i % 2 == 0) {
            opened.push_back(windows.back()->Entry()->Node());
        }
    }
    manager.SetCompare([](const std::string& x, const std::string& y) { return x.compare(y); });
    std::vector<NodeId> inTree;
    for (const auto& node : manager.Tree().Children()) {
        if (node.text == "10.0.0.7:") {
            inTree.push_back(node.id);
        }
    }
    EXPECT_EQ(inTree, opened);
    mirror.ExpectMatches(manager.Tree());
}

TEST_F(Registry, StateCodesSetPicturesAndBlink)
{
    FakeWindow& w = open("10.0.0.1:");
    auto image = [&] { return nodeOf(w).image; };
    const auto entry = w.Entry();

    manager.SetMachineState(entry, machine_state::SignalLocked);
    EXPECT_EQ(image(), kImageConnected); // from 1: connected picture first
    manager.SetMachineState(entry, machine_state::SignalLocked);
    EXPECT_EQ(image(), kImageSignalLocked);
    manager.SetMachineState(entry, machine_state::SignalLocked);
    EXPECT_EQ(image(), kImageConnected);
    manager.SetMachineState(entry, machine_state::SignalOther);
    EXPECT_EQ(image(), kImageSignalOther);
    EXPECT_EQ(nodeOf(w).selectedImage, kImageSignalOther);
    manager.SetMachineState(entry, machine_state::SignalLocked);
    EXPECT_EQ(image(), kImageConnected);
    manager.SetMachineState(entry, machine_state::NotConnected);
    EXPECT_EQ(image(), kImageNotConnected);

    manager.SetMachineState(entry, machine_state::Current);
    EXPECT_EQ(nodeOf(w).stateImage, kImageCurrentMark);
    EXPECT_EQ(image(), kImageNotConnected);
    manager.SetMachineState(entry, machine_state::NotCurrent);
    EXPECT_EQ(nodeOf(w).stateImage, kNoImage);
    manager.SetMachineState(entry, machine_state::Current);
    manager.SetMachineState(entry, 3);
    EXPECT_EQ(image(), kNoImage);
    EXPECT_EQ(nodeOf(w).selectedImage, kNoImage);
    EXPECT_EQ(nodeOf(w).stateImage, kNoImage);
    EXPECT_EQ(manager.CurrentEntry(), nullptr); // pictures only, never the current entry

    EXPECT_FALSE(manager.SetMachineState(nullptr, machine_state::Connected));
    EXPECT_FALSE(manager.SetMachineState(manager.RootNode(), machine_state::Connected));
    mirror.ExpectMatches(manager.Tree());
}

TEST_F(Registry, ShowByNodeMovesTheMarkAndSkipsClosingWindows)
{
    FakeWindow& a = open("10.0.0.1:");
    FakeWindow& b = open("10.0.0.2:");
    calls.clear();
    EXPECT_TRUE(manager.ShowByNode(a.Entry()->Node()));
    EXPECT_EQ(calls, (std::vector<std::string>{"10.0.0.1: activate", "10.0.0.1: show"}));
    EXPECT_EQ(manager.CurrentEntry(), a.Entry());

    EXPECT_TRUE(manager.ShowByNode(b.Entry()->Node()));
    EXPECT_EQ(manager.CurrentEntry(), b.Entry());
    EXPECT_EQ(nodeOf(a).stateImage, kNoImage);
    EXPECT_EQ(nodeOf(b).stateImage, kImageCurrentMark);

    calls.clear();
    EXPECT_FALSE(manager.ShowByNode(manager.RootNode()));
    EXPECT_FALSE(manager.ShowByNode(kNoNode));
    a.closing = true;
    EXPECT_FALSE(manager.ShowByNode(a.Entry()->Node()));
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(manager.CurrentEntry(), b.Entry());
    EXPECT_EQ(nodeOf(b).stateImage, kImageCurrentMark);

    // Deactivating a window that is not current leaves the mark alone.
    manager.UnmarkCurrent(a.Entry());
    EXPECT_EQ(manager.CurrentEntry(), b.Entry());
    manager.UnmarkCurrent(b.Entry());
    EXPECT_EQ(manager.CurrentEntry(), nullptr);
    EXPECT_EQ(nodeOf(b).stateImage, kNoImage);
    mirror.ExpectMatches(manager.Tree());
}

TEST_F(Registry, RemovingEntriesLeavesNothingDangling)
{
    FakeWindow& a = open("10.0.0.1:");
    FakeWindow& b = open("10.0.0.2:");
    manager.MarkCurrent(a.Entry());
    MachineEntry* entry = a.Entry();
    const NodeId node = entry->Node();

    manager.RemoveMachine(entry);
    EXPECT_EQ(manager.CurrentEntry(), nullptr);
    EXPECT_EQ(a.Entry(), nullptr);
    EXPECT_EQ(manager.FindByNode(node), nullptr);
    EXPECT_EQ(manager.Tree().Find(node), nullptr);
    EXPECT_EQ(manager.MachineCount(), 1u);

    // A removed entry, a stale node id or no entry at all: nothing happens.
    const int brackets = mirror.brackets;
    manager.RemoveMachine(entry);
    manager.RemoveMachine(nullptr);
    EXPECT_FALSE(manager.SetMachineState(entry, machine_state::Connected));
    EXPECT_FALSE(manager.SetMachineState(node, machine_state::Connected));
    EXPECT_FALSE(manager.RenameMachine(entry, "x"));
    manager.MarkCurrent(entry);
    EXPECT_FALSE(manager.ShowByNode(node));
    EXPECT_FALSE(manager.CloseByNode(node));
    EXPECT_EQ(mirror.brackets, brackets);
    EXPECT_EQ(manager.CurrentEntry(), nullptr);
    EXPECT_EQ(manager.FirstMachineNode(), b.Entry()->Node());
    mirror.ExpectMatches(manager.Tree());
}

TEST_F(Registry, CloseByNodeTearsDownThenClosesEvenIfTheWindowGoes)
{
    open("10.0.0.1:");
    auto* doomed = new FakeWindow(manager, "10.0.0.2:", &calls);
    doomed->deleteOnClose = true;
    ASSERT_TRUE(manager.AddMachine(doomed));
    const NodeId node = doomed->Entry()->Node();
    manager.MarkCurrent(doomed->Entry());
    calls.clear();

    EXPECT_TRUE(manager.CloseByNode(node));
    EXPECT_EQ(calls, (std::vector<std::string>{"10.0.0.2: teardown", "10.0.0.2: close"}));
    EXPECT_EQ(manager.FindByNode(node), nullptr);
    EXPECT_EQ(manager.CurrentEntry(), nullptr);
    EXPECT_EQ(manager.MachineCount(), 1u);
    EXPECT_FALSE(manager.CloseByNode(manager.RootNode()));

    // A window torn down during its own activation is shown but not marked.
    FakeWindow& c = open("10.0.0.3:");
    c.tearDownOnActivate = true;
    const NodeId cNode = c.Entry()->Node();
    EXPECT_TRUE(manager.ShowByNode(cNode));
    EXPECT_EQ(manager.FindByNode(cNode), nullptr);
    EXPECT_EQ(manager.CurrentEntry(), nullptr);
    mirror.ExpectMatches(manager.Tree());
}

TEST_F(Registry, EveryOperationIsOneBracket)
{
    int before = mirror.brackets;
    FakeWindow& a = open("10.0.0.5:");
    EXPECT_EQ(mirror.brackets, before + 1); // add, select (and sort) together
    open("10.0.0.1:");
    before = mirror.brackets;
    manager.ShowByNode(a.Entry()->Node());
    // The window's activation moves the mark; the registry's own move then changes nothing.
    EXPECT_EQ(mirror.brackets, before + 1);
    before = mirror.brackets;
    manager.RenameMachine(a.Entry(), "10.0.0.0:");
    EXPECT_EQ(mirror.brackets, before + 1);
    before = mirror.brackets;
    manager.SetMachineState(a.Entry(), machine_state::Current); // already marked: no change
    manager.RenameMachine(a.Entry(), "10.0.0.0:");
    EXPECT_EQ(mirror.brackets, before);
    mirror.ExpectMatches(manager.Tree());
}

// A session thread reports states by node id while the interface thread opens
// and closes windows. Each report must land on a live entry or do nothing; run
// under ThreadSanitizer this also checks the locking.
TEST(MachineManagerThreads, StateReportsRaceWithRemoval)
{
    MachineManager manager;
    manager.AddRoot("root");
    std::atomic<NodeId> target{kNoNode};
    std::atomic<bool> done{false};
    std::atomic<bool> started{false};

    std::thread session([&] {
        int code = machine_state::SignalLocked;
        started.store(true);
        while (!done.load()) {
            manager.SetMachineState(target.load(), code);
            code = code == machine_state::SignalLocked ? machine_state::SignalOther
                                                       : machine_state::SignalLocked;
        }
    });
    while (!started.load()) {
        std::this_thread::yield();
    }
    for (int i = 0; i < 2000; ++i) {
        FakeWindow window(manager, "10.0.0." + std::to_string(i % 7) + ":");
        ASSERT_TRUE(manager.AddMachine(&window));
        target.store(window.Entry()->Node());
        manager.MarkCurrent(window.Entry());
        window.Teardown();
        EXPECT_EQ(manager.MachineCount(), 0u);
    }
    done.store(true);
    session.join();
    EXPECT_EQ(manager.CurrentEntry(), nullptr);
    EXPECT_EQ(manager.FirstMachineNode(), kNoNode);
}
