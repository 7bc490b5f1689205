// A whole Send with every file-system operation failing in turn: each run
// ends with the exact reply and the success message, or with Result false and
// a message naming the failure, and leaves no work file behind.
#include <gtest/gtest.h>

#include "../FaultSweep.h"
#include "EngineTestSupport.h"
#include "engine/EngineTexts.h"

namespace nuva {
namespace {

using test::A;

[[maybe_unused]] ::testing::Environment* const kCom =
    ::testing::AddGlobalTestEnvironment(new test::TComEnvironment);

class TSendSweep : public test::TEngineTest {
  protected:
    // The test components without their call logs: a log is a file too, and
    // the sweep is about the transaction's own files.
    AnsiString SweepConfig(int threads) const {
        return "<CONFIG><THREADS>" + std::to_string(threads) + "</THREADS><SEND_FILE_PATH>" + XmlEscape(send_) +
               "</SEND_FILE_PATH><RECEIVE_FILE_PATH>" + XmlEscape(receive_) +
               "</RECEIVE_FILE_PATH><NETWORK_COMPONENT>TestNet.dll</NETWORK_COMPONENT>"
               "<CA_COMPONENT>TestCA.dll</CA_COMPONENT><NETWORK></NETWORK><CA></CA></CONFIG>";
    }

    // Runs the sweep of one Send for `error`; returns the fault points swept.
    int64_t SweepSend(TFaultError error) {
        // Two GBK names; one value larger than the pieces values travel in,
        // so that both the archive and the reply read it more than once.
        AnsiString large;
        while (large.size() < 300 * 1024) large += A(u"誠錦") + "<&>\xD5\x7C";
        const AnsiString request =
            Pdu(A(u"誠"), "01", {{A(u"誠.txt"), "a&b"}, {A(u"錦.txt"), large}});
        const test::TSendResult clean = Send(request);
        EXPECT_EQ(clean.result, VARIANT_TRUE) << clean.message;
        const AnsiString succeeded = A(texts::kSucceeded);

        test::TSendResult r;
        return test::SweepFaults(
            "Send", error, [&] { r = Send(request); },
            [&](const test::TFaultRun& run) {
                const std::string where = std::string("fault at operation ") +
                                          std::to_string(run.failAt) + " (" + run.failedOp + ")";
                EXPECT_EQ(r.status, S_OK) << where;
                if (r.result != VARIANT_FALSE) {
                    EXPECT_EQ(r.message, succeeded) << where;
                    EXPECT_TRUE(r.reply == clean.reply) << where << ": a success with another reply ("
                                                        << r.reply.size() << " bytes, expected "
                                                        << clean.reply.size() << ")";
                } else {
                    EXPECT_NE(r.message, "") << where;
                    EXPECT_NE(r.message, succeeded) << where;
                    EXPECT_EQ(r.reply, "") << where;
                }
                // A delete that the fault refused leaves its one file; the
                // reply side of a failed run stays as the component and the
                // steps up to the failure left it (the written behaviour).
                const bool deleteFailed = std::string(run.failedOp) == "delete";
                if (!deleteFailed) {
                    EXPECT_EQ(Tree(send_), std::vector<AnsiString>()) << where;
                    if (r.result != VARIANT_FALSE) {
                        EXPECT_EQ(Tree(receive_), std::vector<AnsiString>()) << where;
                    }
                }
                test::RemoveTree(send_);
                test::RemoveTree(receive_);
                ForceDirectories(send_);
                ForceDirectories(receive_);
            });
    }
};

TEST_F(TSendSweep, EveryIoErrorEndsAsTheReplyOrAClearFailure) {
    if (!test::FaultInjectionBuilt()) GTEST_SKIP() << test::kNoFaultInjection;
    ASSERT_TRUE(Init(SweepConfig(1)));
    EXPECT_GT(SweepSend(TFaultError::IoError), 0);
}

TEST_F(TSendSweep, EveryDiskFullEndsAsTheReplyOrAClearFailure) {
    if (!test::FaultInjectionBuilt()) GTEST_SKIP() << test::kNoFaultInjection;
    ASSERT_TRUE(Init(SweepConfig(1)));
    EXPECT_GT(SweepSend(TFaultError::DiskFull), 0);
}

// With several workers the operations interleave differently from run to
// run; every run must still end in one of the allowed ways.
TEST_F(TSendSweep, EveryIoErrorWithWorkersEndsAsTheReplyOrAClearFailure) {
    if (!test::FaultInjectionBuilt()) GTEST_SKIP() << test::kNoFaultInjection;
    ASSERT_TRUE(Init(SweepConfig(4)));
    EXPECT_GT(SweepSend(TFaultError::IoError), 0);
}

TEST_F(TSendSweep, EveryDiskFullWithWorkersEndsAsTheReplyOrAClearFailure) {
    if (!test::FaultInjectionBuilt()) GTEST_SKIP() << test::kNoFaultInjection;
    ASSERT_TRUE(Init(SweepConfig(4)));
    EXPECT_GT(SweepSend(TFaultError::DiskFull), 0);
}

}  // namespace
}  // namespace nuva
