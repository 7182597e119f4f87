// The process's table of open handles: events, devices and device providers.
//
// One lock guards the table and the state of every event, and one condition
// variable carries every change of an event; a wait on several events then
// needs nothing more than a look at each of them under that lock. Device
// requests and provider calls run outside the lock, so a provider may set
// events from inside a request.
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "kelvara/platform/DeviceIo.h"
#include "kelvara/platform/Event.h"
#include "kelvara/platform/Handle.h"
#include "kelvara/platform/SystemError.h"

namespace kelvara::platform {

namespace {

constexpr std::uint32_t kMaxWaitObjects = 64;

enum class Kind { Event, Device };

struct Object {
    explicit Object(Kind k) : kind(k) {}
    virtual ~Object() = default;
    const Kind kind;
};

struct EventObject final : Object {
    static constexpr Kind kKind = Kind::Event;
    EventObject(bool bManual, bool bSet, std::string name)
        : Object(kKind), bManualReset(bManual), bSignalled(bSet), strName(std::move(name)) {}
    const bool bManualReset;
    bool bSignalled;
    bool bClosed = false;
    const std::string strName;
};

struct DeviceObject final : Object {
    static constexpr Kind kKind = Kind::Device;
    explicit DeviceObject(std::shared_ptr<DeviceFile> file)
        : Object(kKind), pFile(std::move(file)) {}
    const std::shared_ptr<DeviceFile> pFile;
};

class Table {
public:
    static Table& Instance() {
        // Never destroyed: worker threads may still close handles while
        // the process exits.
        static Table* pTable = new Table;
        return *pTable;
    }

    Handle Insert(std::shared_ptr<Object> pObject) {
        std::lock_guard<std::mutex> guard(m_lock);
        // Skip the two values that never name an object, and any value
        // still open after the count wrapped.
        while (m_nNext == kNullHandle || m_nNext == kInvalidHandle || m_objects.count(m_nNext)) {
            ++m_nNext;
        }
        const Handle h = m_nNext++;
        m_objects.emplace(h, std::move(pObject));
        return h;
    }

    std::shared_ptr<Object> Remove(Handle h) {
        std::lock_guard<std::mutex> guard(m_lock);
        auto it = m_objects.find(h);
        if (it == m_objects.end()) {
            return nullptr;
        }
        std::shared_ptr<Object> pObject = std::move(it->second);
        m_objects.erase(it);
        if (pObject->kind == Kind::Event) {
            static_cast<EventObject*>(pObject.get())->bClosed = true;
            m_changed.notify_all();
        }
        return pObject;
    }

    template <class T>
    std::shared_ptr<T> Find(Handle h) {
        std::lock_guard<std::mutex> guard(m_lock);
        return FindLocked<T>(h);
    }

    // Sets or resets an event.
    bool Change(Handle h, bool bSet) {
        std::lock_guard<std::mutex> guard(m_lock);
        auto pEvent = FindLocked<EventObject>(h);
        if (!pEvent) {
            FailWith(ErrorCategory::BadHandle);
            return false;
        }
        pEvent->bSignalled = bSet;
        if (bSet) {
            m_changed.notify_all();
        }
        return true;
    }

    std::uint32_t Wait(const Handle* pHandles, std::uint32_t nCount, std::uint32_t nTimeoutMs) {
        if (pHandles == nullptr || nCount == 0 || nCount > kMaxWaitObjects) {
            FailWith(ErrorCategory::Invalid);
            return kWaitFailed;
        }
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(nTimeoutMs);
        std::unique_lock<std::mutex> lock(m_lock);
        std::vector<std::shared_ptr<EventObject>> events;
        events.reserve(nCount);
        for (std::uint32_t i = 0; i < nCount; ++i) {
            events.push_back(FindLocked<EventObject>(pHandles[i]));
            if (!events.back()) {
                FailWith(ErrorCategory::BadHandle);
                return kWaitFailed;
            }
        }
        for (;;) {
            // A set event is taken before a closed one fails the wait: an
            // owner that sets one event and then closes another (a port
            // waking its thread before releasing the thread's other event)
            // is heard, whichever of the two the waiter wakes to see. A
            // closed event's own signal is never taken.
            for (std::uint32_t i = 0; i < nCount; ++i) {
                if (events[i]->bSignalled && !events[i]->bClosed) {
                    if (!events[i]->bManualReset) {
                        events[i]->bSignalled = false;
                    }
                    return kWaitObject0 + i;
                }
            }
            for (std::uint32_t i = 0; i < nCount; ++i) {
                if (events[i]->bClosed) {
                    FailWith(ErrorCategory::BadHandle);
                    return kWaitFailed;
                }
            }
            if (nTimeoutMs == kWaitInfinite) {
                m_changed.wait(lock);
            } else if (std::chrono::steady_clock::now() >= deadline) {
                return kWaitTimeout;
            } else {
                m_changed.wait_until(lock, deadline);
            }
        }
    }

