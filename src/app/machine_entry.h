#pragma once

#include "app/machine_tree.h"

#include <string>

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
    // The address of the caption the registry was given, in a form that
    // compares equal exactly when MachineManager::SameAddress does.
    const std::string& AddressKey() const { return m_addressKey; }
    void SetAddressKey(std::string key) { m_addressKey = std::move(key); }

private:
    NodeId m_node;
    MachineWindow* m_window;
    std::string m_addressKey;
};

} // namespace vireo
