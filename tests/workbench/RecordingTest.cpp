// The recording's text form: what the player and the host's --record agree
// on. A damaged or cut file must be refused with the line that is wrong.
#include <gtest/gtest.h>

#include <kelvara/Kelvara.h>

#include <string>

namespace {

using kelvara::replay::Exchange;
using kelvara::replay::Recording;

TEST(Recording, ReadsRequestsRepliesTimesAndSilences) {
    Recording recording;
    std::string error;
    ASSERT_TRUE(
        recording.Parse("# made by hand\n\nkelvara-recording 1\r\n"
                        "> 5 01 03 00 00 00 02 C4 0b\n"
                        "<   7 01 03 04 03 e8 03 e9 bb 3d  \n"
                        "# a retry\n"
                        "> 20 01 03\n"
                        "< 300 -\n",
                        &error))
        << error;
    ASSERT_EQ(recording.m_exchanges.size(), 2u);
    const Exchange& first = recording.m_exchanges[0];
    EXPECT_EQ(first.dwAtMs, 5u);
    EXPECT_EQ(first.dwDelayMs, 7u);
    EXPECT_EQ(first.request, (std::vector<std::uint8_t>{1, 3, 0, 0, 0, 2, 0xC4, 0x0B}));
    EXPECT_TRUE(first.bReplied);
    EXPECT_EQ(first.reply.size(), 9u);
    EXPECT_FALSE(recording.m_exchanges[1].bReplied);
    EXPECT_EQ(recording.m_exchanges[1].dwDelayMs, 300u);
}

TEST(Recording, FormatReadsBackToTheSameExchanges) {
    Recording recording;
    recording.m_exchanges.push_back({{0x00, 0xFF, 0x10}, {0xAB}, true, 0, 12});
    recording.m_exchanges.push_back({{0x7F}, {}, false, 4294967295u, 0});
    Recording again;
    std::string error;
    ASSERT_TRUE(again.Parse(recording.Format(), &error)) << error;
    EXPECT_EQ(again.m_exchanges, recording.m_exchanges);
}

struct BadRecording {
    const char* pszText;
    const char* pszLine;  // how the message starts
};

class RecordingRefuses : public testing::TestWithParam<BadRecording> {};

TEST_P(RecordingRefuses, NamesTheLineAndKeepsNothing) {
    Recording recording;
    recording.m_exchanges.push_back({{1}, {2}, true, 0, 0});
    std::string error;
    EXPECT_FALSE(recording.Parse(GetParam().pszText, &error));
    EXPECT_EQ(error.rfind(GetParam().pszLine, 0), 0u) << error;
    EXPECT_TRUE(recording.m_exchanges.empty());
}

INSTANTIATE_TEST_SUITE_P(
    DamagedOrCut, RecordingRefuses,
    testing::Values(BadRecording{"", "line 1: not a recording"},
                    BadRecording{"> 0 01\n< 0 02\n", "line 1: not a recording"},
                    BadRecording{"kelvara-recording 2\n", "line 1:"},
                    BadRecording{"kelvara-recording 1\n> 0 01 02\n", "line 2: the last request"},
                    BadRecording{"kelvara-recording 1\n> 0 01\n> 0 02\n< 0 -\n", "line 3:"},
                    BadRecording{"kelvara-recording 1\n< 0 01\n", "line 2: a reply without"},
                    BadRecording{"kelvara-recording 1\n> x 01\n< 0 -\n", "line 2: a time"},
                    BadRecording{"kelvara-recording 1\n> 99999999999 01\n< 0 -\n",
                                 "line 2: a time"},
                    BadRecording{"kelvara-recording 1\n> 0 1\n< 0 -\n", "line 2: \"1\" is not"},
                    BadRecording{"kelvara-recording 1\n> 0 0g\n< 0 -\n", "line 2:"},
                    BadRecording{"kelvara-recording 1\n> 0\n< 0 -\n", "line 2: a request without"},
                    BadRecording{"kelvara-recording 1\n> 0 01\n< 0\n", "line 3: a reply without"},
                    BadRecording{"kelvara-recording 1\n> 0 01\n< 0 - 02\n", "line 3: unexpected"},
                    BadRecording{"kelvara-recording 1\n> 0 01\nTX01\n", "line 3: a line must"}));

TEST(Recording, RefusesAFrameLongerThanTheLimit) {
    std::string text = "kelvara-recording 1\n> 0";
    for (std::size_t i = 0; i <= Recording::kMaxFrameBytes; ++i) {
        text += " 00";
    }
    Recording recording;
    std::string error;
    EXPECT_FALSE(recording.Parse(text + "\n< 0 -\n", &error));
    EXPECT_NE(error.find("65536"), std::string::npos) << error;
}

}  // namespace
