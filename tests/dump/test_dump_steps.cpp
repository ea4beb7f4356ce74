// The poll steps of a dump in virtual time: a read happens as soon as a CR has come in, never
// earlier, and the deadlines of silent or incomplete answers stay as they were.
#include "device_model.h"
#include "dump_fixture.h"

#include <map>

namespace veldar::test {
namespace {

// A device played by the test: each answer comes a set time after the program's nth write.
class StepTest : public DumpTest {
protected:
    struct Answer {
        std::int64_t afterMs;
        ByteString bytes;
    };

    void Script(std::vector<std::vector<Answer>> answersToWrites) {
        host.Choices.AutoFileName = true; // no name to wait for
        script = std::move(answersToWrites);
        host.OnTime = [this](std::int64_t now) {
            if (!line->TakeInput(VirtualLine::B).empty() && writes < script.size()) {
                for (const auto& a : script[writes])
                    due.emplace(now + a.afterMs, a.bytes);
                ++writes;
            }
            while (!due.empty() && due.begin()->first <= now) {
                line->Deliver(VirtualLine::A, due.begin()->second);
                due.erase(due.begin());
            }
        };
    }

    static std::size_t Dots(const ByteString& logLine) { return logLine.find_first_not_of('.'); }

    std::vector<std::vector<Answer>> script;
    std::size_t writes = 0;
    std::multimap<std::int64_t, ByteString> due;
    const std::int64_t endPause = 1500; // after the save
};

TEST_F(StepTest, EachAnswerIsReadWhenItsCrArrives) {
    const ByteString first = devsim::EncodeRecord('0', "premier", false);
    const ByteString second = devsim::EncodeRecord('1', "second", false);
    Script({
        // "LOAD": acknowledged at 2 ms, the first record 1 ms later.
        {{2, "ACK\r"}, {3, first}},
        // Its "ACK": the next record only 30 ms later.
        {{30, second}},
        {{1, "OVER\r"}},
    });
    engine.RunDump(false);

    EXPECT_EQ(state.CaptureText, "premier\r\nsecond\r\n");
    ASSERT_EQ(host.Log.size(), 6u);
    // Reads at 0 and 1 ms; then at 0, 4, 12, 24 and 30 ms.
    EXPECT_EQ(Dots(host.Log[0]), 2u);
    EXPECT_EQ(Dots(host.Log[2]), 5u);
    EXPECT_EQ(Dots(host.Log[4]), 2u);
    EXPECT_EQ(host.SleptMs, 2 + 1 + 30 + 1 + endPause);
}

TEST_F(StepTest, ARecordWithoutItsCrStillHasElevenReadsIn220Ms) {
    Script({
        {{2, "ACK\r"}, {3, "0sans fin"}},
        {{1, "OVER\r"}},
    });
    engine.RunDump(false);

    EXPECT_EQ(state.CaptureText, "");
    ASSERT_GE(host.Log.size(), 1u);
    EXPECT_EQ(host.Log[0], "...........Requete: NAK\r");
    EXPECT_EQ(host.SleptMs, 2 + 220 + 1 + endPause);
}

TEST_F(StepTest, AnAcknowledgementWithoutCrIsStillMissedAfterItsReads) {
    std::vector<std::vector<Answer>> answers(10, {{2, "ACK"}});
    Script(answers);
    engine.RunDump(false);

    EXPECT_EQ(engine.LastDump().End, DumpEnd::NoAcknowledgement);
    // Each request: read at 0, then at the end of the full 5 ms step.
    EXPECT_EQ(host.SleptMs, 10 * 5);
}

} // namespace
} // namespace veldar::test
