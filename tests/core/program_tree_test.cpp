#include "database/program_tree.h"

#include <algorithm>
#include <atomic>
#include <gtest/gtest.h>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

using namespace vireo;

namespace {

// Rebuilds the tree from the observer's reports alone, the way a widget
// would, and checks that brackets never nest.
class MirrorObserver : public ProgramTreeObserver
{
public:
    struct Item
    {
        TreeNode node; // children kept here, in widget order
    };

    void BeginUpdate() override
    {
        EXPECT_FALSE(open) << "nested bracket reached the observer";
        open = true;
        ++begins;
    }
    void EndUpdate() override
    {
        EXPECT_TRUE(open) << "EndUpdate without BeginUpdate";
        open = false;
        ++ends;
    }
    void NodeAdded(const TreeNode& node, TreeNodeId parent, size_t index) override
    {
        EXPECT_EQ(items.count(node.id), 0u) << "id reused: " << node.id;
        EXPECT_EQ(node.parent, parent);
        std::vector<TreeNodeId>& siblings =
            parent == kNoTreeNode ? roots : items.at(parent).children;
        ASSERT_LE(index, siblings.size());
        siblings.insert(siblings.begin() + static_cast<std::ptrdiff_t>(index), node.id);
        TreeNode copy = node;
        copy.children.clear();
        items[node.id] = copy;
        events.push_back("add " + node.text);
    }
    void NodeRemoved(TreeNodeId id) override
    {
        ASSERT_EQ(items.count(id), 1u);
        const TreeNodeId parent = items.at(id).parent;
        std::vector<TreeNodeId>& siblings =
            parent == kNoTreeNode ? roots : items.at(parent).children;
        siblings.erase(std::find(siblings.begin(), siblings.end(), id));
        forget(id);
        events.push_back("remove " + std::to_string(id));
    }
    void NodeChanged(const TreeNode& node) override
    {
        ASSERT_EQ(items.count(node.id), 1u);
        TreeNode& mine = items.at(node.id);
        mine.text = node.text;
        mine.image = node.image;
        mine.stateImage = node.stateImage;
        events.push_back("change " + node.text);
    }
    void NodeExpanded(TreeNodeId id, bool expanded) override
    {
        ASSERT_EQ(items.count(id), 1u);
        items.at(id).expanded = expanded;
        events.push_back(std::string(expanded ? "open " : "close ") + items.at(id).text);
    }

    // What a widget attached late does: read the present tree first.
    void Load(const ProgramTree& tree, TreeNodeId parent = kNoTreeNode)
    {
        for (const TreeNodeId id : tree.Children(parent)) {
            TreeNode node = tree.Node(id);
            node.children.clear();
            items[id] = node;
            (parent == kNoTreeNode ? roots : items.at(parent).children).push_back(id);
            Load(tree, id);
        }
    }

    void forget(TreeNodeId id)
    {
        for (const TreeNodeId child : items.at(id).children) {
            forget(child);
        }
        items.erase(id);
    }

