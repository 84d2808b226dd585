#pragma once

#include "app/machine_tree.h"

namespace vireo {

class MachineWindow;

// One registered device window and its node in the machine tree. Entries are
// created and freed by MachineManager only.
class MachineEntry
{
public:
    MachineEntry(NodeId node, MachineWindow* window) : m_node(node), m_window(window) {}

    MachineEntry(const MachineEntry&) = delete;
    MachineEntry& operator=(const MachineEntry&) = delete;

    NodeId Node() const { return m_node; }
    MachineWindow* Window() const { return m_window; }

private:
    NodeId m_node;
    MachineWindow* m_window;
};

} // namespace vireo
