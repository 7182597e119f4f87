// CQZMutex: exclusion across threads and processes, and recovery from a
// holder that died.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
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
// killed): it sends 'L' once it holds it, and exits with 0 once it unlocked.
class Holder {
public:
    explicit Holder(const char* pszName) {
        EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, m_fds), 0);
        m_pid = fork();
        if (m_pid == 0) {
            CQZMutex mutex(pszName);
            CQZMutex::CLock* pLock = mutex.Lock();
            char c = pLock ? 'L' : 'F';
            const bool bReleased = write(m_fds[1], &c, 1) == 1 && read(m_fds[1], &c, 1) == 1;
            _exit(bReleased && mutex.Unlock(pLock) ? 0 : 1);
        }
        close(m_fds[1]);  // so that a child gone early reads as the end
    }
    ~Holder() { close(m_fds[0]); }
    bool Holds() {
        char c = 0;
        return m_pid > 0 && read(m_fds[0], &c, 1) == 1 && c == 'L';
    }
    // Lets the child unlock and exit; true when it unlocked.
    bool Release() {
        const char c = 'u';
        return write(m_fds[0], &c, 1) == 1 && Reap() == 0;
    }
    bool Kill() {
        const int status = kill(m_pid, SIGKILL) == 0 ? Reap() : -1;
        return status != -1 && WIFSIGNALED(status);
    }

private:
    int Reap() {
        int status = 0;
        return waitpid(m_pid, &status, 0) == m_pid ? status : -1;
    }
    int m_fds[2] = {-1, -1};
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
    // After a holder died, the next lock is an ordinary one.
    CQZMutex::CLock* pLock = mutex.Lock(0);
    ASSERT_NE(pLock, nullptr);
    EXPECT_FALSE(mutex.WasAbandoned());
    EXPECT_TRUE(mutex.Unlock(pLock));
}

}  // namespace