    std::map<TreeNodeId, TreeNode> items;
    std::vector<TreeNodeId> roots;
    std::vector<std::string> events;
    bool open = false;
    int begins = 0;
    int ends = 0;
};

// Compares the mirror with the model, node by node, in tree order.
void ExpectMirrorEquals(const ProgramTree& tree, const MirrorObserver& mirror)
{
    ASSERT_EQ(tree.Children(kNoTreeNode), mirror.roots);
    ASSERT_EQ(tree.Size(), mirror.items.size());
    for (const auto& [id, item] : mirror.items) {
        const TreeNode node = tree.Node(id);
        ASSERT_EQ(node.id, id);
        EXPECT_EQ(node.parent, item.parent);
        EXPECT_EQ(node.text, item.text);
        EXPECT_EQ(node.image, item.image);
        EXPECT_EQ(node.stateImage, item.stateImage);
        EXPECT_EQ(node.expanded, item.expanded);
        EXPECT_EQ(node.children, item.children);
    }
}

// The preorder of the tree, computed from Children alone.
void Preorder(const ProgramTree& tree, TreeNodeId id, std::vector<TreeNodeId>& out)
{
    for (const TreeNodeId child : tree.Children(id)) {
        out.push_back(child);
        Preorder(tree, child, out);
    }
}

// Satellites, each with TPs, each with programs, each with one PID line.
std::vector<TreeNodeId> BuildSample(ProgramTree& tree, int sats, int tps, int programs)
{
    std::vector<TreeNodeId> all;
    for (int s = 0; s < sats; ++s) {
        const TreeNodeId sat =
            tree.Add(kNoTreeNode, "sat" + std::to_string(s), TreeNodeData::Satellite);
        all.push_back(sat);
        for (int t = 0; t < tps; ++t) {
            const TreeNodeId tp = tree.Add(sat, "tp" + std::to_string(t), TreeNodeData::Tp);
            all.push_back(tp);
            for (int p = 0; p < programs; ++p) {
                const TreeNodeId program =
                    tree.Add(tp, "P " + std::to_string(p), TreeNodeData::Program);
                all.push_back(program);
                all.push_back(tree.Add(program, "VID PID:512d; "));
            }
        }
    }
    return all;
}

TEST(ProgramTreeTest, ObserverMirrorsRandomEdits)
{
    ProgramTree tree;
    MirrorObserver mirror;
    tree.SetObserver(&mirror);
    std::mt19937 random(20240611);
    std::vector<TreeNodeId> known; // every id handed out, removed ones too
    TreeNodeId lastId = kNoTreeNode;
    int depth = 0;

    for (int step = 0; step < 3000; ++step) {
        // Mostly a live node or "no node" (the roots), sometimes a stale id.
        TreeNodeId target =
            tree.NodeAtAbsoluteIndex(static_cast<long>(random() % (tree.Size() + 1)));
        if (!known.empty() && random() % 8 == 0) {
            target = known[random() % known.size()];
        }
        const std::string text = "t" + std::to_string(random() % 50);
        switch (random() % 12) {
        case 0:
        case 1:
        case 2:
        case 3: {
            const TreeNodeId id = tree.Add(target, text);
            if (target == kNoTreeNode || tree.Exists(target)) {
                ASSERT_GT(id, lastId);
                lastId = id;
                known.push_back(id);
            } else {
                ASSERT_EQ(id, kNoTreeNode);
            }
            break;
        }
        case 4:
            tree.Remove(target);
            break;
        case 5:
            tree.SetText(target, text);
            break;
        case 6:
            tree.SetImage(target, static_cast<int>(random() % 10) - 1);
            break;
        case 7:
            tree.SetStateImage(target, static_cast<int>(random() % 10) - 1);
            break;
        case 8:
            tree.SetExpanded(target, random() % 2 == 0);
            break;
        case 9:
            tree.BeginUpdate();
            ++depth;
            break;
        case 10:
            if (depth > 0) {
                tree.EndUpdate();
                --depth;
            }
            break;
        case 11:
            tree.SetSelected(target);
            break;
        }
        if (step == 1000 || step == 2000) {
            tree.Clear();
            ASSERT_EQ(tree.Selected(), kNoTreeNode);
        }
        if (step % 100 == 0) {
            ExpectMirrorEquals(tree, mirror);
        }
    }
    while (depth-- > 0) {
        tree.EndUpdate();
    }
    ExpectMirrorEquals(tree, mirror);
    EXPECT_GT(tree.Size(), 20u); // the sequence did build something
    EXPECT_FALSE(mirror.open);
    EXPECT_EQ(mirror.begins, mirror.ends);
}

TEST(ProgramTreeTest, RemoveTakesTheSubtreeAndReportsItsTopOnly)
{
    ProgramTree tree;
    const std::vector<TreeNodeId> all = BuildSample(tree, 2, 2, 2); // 2 + 4 + 8 + 8 nodes
    ASSERT_EQ(tree.Size(), 22u);
    const TreeNodeId sat0 = all[0];
    const std::vector<TreeNodeId> tps = tree.Children(sat0);
    ASSERT_EQ(tps.size(), 2u);
    const TreeNodeId program = tree.FirstChild(tps[0]);
    const TreeNodeId pidLine = tree.FirstChild(program);
    tree.SetSelected(pidLine);

    MirrorObserver mirror;
    mirror.Load(tree);
    tree.SetObserver(&mirror);
    tree.Remove(tps[0]);

    EXPECT_EQ(mirror.events, std::vector<std::string>{"remove " + std::to_string(tps[0])});
    EXPECT_EQ(tree.Size(), 22u - 5u);
    EXPECT_FALSE(tree.Exists(tps[0]));
    EXPECT_FALSE(tree.Exists(program));
    EXPECT_FALSE(tree.Exists(pidLine));
    EXPECT_EQ(tree.Node(pidLine).id, kNoTreeNode);
    EXPECT_EQ(tree.Level(pidLine), -1);
    EXPECT_EQ(tree.Children(sat0), std::vector<TreeNodeId>{tps[1]});
    EXPECT_EQ(tree.Selected(), kNoTreeNode) << "selection inside the removed subtree";

    // Removed ids stay unused, and removing again changes nothing.
    const TreeNodeId fresh = tree.Add(sat0, "new tp");
    EXPECT_GT(fresh, *std::max_element(all.begin(), all.end()));
    tree.Remove(tps[0]);
    EXPECT_EQ(tree.Size(), 22u - 5u + 1u);
    EXPECT_EQ(mirror.events.size(), 2u);
}

TEST(ProgramTreeTest, UnknownIdsAndMissingParentsChangeNothing)
{
    ProgramTree tree;
    const TreeNodeId root = tree.Add(kNoTreeNode, "sat");
    MirrorObserver mirror;
    tree.SetObserver(&mirror);

    EXPECT_EQ(tree.Add(999, "orphan"), kNoTreeNode);
    tree.Remove(999);
    tree.Remove(kNoTreeNode);
    EXPECT_FALSE(tree.SetText(999, "x"));
    EXPECT_FALSE(tree.SetImage(999, 1));
    EXPECT_FALSE(tree.SetStateImage(999, 1));
    EXPECT_FALSE(tree.SetExpanded(999, true));
    tree.SetSelected(999);
    EXPECT_EQ(tree.Selected(), kNoTreeNode);
    EXPECT_EQ(tree.Parent(999), kNoTreeNode);
    EXPECT_EQ(tree.FirstChild(999), kNoTreeNode);
    EXPECT_TRUE(tree.Children(999).empty());
    EXPECT_EQ(tree.Text(999), "");
    EXPECT_EQ(tree.AbsoluteIndex(999), -1);
    EXPECT_EQ(tree.AbsoluteIndex(kNoTreeNode), -1);

    // Setting what a node already holds is no change either.
    EXPECT_TRUE(tree.SetText(root, "sat"));
    EXPECT_TRUE(tree.SetImage(root, kNoTreeImage));
    EXPECT_TRUE(tree.SetExpanded(root, false));
    EXPECT_TRUE(mirror.events.empty());
    EXPECT_EQ(tree.Size(), 1u);
    EXPECT_EQ(tree.FirstChild(kNoTreeNode), root);
}

TEST(ProgramTreeTest, TheOperatorsExpansionIsKeptWithoutBeingReportedBack)
{
    ProgramTree tree;
    const TreeNodeId root = tree.Add(kNoTreeNode, "sat");
    MirrorObserver mirror;
    mirror.Load(tree);
    tree.SetObserver(&mirror);

    // The widget opened the node: the model knows, the widget is not told.
    EXPECT_TRUE(tree.NoteExpanded(root, true));
    EXPECT_FALSE(tree.NoteExpanded(999, true));
    EXPECT_TRUE(tree.Node(root).expanded);
    EXPECT_TRUE(mirror.events.empty());
    // Opening for the display what the operator already opened is no change;
    // text changes never touch the expansion.
    tree.SetExpanded(root, true);
    tree.SetText(root, "sat 2");
    EXPECT_EQ(mirror.events, std::vector<std::string>{"change sat 2"});
    // After the operator closed it, the display opens it again.
    tree.NoteExpanded(root, false);
    tree.SetExpanded(root, true);
    EXPECT_EQ(mirror.events.back(), "open sat 2");
}

TEST(ProgramTreeTest, LevelAndAbsoluteIndexFollowThePreorder)
{
    ProgramTree tree;
    BuildSample(tree, 3, 2, 3); // 3 + 6 + 18 + 18 = 45 nodes
    ASSERT_EQ(tree.Size(), 45u);

    std::vector<TreeNodeId> order;
    Preorder(tree, kNoTreeNode, order);
    ASSERT_EQ(order.size(), tree.Size());
    for (size_t i = 0; i < order.size(); ++i) {
        const long index = static_cast<long>(i);
        EXPECT_EQ(tree.NodeAtAbsoluteIndex(index), order[i]) << i;
        EXPECT_EQ(tree.AbsoluteIndex(order[i]), index) << i;
        // The level is the length of the parent chain.
        int chain = 0;
        for (TreeNodeId up = tree.Parent(order[i]); up != kNoTreeNode; up = tree.Parent(up)) {
            ++chain;
        }
        EXPECT_EQ(tree.Level(order[i]), chain);
    }
    // Levels of the sample: satellite, TP, program, PID line.
    EXPECT_EQ(tree.Level(order[0]), 0);
    EXPECT_EQ(tree.Level(order[1]), 1);
    EXPECT_EQ(tree.Level(order[2]), 2);
    EXPECT_EQ(tree.Level(order[3]), 3);
    EXPECT_EQ(tree.Level(order[4]), 2);
    EXPECT_EQ(tree.NodeAtAbsoluteIndex(-1), kNoTreeNode);
    EXPECT_EQ(tree.NodeAtAbsoluteIndex(45), kNoTreeNode);

    // Removing the first satellite's second TP (7 nodes) shifts what follows.
    const TreeNodeId tp = tree.Children(order[0])[1];
    const long at = tree.AbsoluteIndex(tp);
    ASSERT_EQ(at, 8);
    const TreeNodeId following = tree.NodeAtAbsoluteIndex(at + 7);
    tree.Remove(tp);
    EXPECT_EQ(tree.NodeAtAbsoluteIndex(at), following);
    EXPECT_EQ(tree.AbsoluteIndex(following), at);
    EXPECT_EQ(tree.Level(following), 0);
}

TEST(ProgramTreeTest, OnlyTheOutermostBracketReachesTheObserver)
{
    ProgramTree tree;
    MirrorObserver mirror;
    tree.SetObserver(&mirror);

    tree.BeginUpdate();
    {
        TreeUpdateScope inner(tree);
        tree.Add(kNoTreeNode, "a");
        TreeUpdateScope innermost(tree);
    }
    EXPECT_EQ(mirror.begins, 1);
    EXPECT_EQ(mirror.ends, 0);
    tree.EndUpdate();
    EXPECT_EQ(mirror.ends, 1);

    // A stray EndUpdate is ignored; an empty bracket may be passed on.
    tree.EndUpdate();
    EXPECT_EQ(mirror.ends, 1);
    {
        TreeUpdateScope empty(tree);
    }
    EXPECT_EQ(mirror.begins, mirror.ends);

    // Clear brackets itself unless already inside one, and reports every root.
    tree.Add(kNoTreeNode, "b");
    tree.Add(tree.FirstChild(kNoTreeNode), "a child");
    const int before = mirror.begins;
    tree.Clear();
    EXPECT_EQ(mirror.begins, before + 1);
    EXPECT_EQ(std::count_if(mirror.events.begin(), mirror.events.end(),
                            [](const std::string& e) { return e.rfind("remove", 0) == 0; }),
              2);
    EXPECT_EQ(tree.Size(), 0u);
    tree.Clear(); // nothing to clear, no bracket
    EXPECT_EQ(mirror.begins, before + 1);
    EXPECT_EQ(mirror.begins, mirror.ends);
}

TEST(ProgramTreeTest, ObserverSwappedInsideABracketSeesItBalanced)
{
    ProgramTree tree;
    MirrorObserver first;
    MirrorObserver second;
    tree.SetObserver(&first);
    tree.BeginUpdate();
    tree.BeginUpdate();
    tree.SetObserver(&second);
    EXPECT_EQ(first.begins, 1);
    EXPECT_EQ(first.ends, 1);
    EXPECT_EQ(second.begins, 1);
    tree.EndUpdate();
    EXPECT_EQ(second.ends, 0);
    tree.EndUpdate();
    EXPECT_EQ(second.ends, 1);
    tree.SetObserver(nullptr);
    tree.BeginUpdate();
    tree.EndUpdate();
    EXPECT_EQ(second.begins, 1);
}

// Records counts only; called with the tree's lock held, by the writer.
class CountingObserver : public ProgramTreeObserver
{
public:
    void BeginUpdate() override { ++brackets; }
    void EndUpdate() override {}
    void NodeAdded(const TreeNode&, TreeNodeId, size_t) override { ++added; }
    void NodeRemoved(TreeNodeId) override { ++removed; }
    void NodeChanged(const TreeNode&) override { ++changed; }
    void NodeExpanded(TreeNodeId, bool) override {}
    int brackets = 0;
    int added = 0;
    int removed = 0;
    int changed = 0;
};

TEST(ProgramTreeTest, ConcurrentReadersAndWriterStayConsistent)
{
    ProgramTree tree;
    CountingObserver counter;
    tree.SetObserver(&counter);
    const TreeNodeId sat = tree.Add(kNoTreeNode, "sat");
    const TreeNodeId tp = tree.Add(sat, "tp");
    std::atomic<bool> done{false};

    std::thread writer([&] {
        for (int round = 0; round < 300; ++round) {
            TreeUpdateScope scope(tree);
            const TreeNodeId program = tree.Add(tp, "P " + std::to_string(round));
            const TreeNodeId pid = tree.Add(program, "");
            tree.SetText(pid, "VID PID:" + std::to_string(round) + "d; ");
            tree.SetImage(program, round % 3 == 0 ? 8 : 2);
            if (round % 2 == 1) {
                tree.Remove(tree.FirstChild(tp));
            }
        }
        done = true;
    });
    auto reader = [&] {
        long checks = 0;
        while (!done || checks == 0) {
            auto lock = tree.Lock(); // one consistent view per round
            const long size = static_cast<long>(tree.Size());
            for (long i = 0; i < size; i += 3) {
                const TreeNodeId id = tree.NodeAtAbsoluteIndex(i);
                ASSERT_NE(id, kNoTreeNode);
                ASSERT_EQ(tree.AbsoluteIndex(id), i);
                ASSERT_EQ(tree.Node(id).id, id);
                ASSERT_GE(tree.Level(id), 0);
            }
            tree.SetSelected(tree.NodeAtAbsoluteIndex(size - 1));
            ++checks;
        }
    };
    std::thread reader1(reader);
    std::thread reader2([&] {
        while (!done) {
            const TreeNode node = tree.Node(tree.Selected());
            if (node.id != kNoTreeNode) {
                EXPECT_LE(tree.Level(node.id), 3);
            }
        }
    });
    writer.join();
    reader1.join();
    reader2.join();

    EXPECT_EQ(tree.Children(tp).size(), 150u);
    EXPECT_EQ(tree.Size(), 2u + 300u);
    EXPECT_EQ(counter.brackets, 300);
    EXPECT_EQ(counter.added, 2 + 600);
    EXPECT_EQ(counter.removed, 150);
}

} // namespace
