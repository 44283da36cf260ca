// The fixed table of ports. Opening takes a free slot; every operation looks its port up
// and holds it (shared ownership) for the length of the call, so a port closed on another
// thread is destroyed only when the last call on it has returned.
#pragma once

#include <array>
#include <memory>
#include <mutex>

#include "Port.h"

namespace kx::play {

class PortTable {
public:
    static constexpr int kPorts = 32;

    static PortTable& instance();

    // A new port in a free slot, or -1 when all are taken.
    int open(Port::Kind kind, std::unique_ptr<MediaSource> source);
    std::shared_ptr<Port> get(int port) const;
    // Takes the port out of the table and ends its thread. -1 for an unknown port, a port of
    // another kind, or a call from the port's own thread.
    int close(int port, Port::Kind kind);
    void closeAll();

private:
    mutable std::mutex m_mutex;
    std::array<std::shared_ptr<Port>, kPorts> m_ports;
};

}  // namespace kx::play
