// Named mutexes of a test program's own.
//
// The ARCNET port's list mutexes are named system-wide, and the tests hold
// them inside driver hooks for as long as a test needs. Two test programs
// running at once (ctest -j, or two checkouts on one machine) would then
// hold up each other's poll threads. Including this header puts the
// program's names into a scope of its own process for the whole run and
// removes the mutexes it used afterwards.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "kelvara/platform/NamedMutex.h"

namespace testsupport {

class CNamedMutexScope : public ::testing::Environment {
public:
    void SetUp() override {
        kelvara::platform::SetNamedMutexScope("kelvara-test-" + std::to_string(getpid()));
    }
    void TearDown() override {
        for (const char* pszName :
             {"ARCQZPollListMutex", "ARCQZWriteListMutex", "ARCQZPacketListMutex"}) {
            kelvara::platform::RemoveNamedMutex(pszName);
        }
        kelvara::platform::SetNamedMutexScope("");
    }
};

// Registered once per program, before main runs the tests.
inline ::testing::Environment* const g_pNamedMutexScope =
    ::testing::AddGlobalTestEnvironment(new CNamedMutexScope);

}  // namespace testsupport
