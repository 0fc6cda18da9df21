// Reference-counted objects, their base interface and the counted references that keep them alive.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>
#include <utility>

// An interface identifier, laid out as the desktop's 16-byte GUID.
struct TVqGuid {
    std::uint32_t data1;
    std::uint16_t data2;
    std::uint16_t data3;
    std::uint8_t data4[8];
};

inline bool operator==(const TVqGuid& a, const TVqGuid& b) {
    return a.data1 == b.data1 && a.data2 == b.data2 && a.data3 == b.data3 &&
           std::memcmp(a.data4, b.data4, sizeof a.data4) == 0;
}
inline bool operator!=(const TVqGuid& a, const TVqGuid& b) { return !(a == b); }

// The base interface's identifier, {00000000-0000-0000-C000-000000000046}, the same on every platform.
constexpr TVqGuid IID_IVqUnknown = {0x00000000u, 0x0000u, 0x0000u, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// QueryInterface results, with the desktop's values.
constexpr std::int32_t kVqOk = 0;
constexpr std::int32_t kVqNoInterface = static_cast<std::int32_t>(0x80004002u);

// The base of every counted interface. An object behind it is released, never deleted by its user.
class IVqUnknown {
public:
    // kVqOk and a counted reference in *object when the object offers iid; else kVqNoInterface, *object none.
    virtual std::int32_t QueryInterface(const TVqGuid& iid, void** object) = 0;
    // Both return the new count.
    virtual std::int32_t AddRef() = 0;
    virtual std::int32_t Release() = 0;

protected:
    ~IVqUnknown() = default;
};

// The standard reference-counted object: the count is 0 after construction, each interface
// reference held adds one, and the object deletes itself when the last one is released. Such an
// object lives on the heap (new) and is then only ever held through references.
class TVqInterfacedObject : public virtual IVqUnknown {
public:
    TVqInterfacedObject() = default;
    TVqInterfacedObject(const TVqInterfacedObject&) = delete;
    TVqInterfacedObject& operator=(const TVqInterfacedObject&) = delete;
    virtual ~TVqInterfacedObject() = default;

    std::int32_t QueryInterface(const TVqGuid& iid, void** object) override {
        if (object == nullptr) return kVqNoInterface;
        if (iid == IID_IVqUnknown) {
            *object = static_cast<IVqUnknown*>(this);
            AddRef();
            return kVqOk;
        }
        *object = nullptr;
        return kVqNoInterface;
    }

    std::int32_t AddRef() override { return ++refCount; }

    std::int32_t Release() override {
        const std::int32_t left = --refCount;
        if (left == 0) delete this;
        return left;
    }

    std::int32_t RefCount() const { return refCount.load(); }

private:
    std::atomic<std::int32_t> refCount{0};
};

// A counted reference to an interface: holding one keeps the object alive; copying adds a
// reference, and the last one to go releases the object.
template <class Interface>
class TVqInterfaceRef {
public:
    TVqInterfaceRef() = default;
    TVqInterfaceRef(Interface* target) : pointer(target) {  // NOLINT: taking a reference is the point
        if (pointer != nullptr) pointer->AddRef();
    }
    TVqInterfaceRef(const TVqInterfaceRef& other) : TVqInterfaceRef(other.pointer) {}
    TVqInterfaceRef(TVqInterfaceRef&& other) noexcept : pointer(std::exchange(other.pointer, nullptr)) {}
    ~TVqInterfaceRef() { Reset(); }

    TVqInterfaceRef& operator=(TVqInterfaceRef other) noexcept {
        // The new reference is taken before the old one is released, so self-assignment is safe.
        std::swap(pointer, other.pointer);
        return *this;
    }

    void Reset() {
        Interface* old = std::exchange(pointer, nullptr);
        if (old != nullptr) old->Release();
    }

    Interface* Get() const { return pointer; }
    Interface* operator->() const { return pointer; }
    Interface& operator*() const { return *pointer; }
    explicit operator bool() const { return pointer != nullptr; }

private:
    Interface* pointer = nullptr;
};