    void Register(const std::string& strName, std::shared_ptr<DeviceProvider> pProvider) {
        std::lock_guard<std::mutex> guard(m_lock);
        m_providers[strName] = std::move(pProvider);
    }

    bool Unregister(const std::string& strName, const DeviceProvider* pProvider) {
        std::lock_guard<std::mutex> guard(m_lock);
        auto it = m_providers.find(strName);
        if (it == m_providers.end() || it->second.get() != pProvider) {
            return false;
        }
        m_providers.erase(it);
        return true;
    }

    std::shared_ptr<DeviceProvider> Provider(const std::string& strName) {
        std::lock_guard<std::mutex> guard(m_lock);
        auto it = m_providers.find(strName);
        return it == m_providers.end() ? nullptr : it->second;
    }

private:
    Table() = default;

    template <class T>
    std::shared_ptr<T> FindLocked(Handle h) {
        auto it = m_objects.find(h);
        if (it == m_objects.end() || it->second->kind != T::kKind) {
            return nullptr;
        }
        return std::static_pointer_cast<T>(it->second);
    }

    std::mutex m_lock;
    std::condition_variable m_changed;
    std::unordered_map<Handle, std::shared_ptr<Object>> m_objects;
    std::map<std::string, std::shared_ptr<DeviceProvider>> m_providers;
    Handle m_nNext = 0x100;
};

}  // namespace

bool CloseHandle(Handle hObject) {
    std::shared_ptr<Object> pObject = Table::Instance().Remove(hObject);
    if (!pObject) {
        FailWith(ErrorCategory::BadHandle);
        return false;
    }
    if (pObject->kind == Kind::Device) {
        static_cast<DeviceObject*>(pObject.get())->pFile->Close();
    }
    return true;
}

Handle CreateEventHandle(bool bManualReset, bool bInitiallySet, const std::string& strName) {
    return Table::Instance().Insert(
        std::make_shared<EventObject>(bManualReset, bInitiallySet, strName));
}

bool SetEvent(Handle hEvent) {
    return Table::Instance().Change(hEvent, true);
}

bool ResetEvent(Handle hEvent) {
    return Table::Instance().Change(hEvent, false);
}

std::uint32_t WaitForObjects(const Handle* pHandles, std::uint32_t nCount,
                             std::uint32_t nTimeoutMs) {
    return Table::Instance().Wait(pHandles, nCount, nTimeoutMs);
}

void RegisterDeviceProvider(const std::string& strName, std::shared_ptr<DeviceProvider> pProvider) {
    Table::Instance().Register(strName, std::move(pProvider));
}

bool UnregisterDeviceProvider(const std::string& strName, const DeviceProvider* pProvider) {
    return Table::Instance().Unregister(strName, pProvider);
}

Handle OpenDevice(const std::string& strName) {
    std::shared_ptr<DeviceProvider> pProvider = Table::Instance().Provider(strName);
    if (!pProvider) {
        FailWith(ErrorCategory::NotFound);
        return kInvalidHandle;
    }
    SetLastSystemError(0);
    std::shared_ptr<DeviceFile> pFile = pProvider->OpenDevice();
    if (!pFile) {
        if (LastErrorCategory() == ErrorCategory::None) {
            FailWith(ErrorCategory::NoDevice);
        }
        return kInvalidHandle;
    }
    return Table::Instance().Insert(std::make_shared<DeviceObject>(std::move(pFile)));
}

bool DeviceIoControl(Handle hDevice, std::uint32_t dwCode, const void* pIn, std::uint32_t nInSize,
                     void* pOut, std::uint32_t nOutSize, std::uint32_t* pReturned) {
    std::uint32_t nReturned = 0;
    if (pReturned == nullptr) {
        pReturned = &nReturned;
    }
    *pReturned = 0;
    std::shared_ptr<DeviceObject> pDevice = Table::Instance().Find<DeviceObject>(hDevice);
    if (!pDevice) {
        FailWith(ErrorCategory::BadHandle);
        return false;
    }
    if ((pIn == nullptr && nInSize != 0) || (pOut == nullptr && nOutSize != 0)) {
        FailWith(ErrorCategory::Invalid);
        return false;
    }
    return pDevice->pFile->IoControl(dwCode, pIn, nInSize, pOut, nOutSize, pReturned);
}

}  // namespace kelvara::platform
