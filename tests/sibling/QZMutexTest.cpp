// CQZMutex: exclusion across threads and processes, and recovery from a
// holder that died.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "kelvara/Kelvara.h"
#include "kelvara/platform/NamedMutex.h"

namespace {

// A name of its own per test, removed afterwards.
class QZMutexTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_name = "kelvara-test-" + std::to_string(getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name();
    }
    void TearDown() override { kelvara::platform::RemoveNamedMutex(m_name); }
    const char* Name() const { return m_name.c_str(); }

private:
    std::string m_name;
};

// A forked child that locks the mutex and holds it until released (or
// killed); one byte per message over two pipes.
class Holder {
public:
    explicit Holder(const char* pszName) {
        EXPECT_EQ(pipe(m_toChild), 0);
        EXPECT_EQ(pipe(m_toParent), 0);
        m_pid = fork();
        if (m_pid == 0) {
            CQZMutex mutex(pszName);
            CQZMutex::CLock* pLock = mutex.Lock();
            Send(m_toParent[1], pLock ? 'L' : 'F');
            Receive(m_toChild[0]);
            mutex.Unlock(pLock);
            Send(m_toParent[1], 'U');
            _exit(0);
        }
    }
    ~Holder() {
        for (int fd : {m_toChild[0], m_toChild[1], m_toParent[0], m_toParent[1]}) {
            close(fd);
        }
    }
    // True once the child holds the mutex.
    bool Holds() { return m_pid > 0 && Receive(m_toParent[0]) == 'L'; }
    // Lets the child unlock and exit; true when it unlocked.
    bool Release() {
        const bool bUnlocked = Send(m_toChild[1], 'u') && Receive(m_toParent[0]) == 'U';
        return bUnlocked && Reap(false);
    }
    bool Kill() { return kill(m_pid, SIGKILL) == 0 && Reap(true); }

private:
    // The child's end: killed by a signal or exited by itself.
    bool Reap(bool bKilled) {
        int status = 0;
        return waitpid(m_pid, &status, 0) == m_pid &&
               (bKilled ? WIFSIGNALED(status) : WIFEXITED(status));
    }
    static bool Send(int fd, char c) { return write(fd, &c, 1) == 1; }
    static char Receive(int fd) {
        char c = 0;
        return read(fd, &c, 1) == 1 ? c : '\0';
    }
    int m_toChild[2] = {-1, -1};
    int m_toParent[2] = {-1, -1};
    pid_t m_pid = -1;
};

TEST_F(QZMutexTest, ExcludesThreadsUsingTheSameNameThroughSeparateObjects) {
    long counter = 0;  // guarded only by the named mutex
    auto work = [&] {
        CQZMutex mutex(Name());
        for (int i = 0; i < 2000; ++i) {
            CQZMutex::CLock* pLock = mutex.Lock();
            ASSERT_NE(pLock, nullptr);
            const long seen = counter;
            counter = seen + 1;
            ASSERT_TRUE(mutex.Unlock(pLock));
        }
    };
    std::thread a(work);
    std::thread b(work);
    a.join();
    b.join();
    EXPECT_EQ(counter, 4000);
}

TEST_F(QZMutexTest, HolderMayLockAgainAndOnlyItsOwnHandleUnlocks) {
    CQZMutex mutex(Name());
    // Another, under a name that could be no file's.
    const std::string odd = std::string(Name()) + "/with slashes\\and " + std::string(300, 'x');
    CQZMutex other(odd.c_str());
    ASSERT_TRUE(other.IsValid());
    CQZMutex::CLock* pOuter = mutex.Lock();
    ASSERT_NE(pOuter, nullptr);
    CQZMutex::CLock* pInner = mutex.Lock(0);
    ASSERT_NE(pInner, nullptr);
    CQZMutex::CLock* pOther = other.Lock(0);
    ASSERT_NE(pOther, nullptr);
    EXPECT_FALSE(other.Unlock(pInner));
    EXPECT_FALSE(mutex.Unlock(nullptr));
    EXPECT_TRUE(other.Unlock(pOther));
    EXPECT_TRUE(mutex.Unlock(pInner));
    EXPECT_TRUE(mutex.Unlock(pOuter));
    EXPECT_FALSE(mutex.Unlock(pOuter));  // no hold left
    EXPECT_TRUE(kelvara::platform::RemoveNamedMutex(odd));
}

TEST_F(QZMutexTest, AnotherProcessKeepsUsOutUntilItUnlocksOrDiesHoldingIt) {
    CQZMutex mutex(Name());
    for (const bool bKilled : {false, true}) {
        Holder holder(Name());
        ASSERT_TRUE(holder.Holds());
        EXPECT_EQ(mutex.Lock(0), nullptr);
        EXPECT_EQ(mutex.Lock(20), nullptr);
        ASSERT_TRUE(bKilled ? holder.Kill() : holder.Release());
        CQZMutex::CLock* pLock = mutex.Lock(10000);
        ASSERT_NE(pLock, nullptr);
        EXPECT_EQ(mutex.WasAbandoned() != FALSE, bKilled);
        EXPECT_TRUE(mutex.Unlock(pLock));
    }
    // Usable as ever after a holder died, by this process and by others.
    CQZMutex::CLock* pLock = mutex.Lock(0);
    ASSERT_NE(pLock, nullptr);
    EXPECT_FALSE(mutex.WasAbandoned());
    EXPECT_TRUE(mutex.Unlock(pLock));
    Holder next(Name());
    EXPECT_TRUE(next.Holds());
    EXPECT_TRUE(next.Release());
}

TEST_F(QZMutexTest, AScopedProcessSharesTheNameOnlyWithItsScope) {
    Holder holder(Name());  // holds the system-wide mutex
    ASSERT_TRUE(holder.Holds());
    kelvara::platform::SetNamedMutexScope(std::string(Name()) + "-scope");
    {
        CQZMutex scoped(Name());
        CQZMutex::CLock* pLock = scoped.Lock(0);
        EXPECT_NE(pLock, nullptr) << "a scope of its own is not held by the other process";
        scoped.Unlock(pLock);
        EXPECT_TRUE(kelvara::platform::RemoveNamedMutex(Name()));
    }
    kelvara::platform::SetNamedMutexScope("");
    {
        CQZMutex shared(Name());
        EXPECT_EQ(shared.Lock(0), nullptr) << "back in the system-wide scope";
    }
    EXPECT_TRUE(holder.Release());
}

}  // namespace
