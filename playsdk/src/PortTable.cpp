#include "PortTable.h"

#include <vector>

namespace kx::play {

PortTable& PortTable::instance() {
    static PortTable table;
    return table;
}

int PortTable::open(Port::Kind kind, std::unique_ptr<MediaSource> source) {
    std::lock_guard lock(m_mutex);
    for (int i = 0; i < kPorts; ++i) {
        if (!m_ports[i]) {
            m_ports[i] = std::make_shared<Port>(i, kind, std::move(source));
            return i;
        }
    }
    return -1;
}

std::shared_ptr<Port> PortTable::get(int port) const {
    if (port < 0 || port >= kPorts) return nullptr;
    std::lock_guard lock(m_mutex);
    return m_ports[port];
}

int PortTable::close(int port, Port::Kind kind) {
    if (port < 0 || port >= kPorts) return -1;
    std::shared_ptr<Port> victim;
    {
        std::lock_guard lock(m_mutex);
        if (!m_ports[port] || m_ports[port]->kind() != kind || m_ports[port]->onOwnThread()) {
            return -1;
        }
        victim.swap(m_ports[port]);
    }
    victim->shutdown();  // outside the table lock: the thread may be in a callback
    return 0;
}

void PortTable::closeAll() {
    std::vector<std::shared_ptr<Port>> victims;
    {
        std::lock_guard lock(m_mutex);
        for (auto& p : m_ports) {
            if (p && !p->onOwnThread()) victims.push_back(std::move(p));
        }
    }
    for (auto& p : victims) p->shutdown();
}

}  // namespace kx::play
