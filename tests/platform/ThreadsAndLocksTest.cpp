#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "CritSecAutoLock.h"
#include "CrossPlatform.h"
#include "TestSupport.h"
#include "XpUtil.h"

namespace {

struct Counter {
    std::atomic<int> m_Runs{0};
    static void StaticRun(void* self) { static_cast<Counter*>(self)->m_Runs++; }
};

TEST(Thread, CreateRunsTheFunctionAndRefusesASecondCreateUntilClosed)
{
    Counter counter;
    IXpThread* thread = Xp::Instance()->NewThread();
    EXPECT_EQ(thread->WaitFinished(), KXAPI_E_NOT_INITIALIZED);
    EXPECT_EQ(thread->Create(nullptr, &counter), KXAPI_E_INVALID_ARG);
    ASSERT_EQ(thread->Create(Counter::StaticRun, &counter), KXAPI_OK);
    EXPECT_EQ(thread->Create(Counter::StaticRun, &counter), KXAPI_E_IN_USE);
    EXPECT_EQ(thread->WaitFinished(), KXAPI_OK);
    EXPECT_EQ(thread->WaitFinished(), KXAPI_OK); // a second join returns at once
    EXPECT_EQ(counter.m_Runs.load(), 1);
    EXPECT_EQ(thread->Close(), KXAPI_OK);
    ASSERT_EQ(thread->Create(Counter::StaticRun, &counter), KXAPI_OK);
    delete thread; // joins
    EXPECT_EQ(counter.m_Runs.load(), 2);
}

TEST(Thread, PriorityNameAndAffinityFollowTheirArgumentRules)
{
    IXpThread* thread = Xp::Instance()->NewThread();
    EXPECT_EQ(thread->SetPriority(THREAD_PRIO_NORMAL), KXAPI_E_NOT_INITIALIZED);
    EXPECT_EQ(thread->SetPriority(0, 0), KXAPI_E_NOT_INITIALIZED);
    IXpEvent* release = Xp::Instance()->NewEvent();
    ASSERT_EQ(release->Init(true), KXAPI_OK);
    ASSERT_EQ(thread->Create([](void* event) { static_cast<IXpEvent*>(event)->Wait(); }, release), KXAPI_OK);
    EXPECT_EQ(thread->SetPriority(static_cast<ThreadPrioLevel>(6)), KXAPI_E_INVALID_ARG);
    EXPECT_EQ(thread->SetPriority(3, 0), KXAPI_E_INVALID_ARG);
    EXPECT_EQ(thread->SetPriority(THREAD_PRIO_LOW), KXAPI_OK); // lowering needs no privilege
    EXPECT_EQ(thread->SetName("a-rather-long-thread-name"), KXAPI_OK);
    EXPECT_EQ(thread->SetAffinity({0, 5000}), KXAPI_OK);
    EXPECT_EQ(thread->SetAffinity({}), KXAPI_OK); // refused by the system, still OK
    release->Set();
    delete thread;
    delete release;
}

TEST(Event, AutoResetIsConsumedByOneWaitAndManualResetStaysSet)
{
    IXpEvent* event = Xp::Instance()->NewEvent();
    EXPECT_EQ(event->Set(), KXAPI_E_NOT_INITIALIZED);
    EXPECT_EQ(event->WaitTimeout(0), KXAPI_E_NOT_INITIALIZED);
    ASSERT_EQ(event->Init(false), KXAPI_OK);
    EXPECT_EQ(event->Init(false), KXAPI_E_IN_USE);
    EXPECT_EQ(event->WaitTimeout(0), KXAPI_E_TIMEOUT);
    event->Set();
    EXPECT_EQ(event->WaitTimeout(0), KXAPI_OK);
    EXPECT_EQ(event->WaitTimeout(0), KXAPI_E_TIMEOUT); // consumed
    event->Set();
    event->Reset();
    EXPECT_EQ(event->WaitTimeout(0), KXAPI_E_TIMEOUT);
    delete event;

    IXpEvent* manual = Xp::Instance()->NewEvent();
    ASSERT_EQ(manual->Init(true), KXAPI_OK);
    manual->Set();
    EXPECT_EQ(manual->Wait(), KXAPI_OK);
    EXPECT_EQ(manual->WaitTimeout(0), KXAPI_OK);
    EXPECT_EQ(manual->WaitTimeout(10), KXAPI_OK);
    manual->Reset();
    EXPECT_EQ(manual->WaitTimeout(0), KXAPI_E_TIMEOUT);
    EXPECT_EQ(manual->Close(), KXAPI_OK);
    EXPECT_EQ(manual->Set(), KXAPI_E_NOT_INITIALIZED);
    delete manual;
}

TEST(Event, SetWakesEveryWaiterAndATimedWaitEndsNearItsDeadline)
{
    IXpEvent* event = Xp::Instance()->NewEvent();
    ASSERT_EQ(event->Init(true), KXAPI_OK);
    std::atomic<int> woken{0};
    struct Waiter {
        IXpEvent* m_pEvent;
        std::atomic<int>* m_pWoken;
        static void StaticRun(void* self)
        {
            auto* waiter = static_cast<Waiter*>(self);
            if (waiter->m_pEvent->Wait() == KXAPI_OK)
                (*waiter->m_pWoken)++;
        }
    } waiter{event, &woken};
    IXpThread* threads[3];
    for (IXpThread*& thread : threads) {
        thread = Xp::Instance()->NewThread();
        ASSERT_EQ(thread->Create(Waiter::StaticRun, &waiter), KXAPI_OK);
    }
    event->Set();
    for (IXpThread* thread : threads)
        delete thread;
    EXPECT_EQ(woken.load(), 3);

    IXpEvent* clear = Xp::Instance()->NewEvent();
    ASSERT_EQ(clear->Init(false), KXAPI_OK);
    unsigned int start = XpUtil::GetTickCount();
    EXPECT_EQ(clear->WaitTimeout(150), KXAPI_E_TIMEOUT);
    unsigned int elapsed = XpUtil::GetTickCount() - start;
    EXPECT_GE(elapsed, 140u);
    EXPECT_LT(elapsed, 2000u);
    delete clear;
    delete event;
}

TEST(CritSec, IsRecursiveAndExcludesOtherThreadsUntilFullyUnlocked)
{
    IXpCritSec* lock = Xp::Instance()->NewCritSec();
    EXPECT_EQ(lock->Lock(), KXAPI_E_NOT_INITIALIZED);
    ASSERT_EQ(lock->Init(), KXAPI_OK);
    EXPECT_EQ(lock->Init(), KXAPI_E_IN_USE);
#ifndef __SANITIZE_THREAD__ // the race detector rightly reports the deliberate misuse
    EXPECT_EQ(lock->Unlock(), KXAPI_E_NOT_LOCKED);
#endif
    ASSERT_EQ(lock->Lock(), KXAPI_OK);
    ASSERT_EQ(lock->Lock(), KXAPI_OK);

    struct Contender {
        IXpCritSec* m_pLock;
        std::atomic<bool> m_Got{false};
        static void StaticRun(void* self)
        {
            auto* contender = static_cast<Contender*>(self);
            contender->m_pLock->Lock();
            contender->m_Got = true;
            contender->m_pLock->Unlock();
        }
    } contender{lock};
    IXpThread* thread = Xp::Instance()->NewThread();
    ASSERT_EQ(thread->Create(Contender::StaticRun, &contender), KXAPI_OK);
    XpUtil::Sleep(50);
    EXPECT_FALSE(contender.m_Got.load());
    lock->Unlock();
    XpUtil::Sleep(50);
    EXPECT_FALSE(contender.m_Got.load()); // still held once
    lock->Unlock();
    thread->WaitFinished();
    EXPECT_TRUE(contender.m_Got.load());
    delete thread;
    delete lock;
}

TEST(CritSec, ScopedLockReleasesOnEveryPathAndOnlyOnce)
{
    IXpCritSec* lock = Xp::Instance()->NewCritSec();
    ASSERT_EQ(lock->Init(), KXAPI_OK);
    ASSERT_EQ(lock->Lock(), KXAPI_OK); // held once outside the scopes
    {
        CritSecAutoLock scoped(lock);
        EXPECT_TRUE(scoped.IsLocked());
        scoped.Unlock();
        EXPECT_FALSE(scoped.IsLocked());
    } // no second unlock here
    {
        CritSecAutoLock scoped(lock);
    }
    {
        CritSecAutoLock scoped(nullptr);
        EXPECT_FALSE(scoped.IsLocked());
    }
    EXPECT_EQ(lock->Unlock(), KXAPI_OK); // the outer hold is still there, exactly once

    // Nothing is left locked: another thread takes the lock at once.
    struct Taker {
        IXpCritSec* m_pLock;
        static void StaticRun(void* self)
        {
            auto* taker = static_cast<Taker*>(self);
            taker->m_pLock->Lock();
            taker->m_pLock->Unlock();
        }
    } taker{lock};
    IXpThread* thread = Xp::Instance()->NewThread();
    ASSERT_EQ(thread->Create(Taker::StaticRun, &taker), KXAPI_OK);
    unsigned int start = XpUtil::GetTickCount();
    thread->WaitFinished();
    EXPECT_LT(XpUtil::GetTickCount() - start, 500u);
    delete thread;
    delete lock;
}

TEST(NamedMutex, ExcludesBetweenProcessesThroughTheKeyText)
{
    kxtest::ScopedIpcDirectory dir;
    IXpNamedMutex* mutex = Xp::Instance()->NewNamedMutex();
    char key[32];
    EXPECT_EQ(mutex->GetKey(key, sizeof(key)), KXAPI_E_NOT_INITIALIZED);
    EXPECT_EQ(mutex->Lock(0), KXAPI_E_NOT_INITIALIZED);
    ASSERT_EQ(mutex->CreateNew("TestMutex"), KXAPI_OK);
    EXPECT_EQ(mutex->CreateNew("TestMutex"), KXAPI_E_IN_USE);
    EXPECT_EQ(kxtest::ReadFile(dir.File("sem.TestMutex")), ""); // empty key file
    ASSERT_EQ(mutex->GetKey(key, sizeof(key)), KXAPI_OK);
    ASSERT_EQ(mutex->Lock(0), KXAPI_OK);

    int toChild[2], toParent[2];
    ASSERT_EQ(pipe(toChild), 0);
    ASSERT_EQ(pipe(toParent), 0);
    pid_t pid = fork();
    if (pid == 0) {
        IXpNamedMutex* other = Xp::Instance()->NewNamedMutex();
        char verdict = 'x';
        if (other->OpenExisting(key) == KXAPI_OK && other->Lock(0) == KXAPI_E_TIMEOUT)
            verdict = 'b'; // blocked while the parent holds it
        if (write(toParent[1], &verdict, 1) != 1)
            _exit(2);
        char go;
        if (read(toChild[0], &go, 1) != 1)
            _exit(2);
        verdict = other->Lock(2000) == KXAPI_OK ? 'g' : 'x';
        other->Unlock();
        if (write(toParent[1], &verdict, 1) != 1)
            _exit(2);
        _exit(0);
    }
    char verdict = 0;
    ASSERT_EQ(read(toParent[0], &verdict, 1), 1);
    EXPECT_EQ(verdict, 'b');
    mutex->Unlock();
    ASSERT_EQ(write(toChild[1], "g", 1), 1);
    ASSERT_EQ(read(toParent[0], &verdict, 1), 1);
    EXPECT_EQ(verdict, 'g');
    waitpid(pid, nullptr, 0);
    for (int fd : {toChild[0], toChild[1], toParent[0], toParent[1]})
        close(fd);

    IXpNamedMutex* byKey = Xp::Instance()->NewNamedMutex();
    EXPECT_EQ(byKey->OpenExisting("not-a-number"), KXAPI_E_INVALID_ARG);
    EXPECT_EQ(byKey->OpenExisting(key), KXAPI_OK);
    delete mutex; // the creator removes the semaphore
    IXpNamedMutex* gone = Xp::Instance()->NewNamedMutex();
    EXPECT_EQ(gone->OpenExisting(key), KXAPI_E_NOT_FOUND);
    delete gone;
    delete byKey;
}

TEST(NamedMutex, CreateOrOpenReleasesALockHeldThroughTheSameName)
{
    kxtest::ScopedIpcDirectory dir;
    IXpNamedMutex* first = Xp::Instance()->NewNamedMutex();
    ASSERT_EQ(first->CreateNew("Shared"), KXAPI_OK);
    ASSERT_EQ(first->Lock(0), KXAPI_OK);
    IXpNamedMutex* second = Xp::Instance()->NewNamedMutex();
    ASSERT_EQ(second->CreateOrOpen("Shared"), KXAPI_OK);
    char key1[32], key2[32];
    first->GetKey(key1, sizeof(key1));
    second->GetKey(key2, sizeof(key2));
    EXPECT_STREQ(key1, key2);
    EXPECT_EQ(second->Lock(0), KXAPI_OK); // value reset to free
    delete second;
    delete first;
}

TEST(NamedMutex, NeverFollowsALinkPlantedAtTheKeyFilePath)
{
    kxtest::ScopedIpcDirectory dir;
    std::string victim = dir.File("victim");
    FILE* file = fopen(victim.c_str(), "w");
    fputs("precious", file);
    fclose(file);
    ASSERT_EQ(symlink(victim.c_str(), dir.File("sem.Planted").c_str()), 0);
    IXpNamedMutex* mutex = Xp::Instance()->NewNamedMutex();
    ASSERT_EQ(mutex->CreateNew("Planted"), KXAPI_OK);
    EXPECT_EQ(kxtest::ReadFile(victim), "precious");
    struct stat info {};
    ASSERT_EQ(lstat(dir.File("sem.Planted").c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    delete mutex;
}

TEST(SharedMemory, CreateOpenAndReplaceFollowTheKeyFile)
{
    kxtest::ScopedIpcDirectory dir;
    IXpSharedMem* creator = Xp::Instance()->NewShMem();
    void* memory = nullptr;
    char key[32];
    EXPECT_EQ(creator->GetKey(key, sizeof(key)), KXAPI_E_NOT_INITIALIZED);
    ASSERT_EQ(creator->CreateNew("TestBuffer", 4096, memory), KXAPI_OK);
    ASSERT_NE(memory, nullptr);
    EXPECT_EQ(creator->GetMemPtr(), memory);
    EXPECT_EQ(static_cast<unsigned char*>(memory)[100], 0);
    EXPECT_EQ(kxtest::ReadFile(dir.File("TestBuffer")),
              "This file is created by the Korvix KXAPI for its unique inode number and should not be deleted!!!");
    ASSERT_EQ(creator->GetKey(key, sizeof(key)), KXAPI_OK);
    memcpy(memory, "hello", 6);

    IXpSharedMem* reader = Xp::Instance()->NewShMem();
    void* view = nullptr;
    ASSERT_EQ(reader->OpenExisting(key, 4096, view, true), KXAPI_OK);
    EXPECT_STREQ(static_cast<char*>(view), "hello");
    IXpSharedMem* missing = Xp::Instance()->NewShMem();
    EXPECT_EQ(missing->OpenExisting("12345", 4096, view, true), KXAPI_E_NOT_FOUND);
    delete missing;

    // A second CreateNew of the same name replaces the key file and gets a new key.
    IXpSharedMem* replacement = Xp::Instance()->NewShMem();
    void* other = nullptr;
    ASSERT_EQ(replacement->CreateNew("TestBuffer", 4096, other), KXAPI_OK);
    char key2[32];
    replacement->GetKey(key2, sizeof(key2));
    EXPECT_STRNE(key, key2);
    delete replacement;
    EXPECT_NE(access(dir.File("TestBuffer").c_str(), F_OK), 0); // the creator removed its key file
    delete reader;
    delete creator;
    IXpSharedMem* after = Xp::Instance()->NewShMem();
    EXPECT_EQ(after->OpenExisting(key, 4096, view, true), KXAPI_E_NOT_FOUND);
    delete after;
}

TEST(XpUtilTest, TickDifferencesSurviveTheWrapAndSprintfNeverOverruns)
{
    unsigned int before = 0xFFFFFF00u;
    unsigned int after = 0x00000010u;
    EXPECT_EQ(after - before, 0x110u);
    unsigned int t0 = XpUtil::GetTickCount();
    XpUtil::Sleep(20);
    EXPECT_GE(XpUtil::GetTickCount() - t0, 19u);

    char buffer[8];
    memset(buffer, 'x', sizeof(buffer));
    EXPECT_EQ(XpUtil::Sprintf(buffer, 4, "%s", "abcdef"), KXAPI_E_BUF_TOO_SMALL);
    EXPECT_EQ(buffer[4], 'x');
    EXPECT_EQ(XpUtil::Sprintf(buffer, 8, "%d", 1234567), KXAPI_OK);
    EXPECT_STREQ(buffer, "1234567");
    EXPECT_EQ(XpUtil::Sprintf(buffer, 7, "%d", 1234567), KXAPI_E_BUF_TOO_SMALL);
    EXPECT_EQ(XpUtil::Sprintf(nullptr, 8, "x"), KXAPI_E_INVALID_ARG);

    char narrow[32];
    EXPECT_EQ(XpUtil::WsToCs(narrow, L"KxGlobalRecvPipe", sizeof(narrow)), KXAPI_OK);
    EXPECT_STREQ(narrow, "KxGlobalRecvPipe");
    wchar_t wide[32];
    EXPECT_EQ(XpUtil::CsToWs(wide, "DemodRecvPipe", 32), KXAPI_OK);
    EXPECT_STREQ(wide, L"DemodRecvPipe");
    EXPECT_EQ(XpUtil::CsToWs(wide, "DemodRecvPipe", 4), KXAPI_E_BUF_TOO_SMALL);
}

TEST(XpUtilTest, AtomicsReturnTheDocumentedValues)
{
    long value = 5;
    EXPECT_EQ(XpUtil::AtomicIncrement(&value), 6);
    EXPECT_EQ(XpUtil::AtomicDecrement(&value), 5);
    EXPECT_EQ(XpUtil::AtomicCompareExchange(&value, 9, 4), 5); // no exchange
    EXPECT_EQ(value, 5);
    EXPECT_EQ(XpUtil::AtomicCompareExchange(&value, 9, 5), 5);
    EXPECT_EQ(value, 9);
    EXPECT_EQ(XpUtil::AtomicSet(&value, 1), 9);
    EXPECT_EQ(value, 1);
}

} // namespace
