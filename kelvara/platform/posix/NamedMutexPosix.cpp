// Named mutexes as robust, process-shared, recursive pthread mutexes in
// POSIX shared memory.
//
// Creation race: the first opener creates the memory object, later ones may
// map it before the mutex in it is initialised. Whoever opens takes an
// exclusive flock on the object while it checks and, if needed, initialises
// it; the kernel drops that lock if the process dies halfway, so a crashed
// creator leaves an uninitialised block that the next opener initialises.
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <ctime>
#include <map>
#include <mutex>
#include <thread>

#include "kelvara/platform/NamedMutex.h"

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
// The thread sanitizer's timedlock wrapper ignores a lock taken over from a
// dead holder (EOWNERDEAD); tell it that this thread holds the mutex now.
#define KELVARA_TSAN_TOOK_OVER(m)                              \
    do {                                                       \
        __tsan_mutex_pre_lock((m), __tsan_mutex_try_lock);     \
        __tsan_mutex_post_lock((m), __tsan_mutex_try_lock, 0); \
    } while (0)
#else
#define KELVARA_TSAN_TOOK_OVER(m) ((void)(m))
#endif

namespace kelvara::platform {

namespace {

constexpr std::uint32_t kReadyMagic = 0x4B4D5458u;  // "KMTX"
constexpr std::size_t kMaxEncodedName = 200;

struct SharedBlock {
    std::uint32_t magic;
    std::uint32_t reserved;
    pthread_mutex_t mutex;
};

std::uint64_t Fnv1a(const std::string& s) {
    std::uint64_t h = 0xcbf29ce484222325ull;
    for (unsigned char c : s) {
        h = (h ^ c) * 0x100000001b3ull;
    }
    return h;
}

constexpr char kHex[] = "0123456789ABCDEF";

std::string Encode(const std::string& strText) {
    std::string encoded;
    for (unsigned char c : strText) {
        const bool plain = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ||
                           (c >= 'a' && c <= 'z') || c == '-' || c == '_' || c == '.';
        if (plain) {
            encoded += static_cast<char>(c);
        } else {
            encoded += '%';
            encoded += kHex[c >> 4];
            encoded += kHex[c & 0xF];
        }
    }
    return encoded;
}

// Any text becomes a valid shared-memory name: one leading slash, no other
// slash, bounded length; distinct texts stay distinct. A scope comes first,
// set off by a '+' that no encoded text contains.
std::string ObjectName(const std::string& strScope, const std::string& strName) {
    const bool bScoped = !strScope.empty();
    std::string encoded = bScoped ? Encode(strScope) + "+" + Encode(strName) : Encode(strName);
    if (encoded.size() > kMaxEncodedName) {
        const std::string strKey = bScoped ? strScope + '\0' + strName : strName;
        std::string hash;
        for (std::uint64_t h = Fnv1a(strKey), i = 0; i < 16; ++i, h >>= 4) {
            hash += kHex[h & 0xF];
        }
        encoded = encoded.substr(0, kMaxEncodedName - 17) + "~" + hash;
    }
    return "/kelvara-mutex." + encoded;
}

bool InitialiseMutex(pthread_mutex_t* pMutex) {
    pthread_mutexattr_t attr;
    if (pthread_mutexattr_init(&attr) != 0) {
        return false;
    }
    const bool ok = pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED) == 0 &&
                    pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST) == 0 &&
                    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE) == 0 &&
                    pthread_mutex_init(pMutex, &attr) == 0;
    pthread_mutexattr_destroy(&attr);
    return ok;
}

// Maps the block of an open memory object, initialising it when no opener
// has finished doing so. Called with the object flock'ed.
SharedBlock* MapBlock(int fd) {
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        return nullptr;
    }
    if (static_cast<std::size_t>(st.st_size) < sizeof(SharedBlock) &&
        ftruncate(fd, sizeof(SharedBlock)) != 0) {
        return nullptr;
    }
    void* p = mmap(nullptr, sizeof(SharedBlock), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (p == MAP_FAILED) {
        return nullptr;
    }
    auto* pBlock = static_cast<SharedBlock*>(p);
    if (pBlock->magic != kReadyMagic) {
        if (!InitialiseMutex(&pBlock->mutex)) {
            const int nError = errno;
            munmap(p, sizeof(SharedBlock));
            errno = nError;
            return nullptr;
        }
        pBlock->magic = kReadyMagic;
    }
    return pBlock;
}

