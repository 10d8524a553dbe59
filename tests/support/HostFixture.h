// Base fixture of every test that creates host objects or correlations: it
// resets the data-server double and checks at the end that live objects and
// references of every double are back where they started and that the
// module lock count is 0.
#pragma once

#include "VarHubControl.h"
#include "com/ComModule.h"
#include "doubles/Fakes.h"
#include "support/AllocationFailure.h"
#include "support/Counts.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pvt::test {

class HostFixture : public ::testing::Test {
protected:
    void SetUp() override {
        VarHub_Reset();
        before_ = Counts();
    }

    void TearDown() override {
        VarHub_Reset();
        ExpectCounts(before_, "at the end of the test");
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
    Counts before_;
};

}  // namespace pvt::test
