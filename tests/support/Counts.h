// What a call must leave as it found it: the module lock count, the
// data-server double's objects and references, and the fakes' objects and
// references, taken at one moment.
#pragma once

#include "com/ComModule.h"
#include "doubles/Fakes.h"
#include "doubles/HubCounts.h"

#include <gtest/gtest.h>

#include <string>

namespace pvt::test {

struct Counts {
    LONG lock = Module().GetLockCount();
    HubCounts hub;
    LONG fakeObjects = FakeCounters::LiveObjects();
    LONG fakeReferences = FakeCounters::References();
};

inline void ExpectCounts(const Counts& before, const std::string& what) {
    const Counts now;
    EXPECT_EQ(before.lock, now.lock) << what << ": module lock count";
    ExpectHubCounts(before.hub, what);
    EXPECT_EQ(before.fakeObjects, now.fakeObjects) << what << ": fake objects";
    EXPECT_EQ(before.fakeReferences, now.fakeReferences) << what << ": fake references";
}

}  // namespace pvt::test