class PosixNamedMutex final : public NamedMutex {
public:
    explicit PosixNamedMutex(SharedBlock* pBlock) : m_pBlock(pBlock) {}
    ~PosixNamedMutex() override { munmap(m_pBlock, sizeof(SharedBlock)); }
    PosixNamedMutex(const PosixNamedMutex&) = delete;
    PosixNamedMutex& operator=(const PosixNamedMutex&) = delete;

    LockResult Lock(std::uint32_t nTimeoutMs) override {
        pthread_mutex_t* pMutex = &m_pBlock->mutex;
        int rc = 0;
        if (nTimeoutMs == kInfinite) {
            rc = pthread_mutex_lock(pMutex);
        } else if (nTimeoutMs == 0) {
            rc = pthread_mutex_trylock(pMutex);
        } else {
            const timespec deadline = Deadline(nTimeoutMs);
            rc = pthread_mutex_timedlock(pMutex, &deadline);
            if (rc == EOWNERDEAD) {
                KELVARA_TSAN_TOOK_OVER(pMutex);
            }
        }
        switch (rc) {
            case 0:
                NoteAcquired(false);
                return LockResult::Acquired;
            case EOWNERDEAD:
                // We hold it now; mark it usable again for everyone.
                pthread_mutex_consistent(pMutex);
                NoteAcquired(true);
                return LockResult::Abandoned;
            case EBUSY:
            case ETIMEDOUT:
                return LockResult::TimedOut;
            default:
                errno = rc;
                return LockResult::Failed;
        }
    }

    bool Unlock() override {
        // Asking the system to unlock a mutex this thread does not hold is
        // refused anyway; not asking keeps thread checkers quiet.
        if (m_owner.load(std::memory_order_relaxed) != std::this_thread::get_id()) {
            return false;
        }
        if (--m_nDepth == 0) {
            m_owner.store(std::thread::id(), std::memory_order_relaxed);
        }
        return pthread_mutex_unlock(&m_pBlock->mutex) == 0;
    }

private:
    static timespec Deadline(std::uint32_t nTimeoutMs) {
        timespec deadline{};
        clock_gettime(CLOCK_REALTIME, &deadline);
        deadline.tv_sec += static_cast<time_t>(nTimeoutMs / 1000u);
        deadline.tv_nsec += static_cast<long>(nTimeoutMs % 1000u) * 1000000L;
        if (deadline.tv_nsec >= 1000000000L) {
            deadline.tv_sec += 1;
            deadline.tv_nsec -= 1000000000L;
        }
        return deadline;
    }

    // Called holding the mutex. A hold left by a holder that died is taken
    // over with a fresh count.
    void NoteAcquired(bool bTakenOver) {
        const std::thread::id self = std::this_thread::get_id();
        if (!bTakenOver && m_owner.load(std::memory_order_relaxed) == self) {
            ++m_nDepth;
        } else {
            m_owner.store(self, std::memory_order_relaxed);
            m_nDepth = 1;
        }
    }

    SharedBlock* m_pBlock;
    // This process's holder and its depth of locking; only the holder
    // changes them.
    std::atomic<std::thread::id> m_owner{};
    int m_nDepth = 0;
};

struct Registry {
    std::mutex lock;
    // By system object name, so that a change of scope opens afresh.
    std::map<std::string, std::weak_ptr<NamedMutex>> byName;
    std::string strScope;
};

Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

}  // namespace

std::shared_ptr<NamedMutex> OpenNamedMutex(const std::string& strName) {
    Registry& r = TheRegistry();
    // Held while the block is mapped, so that one process maps each name
    // once: a mutex seen at two addresses would confuse thread checkers.
    std::lock_guard<std::mutex> guard(r.lock);
    const std::string object = ObjectName(r.strScope, strName);
    if (auto existing = r.byName[object].lock()) {
        return existing;
    }
    const int fd = shm_open(object.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        return nullptr;
    }
    SharedBlock* pBlock = nullptr;
    if (flock(fd, LOCK_EX) == 0) {
        pBlock = MapBlock(fd);
        flock(fd, LOCK_UN);
    }
    const int nError = errno;
    close(fd);
    if (pBlock == nullptr) {
        errno = nError;
        return nullptr;
    }
    auto handle = std::make_shared<PosixNamedMutex>(pBlock);
    r.byName[object] = handle;
    return handle;
}

bool RemoveNamedMutex(const std::string& strName) {
    Registry& r = TheRegistry();
    std::string object;
    {
        std::lock_guard<std::mutex> guard(r.lock);
        object = ObjectName(r.strScope, strName);
    }
    return shm_unlink(object.c_str()) == 0;
}

void SetNamedMutexScope(const std::string& strScope) {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> guard(r.lock);
    r.strScope = strScope;
}

}  // namespace kelvara::platform
