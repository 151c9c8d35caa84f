// Station mode's bookkeeping: which jobs run, and what their reports are called.
#include "cli/station.h"

#include <gtest/gtest.h>

namespace orvane::app {
namespace {

StationJob Job(std::string label, std::string device = {}) {
    return {std::move(label), {}, std::move(device)};
}

TEST(StationTest, ReportNamesAreSafeAndNeverCollide) {
    struct Case {
        const char* name;
        std::vector<std::string> labels;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"ports and simulations",
         {"COM3", "/dev/ttyUSB0", "sim1 K64E"},
         {"COM3.json", "_dev_ttyUSB0.json", "sim1_K64E.json"}},
        {"same after the replacement",
         {"a/b", "a b", "a_b"},
         {"a_b.json", "a_b-2.json", "a_b-3.json"}},
        {"letter case ignored", {"COM3", "com3"}, {"COM3.json", "com3-2.json"}},
        {"three the same", {"x", "x", "x"}, {"x.json", "x-2.json", "x-3.json"}},
        {"one mark per character", {"\xC3\x84rger", "\xE2\x80\xAE"}, {"_rger.json", "_.json"}},
    };
    for (const Case& c : cases) {
        std::vector<StationJob> jobs;
        for (const std::string& label : c.labels)
            jobs.push_back(Job(label));
        EXPECT_EQ(ReportNames(jobs), c.expected) << c.name;
    }
}

TEST(StationTest, ADeviceGivenTwiceRunsOnceWithANote) {
    const std::vector<StationJob> jobs = {Job("COM3", "/dev/ttyUSB0"),
                                          Job("/dev/ttyUSB0", "/dev/ttyUSB0"),
                                          Job("COM3", "/dev/ttyUSB0"),
                                          Job("sim1 K64E"),
                                          Job("sim2 K64E"),
                                          Job("COM4", "/dev/ttyUSB1")};
    std::vector<std::string> notes;
    const auto unique = UniqueJobs(jobs, &notes);
    std::vector<std::string> labels;
    for (const StationJob& job : unique)
        labels.push_back(job.label);
    EXPECT_EQ(labels, (std::vector<std::string>{"COM3", "sim1 K64E", "sim2 K64E", "COM4"}));
    EXPECT_EQ(notes, (std::vector<std::string>{
                         "/dev/ttyUSB0 is the same port as COM3; it is updated once.",
                         "COM3 is given twice; it is updated once."}));
}

} // namespace
} // namespace orvane::app
