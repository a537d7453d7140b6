// Frame times of recordings in every format made at the link's limit: microsecond stamps spread over the
// packets of each read, never going back, and spanning the time the simulator took.
#include <gtest/gtest.h>

#include <algorithm>

#include "SeeedSimulator.h"
#include "record/RecordReader.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"
#include "support/Sanitizer.h"

TEST(FrameTimes, AtTheLinkLimitGapsAreTheLinksAndNeverNegative)
{
    TempDir dir;
    const std::vector<std::string> formats = {"candump", "asc", "blf", "pcap", "trc"};
    std::vector<std::unique_ptr<TSeeedSimulator>> sims;
    std::vector<std::unique_ptr<TChild>> dumps;
    for (const auto& format : formats) {
        TSeeedSimOptions options;
        options.FramesPerSecond = 10000;
        sims.push_back(std::make_unique<TSeeedSimulator>(options));
        ASSERT_TRUE(sims.back()->Start()) << sims.back()->LastError();
        dumps.push_back(std::make_unique<TChild>(
            std::vector<std::string>{TCM_CAN_DUMP_EXE, "--port", sims.back()->PortPath(), "--format", format,
                                     "--output", dir.File("times." + format), "--frames", "4000"}));
    }
    for (size_t i = 0; i < formats.size(); ++i) {
        SCOPED_TRACE(formats[i]);
        ASSERT_EQ(dumps[i]->WaitExit(20000), 0) << dumps[i]->ErrText;
        std::string error;
        auto reader = OpenRecordReader(dir.File("times." + formats[i]), error);
        ASSERT_TRUE(reader) << error;
        std::vector<int64_t> gaps;
        TRecordFrame r;
        int64_t first = 0;
        int64_t last = 0;
        while (reader->Next(r)) {
            if (first == 0)
                first = r.WallUs;
            else
                gaps.push_back(r.WallUs - last);
            last = r.WallUs;
        }
        ASSERT_EQ(gaps.size(), 3999u);
        EXPECT_GE(*std::min_element(gaps.begin(), gaps.end()), 0);
        std::nth_element(gaps.begin(), gaps.begin() + gaps.size() / 2, gaps.end());
        EXPECT_NEAR(gaps[gaps.size() / 2], 100, 20);
        // The simulator sends a frame every 100 us by its own clock; a loaded machine may hold
        // the last reads back a little.
        if (!tcmtest::kSanitized) {
            EXPECT_NEAR(last - first, 3999 * 100, 250000);
        }
    }
}
