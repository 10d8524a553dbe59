// Base fixture of every test that creates host objects or correlations: it
// resets the data-server double and checks at the end that live objects and
// references of every double are back where they started and that the
// module lock count is 0.
#pragma once

#include "VarHubControl.h"
#include "com/ComModule.h"
#include "doubles/Fakes.h"
#include "support/AllocationFailure.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pvt::test {

class HostFixture : public ::testing::Test {
protected:
    void SetUp() override {
        VarHub_Reset();
        hubObjects_ = VarHub_LiveObjects();
        hubReferences_ = VarHub_References();
        fakeObjects_ = FakeCounters::LiveObjects();
        fakeReferences_ = FakeCounters::References();
    }

    void TearDown() override {
        VarHub_Reset();
        EXPECT_EQ(hubObjects_, VarHub_LiveObjects()) << "data-server objects leaked";
        EXPECT_EQ(hubReferences_, VarHub_References()) << "data-server references leaked";
        EXPECT_EQ(fakeObjects_, FakeCounters::LiveObjects()) << "host doubles leaked";
        EXPECT_EQ(fakeReferences_, FakeCounters::References()) << "host double references";
        EXPECT_EQ(0, Module().GetLockCount()) << "module lock count";
    }

    // The double's log, one entry per call; with calls only, releases left out.
    static std::vector<std::string> Log(bool withReleases = true) {
        std::vector<std::string> lines;
        std::string text = VarHub_Log();
        std::size_t start = 0;
        while (start < text.size()) {
            std::size_t end = text.find('\n', start);
            std::string line = text.substr(start, end - start);
            if (withReleases || line.find(".Release()") == std::string::npos) {
                lines.push_back(line);
            }
            start = end + 1;
        }
        return lines;
    }

    // Only the entries that contain needle.
    static std::vector<std::string> LogWith(const std::string& needle) {
        std::vector<std::string> lines;
        for (const std::string& line : Log()) {
            if (line.find(needle) != std::string::npos) lines.push_back(line);
        }
        return lines;
    }

private:
    LONG hubObjects_ = 0;
    LONG hubReferences_ = 0;
    LONG fakeObjects_ = 0;
    LONG fakeReferences_ = 0;
};

}  // namespace pvt::test
