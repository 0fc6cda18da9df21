// Test support: a recording transport that passes calls on to the platform unless told to fail one.
#include "tests/simlink/testtransport.h"

#include "simlink/FPCuser.h"

TransportLog transportLog;

namespace {

const plat::IpcTransport& Real() { return plat::PlatformIpc(); }

std::uint32_t RegisterMessage(const char* name) {
    return transportLog.fail == FailingCall::RegisterMessage ? 0 : Real().registerMessage(name);
}
plat::IpcAtom AddAtom(const char* name) {
    if (transportLog.fail == FailingCall::AddAtom) return 0;
    ++transportLog.addAtoms;
    return Real().addAtom(name);
}
void DeleteAtom(plat::IpcAtom atom) {
    ++transportLog.deleteAtoms;
    Real().deleteAtom(atom);
}
plat::IpcMapping CreateMapping(const char* name, std::uint32_t size, bool* exists) {
    const plat::IpcMapping m = Real().createMapping(name, size, exists);
    if (m) ++transportLog.createMappings;
    return m;
}
void* MapView(plat::IpcMapping mapping, std::uint32_t size) {
    if (transportLog.fail == FailingCall::MapView) return nullptr;
    void* view = Real().mapView(mapping, size);
    if (view) ++transportLog.mapViews;
    return view;
}
void UnmapView(void* view, std::uint32_t size) {
    ++transportLog.unmapViews;
    Real().unmapView(view, size);
}
void CloseMapping(plat::IpcMapping mapping) {
    ++transportLog.closeMappings;
    Real().closeMapping(mapping);
}
bool Send(plat::IpcWindow window, std::uint32_t message, std::uintptr_t wParam, std::uint32_t timeoutMs,
          std::uint32_t* reply, std::uint32_t* lastError) {
    ++transportLog.sends;
    if (simLinkState.areaStart)
        transportLog.sentAreas.emplace_back(simLinkState.areaStart, simLinkState.areaStart + kSimLinkAreaUsable);
    return Real().sendMessage(window, message, wParam, timeoutMs, reply, lastError);
}

const plat::IpcTransport kTestTransport{plat::IpcFindWindow, RegisterMessage, AddAtom,
                                        DeleteAtom,          plat::IpcRemoveStaleMapping,
                                        CreateMapping,       MapView,
                                        UnmapView,           CloseMapping,
                                        Send};

}  // namespace

const plat::IpcTransport* TestTransport(FailingCall fail) {
    transportLog = TransportLog{};
    transportLog.fail = fail;
    return &kTestTransport;
}

std::uint32_t Le32(const std::vector<std::uint8_t>& bytes, std::size_t at) {
    return static_cast<std::uint32_t>(bytes[at]) | static_cast<std::uint32_t>(bytes[at + 1]) << 8 |
           static_cast<std::uint32_t>(bytes[at + 2]) << 16 | static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}
