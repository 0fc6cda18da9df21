// Test support: the platform's IPC transport behind the client's seam, recording every call and able
// to fail a chosen one (failures the real platform will not produce on demand).
#pragma once

#include <cstdint>
#include <vector>

#include "platform/ipc.h"

enum class FailingCall { None, RegisterMessage, AddAtom, MapView };

struct TransportLog {
    FailingCall fail = FailingCall::None;
    int addAtoms = 0, deleteAtoms = 0;
    int createMappings = 0, closeMappings = 0;
    int mapViews = 0, unmapViews = 0;
    int sends = 0;
    std::vector<std::vector<std::uint8_t>> sentAreas;  // the client's area as it was at each send
};
extern TransportLog transportLog;

// Resets the log and returns the transport to hand to SimLinkUseTransport.
const plat::IpcTransport* TestTransport(FailingCall fail = FailingCall::None);

std::uint32_t Le32(const std::vector<std::uint8_t>& bytes, std::size_t at);
