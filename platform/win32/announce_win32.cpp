// Announcing services through the DNS-SD functions of dnsapi.dll (Windows 10 1809 and later),
// looked up at run time so that older Windows still start, with announcing off.
#include "platform/announce.h"

#include <windows.h>
#include <windns.h>

#ifndef DNS_REQUEST_PENDING
#define DNS_REQUEST_PENDING 9506L  // as dnsapi returns it; older headers lack the name
#endif

namespace plat {

namespace {

using ConstructFn = PDNS_SERVICE_INSTANCE(WINAPI*)(PCWSTR, PCWSTR, PIP4_ADDRESS, PIP6_ADDRESS, WORD, WORD, WORD,
                                                   DWORD, PCWSTR*, PCWSTR*);
using RegisterFn = DWORD(WINAPI*)(PDNS_SERVICE_REGISTER_REQUEST, PDNS_SERVICE_CANCEL);
using FreeFn = VOID(WINAPI*)(PDNS_SERVICE_INSTANCE);

// Through void(*)(), the cast the compiler accepts between unrelated function types.
template <class Function>
Function Lookup(HMODULE module, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

std::wstring Wide(const std::string& text) {
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(size > 0 ? size : 1, L'\0');
    if (size > 0) MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &wide[0], size);
    wide.resize(wide.size() - 1);
    return wide;
}

}  // namespace

struct Registration {
    Announcer::Impl* owner = nullptr;
    PDNS_SERVICE_INSTANCE instance = nullptr;
    DNS_SERVICE_REGISTER_REQUEST request{};
    HANDLE done = nullptr;  // set by each completion, so deregistering can wait for its own
};

struct Announcer::Impl {
    std::string name;
    std::function<void(const std::string&)> report;
    HMODULE dnsapi = nullptr;
    RegisterFn registerService = nullptr;
    RegisterFn deregisterService = nullptr;
    FreeFn freeInstance = nullptr;
    std::vector<Registration> registrations;
    bool stopping = false;
};

namespace {

VOID WINAPI OnRegistered(DWORD status, PVOID context, PDNS_SERVICE_INSTANCE instance) {
    auto& registration = *static_cast<Registration*>(context);
    Announcer::Impl& impl = *registration.owner;
    if (instance && impl.freeInstance) impl.freeInstance(instance);
    if (!impl.stopping) {
        if (status == ERROR_SUCCESS) {
            if (&registration == &impl.registrations.front())
                impl.report("announced on the network as \"" + impl.name + "\"");
        } else {
            impl.report("announcing is off: the system refused it (error " + std::to_string(status) + ")");
        }
    }
    SetEvent(registration.done);
}

}  // namespace

Announcer::Announcer(std::string name, std::vector<AnnouncedService> services,
                     std::function<void(const std::string&)> report)
    : impl_(std::make_unique<Impl>()) {
    Impl& impl = *impl_;
    impl.report = std::move(report);
    impl.dnsapi = LoadLibraryW(L"dnsapi.dll");
    const auto construct =
        impl.dnsapi ? Lookup<ConstructFn>(impl.dnsapi, "DnsServiceConstructInstance") : nullptr;
    if (impl.dnsapi) {
        impl.registerService = Lookup<RegisterFn>(impl.dnsapi, "DnsServiceRegister");
        impl.deregisterService = Lookup<RegisterFn>(impl.dnsapi, "DnsServiceDeRegister");
        impl.freeInstance = Lookup<FreeFn>(impl.dnsapi, "DnsServiceFreeInstance");
    }
    if (!construct || !impl.registerService || !impl.deregisterService || !impl.freeInstance) {
        impl.report("announcing is off: this Windows has no DNS-SD (it needs Windows 10 version 1809 or later)");
        return;
    }
    wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
    if (!GetComputerNameW(computer, &length)) lstrcpyW(computer, L"windows");
    char computerUtf8[4 * (MAX_COMPUTERNAME_LENGTH + 1)] = {};
    WideCharToMultiByte(CP_UTF8, 0, computer, -1, computerUtf8, sizeof computerUtf8, nullptr, nullptr);
    impl.name = name.empty() ? std::string("KOVEXFuel on ") + computerUtf8 : std::move(name);
    const std::wstring host = std::wstring(computer) + L".local";

    // Placed first, so the callbacks' pointers into the vector stay valid.
    impl.registrations.resize(services.size());
    for (std::size_t i = 0; i < services.size(); ++i) {
        const AnnouncedService& service = services[i];
        std::vector<std::wstring> keys, values;
        for (const auto& [key, value] : service.txt) {
            keys.push_back(Wide(key));
            values.push_back(Wide(value));
        }
        std::vector<PCWSTR> keyPointers, valuePointers;
        for (std::size_t k = 0; k < keys.size(); ++k) {
            keyPointers.push_back(keys[k].c_str());
            valuePointers.push_back(values[k].c_str());
        }
        const std::wstring instanceName = Wide(impl.name + "." + service.type + ".local");
        Registration& registration = impl.registrations[i];
        registration.owner = &impl;
        registration.done = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        registration.instance = construct(instanceName.c_str(), host.c_str(), nullptr, nullptr, service.port, 0, 0,
                                          static_cast<DWORD>(keys.size()), keyPointers.data(), valuePointers.data());
        if (!registration.instance || !registration.done) {
            impl.report("announcing is off: out of memory");
            continue;
        }
        registration.request.Version = DNS_QUERY_REQUEST_VERSION1;
        registration.request.InterfaceIndex = 0;
        registration.request.pServiceInstance = registration.instance;
        registration.request.pRegisterCompletionCallback = OnRegistered;
        registration.request.pQueryContext = &registration;
        const DWORD status = impl.registerService(&registration.request, nullptr);
        if (status != DNS_REQUEST_PENDING) {
            impl.report("announcing is off: the system refused it (error " + std::to_string(status) + ")");
            impl.freeInstance(registration.instance);
            registration.instance = nullptr;
        }
    }
}

Announcer::~Announcer() {
    Impl& impl = *impl_;
    impl.stopping = true;
    for (Registration& registration : impl.registrations) {
        if (registration.instance) {
            // The goodbye is sent in the background; its completion must come before the memory goes.
            if (impl.deregisterService(&registration.request, nullptr) == DNS_REQUEST_PENDING)
                WaitForSingleObject(registration.done, 2000);
            impl.freeInstance(registration.instance);
        }
        if (registration.done) CloseHandle(registration.done);
    }
    if (impl.dnsapi) FreeLibrary(impl.dnsapi);
}

}  // namespace plat
