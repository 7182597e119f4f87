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

// Two pipes between the test and a forked child, one byte per message.
struct Channel {
    int toChild[2];
    int toParent[2];
    Channel() {
        EXPECT_EQ(pipe(toChild), 0);
        EXPECT_EQ(pipe(toParent), 0);
    }
    ~Channel() {
        for (int fd : {toChild[0], toChild[1], toParent[0], toParent[1]}) {
            close(fd);
        }
    }
    static bool Send(int fd, char c) { return write(fd, &c, 1) == 1; }
    static char Receive(int fd) {
        char c = 0;
        return read(fd, &c, 1) == 1 ? c : '\0';
    }
};

// The child locks the mutex, reports 'L', then waits for a byte from the
// parent before unlocking (or is killed while holding it).
pid_t ForkHolder(const char* pszName, Channel& ch) {
    const pid_t pid = fork();
    if (pid == 0) {
        CQZMutex mutex(pszName);
        CQZMutex::CLock* pLock = mutex.Lock();
        Channel::Send(ch.toParent[1], pLock ? 'L' : 'F');
        Channel::Receive(ch.toChild[0]);
        mutex.Unlock(pLock);
        Channel::Send(ch.toParent[1], 'U');
        _exit(0);
    }
    return pid;
}

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
    CQZMutex other((std::string(Name()) + "-other").c_str());
    CQZMutex::CLock* pOuter = mutex.Lock();
    ASSERT_NE(pOuter, nullptr);
    CQZMutex::CLock* pInner = mutex.Lock(0);
    ASSERT_NE(pInner, nullptr);
    EXPECT_FALSE(other.Unlock(pInner));
    EXPECT_FALSE(mutex.Unlock(nullptr));
    EXPECT_TRUE(mutex.Unlock(pInner));
    EXPECT_TRUE(mutex.Unlock(pOuter));
    EXPECT_FALSE(mutex.Unlock(pOuter));  // no hold left
    kelvara::platform::RemoveNamedMutex(std::string(Name()) + "-other");
}

TEST_F(QZMutexTest, AnotherProcessHoldingItKeepsUsOutUntilItUnlocks) {
    Channel ch;
    const pid_t pid = ForkHolder(Name(), ch);
    ASSERT_GT(pid, 0);
    ASSERT_EQ(Channel::Receive(ch.toParent[0]), 'L');

    CQZMutex mutex(Name());
    EXPECT_EQ(mutex.Lock(0), nullptr);
    EXPECT_EQ(mutex.Lock(20), nullptr);

    ASSERT_TRUE(Channel::Send(ch.toChild[1], 'u'));
    ASSERT_EQ(Channel::Receive(ch.toParent[0]), 'U');
    CQZMutex::CLock* pLock = mutex.Lock(10000);
    ASSERT_NE(pLock, nullptr);
    EXPECT_FALSE(mutex.WasAbandoned());
    EXPECT_TRUE(mutex.Unlock(pLock));

    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status));
}

TEST_F(QZMutexTest, AHolderKilledWhileHoldingItLeavesItToBeTakenAgain) {
    Channel ch;
    const pid_t pid = ForkHolder(Name(), ch);
    ASSERT_GT(pid, 0);
    ASSERT_EQ(Channel::Receive(ch.toParent[0]), 'L');
    CQZMutex mutex(Name());
    EXPECT_EQ(mutex.Lock(0), nullptr);

    ASSERT_EQ(kill(pid, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status));

    CQZMutex::CLock* pLock = mutex.Lock(10000);
    ASSERT_NE(pLock, nullptr);
    EXPECT_TRUE(mutex.WasAbandoned());
    EXPECT_TRUE(mutex.Unlock(pLock));
    // Usable as ever afterwards, by this process and by others.
    pLock = mutex.Lock(0);
    ASSERT_NE(pLock, nullptr);
    EXPECT_FALSE(mutex.WasAbandoned());
    EXPECT_TRUE(mutex.Unlock(pLock));

    Channel again;
    const pid_t next = ForkHolder(Name(), again);
    ASSERT_GT(next, 0);
    EXPECT_EQ(Channel::Receive(again.toParent[0]), 'L');
    ASSERT_TRUE(Channel::Send(again.toChild[1], 'u'));
    ASSERT_EQ(waitpid(next, &status, 0), next);
}

TEST_F(QZMutexTest, NamesThatAreNoFileNamesStillWork) {
    const std::string odd = std::string(Name()) + "/with slashes\\and " + std::string(300, 'x');
    CQZMutex mutex(odd.c_str());
    ASSERT_TRUE(mutex.IsValid());
    CQZMutex::CLock* pLock = mutex.Lock(0);
    ASSERT_NE(pLock, nullptr);
    EXPECT_TRUE(mutex.Unlock(pLock));
    EXPECT_TRUE(kelvara::platform::RemoveNamedMutex(odd));
}

TEST_F(QZMutexTest, AScopedProcessSharesTheNameOnlyWithItsScope) {
    Channel ch;
    const pid_t pid = ForkHolder(Name(), ch);  // holds the system-wide mutex
    ASSERT_GT(pid, 0);
    ASSERT_EQ(Channel::Receive(ch.toParent[0]), 'L');
    const std::string scope = std::string(Name()) + "-scope";

    kelvara::platform::SetNamedMutexScope(scope);
    CQZMutex::CLock* pLock = nullptr;
    {
        CQZMutex scoped(Name());
        pLock = scoped.Lock(0);
        EXPECT_NE(pLock, nullptr) << "a scope of its own is not held by the other process";
        scoped.Unlock(pLock);
        EXPECT_TRUE(kelvara::platform::RemoveNamedMutex(Name()));
    }
    kelvara::platform::SetNamedMutexScope("");
    {
        CQZMutex shared(Name());
        EXPECT_EQ(shared.Lock(0), nullptr) << "back in the system-wide scope";
    }

    ASSERT_TRUE(Channel::Send(ch.toChild[1], 'u'));
    ASSERT_EQ(Channel::Receive(ch.toParent[0]), 'U');
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
}

}  // namespace
