// The data-server double's live objects and references at one moment, to
// compare with what a call leaves behind.
#pragma once

#include "VarHubControl.h"

#include <gtest/gtest.h>

#include <string>

namespace pvt::test {

struct HubCounts {
    LONG objects = VarHub_LiveObjects();
    LONG references = VarHub_References();
};

inline void ExpectHubCounts(const HubCounts& before, const std::string& what) {
    const HubCounts now;
    EXPECT_EQ(before.objects, now.objects) << what << ": data-server objects";
    EXPECT_EQ(before.references, now.references) << what << ": data-server references";
}

}  // namespace pvt::test
