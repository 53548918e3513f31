// The password checks off the main thread: the answers are VerifyPassword's, each under its ticket; a source's
// checks run in the order asked; one that keeps failing waits a growing delay while others go on; a success clears
// it; a requester that went away never hears an answer, though a running check still counts against its source.
// Times are given by the test (the clock passed to Process), so no test waits for a delay to pass.

#include "Engine/PasswordChecks.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include "Engine/Context.h"

namespace
{
const char PASSWORD[] = "secret";

std::string Hash(const std::string& Password)
{
	char szStored[PASSWORD_HASH_SIZE] = {};
	size_t Length = 0;
	EXPECT_TRUE(HashPassword(Password.c_str(), szStored, sizeof(szStored), &Length));
	return szStored;
}

class PasswordChecksTest : public ::testing::Test
{
protected:
	uint64_t Ask(const char* szSource, const std::string& Candidate)
	{
		return m_Checks.Request(szSource, Candidate.data(), Candidate.size(), m_Stored.c_str());
	}

	// Runs Process at the given time until Count answers have come (the bound is a safety net for a stuck check,
	// not a measurement).
	std::vector<tPasswordAnswer> Collect(uint64_t uiNowMs, size_t Count) { return Collect(m_Checks, uiNowMs, Count); }
	static std::vector<tPasswordAnswer> Collect(CPasswordChecks& Checks, uint64_t uiNowMs, size_t Count)
	{
		std::vector<tPasswordAnswer> Answers;
		for (int i = 0; i < 20000 && Answers.size() < Count; i++)
		{
			Checks.Process(uiNowMs, Answers);
			if (Answers.size() < Count)
				usleep(1000);
		}
		return Answers;
	}

	// Runs Process at the given time for a while and gives whatever came: for checks that must not start.
	std::vector<tPasswordAnswer> CollectFor(uint64_t uiNowMs, int iMilliseconds)
	{
		std::vector<tPasswordAnswer> Answers;
		for (int i = 0; i < iMilliseconds; i++)
		{
			m_Checks.Process(uiNowMs, Answers);
			usleep(1000);
		}
		return Answers;
	}

	// Three failures of the source, all answered at the time given.
	void FailThreeTimes(const char* szSource, uint64_t uiNowMs)
	{
		for (int i = 0; i < 3; i++)
		{
			Ask(szSource, "wrong");
			ASSERT_EQ(Collect(uiNowMs, 1).size(), 1u);
		}
	}

	Context m_Context;
	CPasswordChecks m_Checks{&m_Context, "Test"};
	std::string m_Stored = Hash(PASSWORD);
};
}

TEST_F(PasswordChecksTest, AnswersAreThoseOfVerifyPasswordUnderTheirTickets)
{
	const std::string Long(100, 'p');
	const std::string LongStored = Hash(Long);
	struct tCase
	{
		const char* m_szCase;
		std::string m_Candidate;
		const std::string& m_Stored;
		bool m_bVerified;
	};
	const tCase Cases[] = {
		{"the password", PASSWORD, m_Stored, true},
		{"another case", "Secret", m_Stored, false},
		{"empty", "", m_Stored, false},
		{"the password with more after a zero byte", std::string(PASSWORD) + std::string(1, '\0') + "x", m_Stored, true},
		{"a long password", Long, LongStored, true},
		{"a long password cut short", Long.substr(0, 50), LongStored, false},
		// The hashing library refuses passwords of 512 bytes or more, however they begin; a kept candidate is cut
		// at 512 bytes and must be refused the same way.
		{"far too long", Long + std::string(600, 'x'), LongStored, false},
	};
	std::vector<uint64_t> Tickets;
	for (const tCase& Case : Cases)
		Tickets.push_back(m_Checks.Request("", Case.m_Candidate.data(), Case.m_Candidate.size(), Case.m_Stored.c_str()));
	const std::vector<tPasswordAnswer> Answers = Collect(0, std::size(Cases));
	ASSERT_EQ(Answers.size(), std::size(Cases));
	for (size_t i = 0; i < std::size(Cases); i++)
	{
		SCOPED_TRACE(Cases[i].m_szCase);
		EXPECT_EQ(Answers[i].m_uiTicket, Tickets[i]);
		EXPECT_EQ(Answers[i].m_bVerified, Cases[i].m_bVerified);
		EXPECT_EQ(Answers[i].m_bVerified, VerifyPassword(Cases[i].m_Candidate.c_str(), Cases[i].m_Stored.c_str()));
	}
	EXPECT_EQ(m_Checks.GetOutstandingCount(), 0u);
}

TEST_F(PasswordChecksTest, ASourceThatKeepsFailingWaitsLongerEachTimeWhileOthersGoOn)
{
	testing::internal::CaptureStdout();
	ASSERT_NO_FATAL_FAILURE(FailThreeTimes("10.0.0.1", 1000));
	const std::string Log = testing::internal::GetCapturedStdout();
	EXPECT_NE(Log.find("Test: password checks for 10.0.0.1 are slowed down after 3 failed attempts"),
		std::string::npos) << Log;

	// The fourth waits 500 ms after the third failure; another source is not held up meanwhile.
	const uint64_t uiSlowed = Ask("10.0.0.1", PASSWORD);
	const uint64_t uiOther = Ask("10.0.0.2", "wrong");
	std::vector<tPasswordAnswer> Answers = Collect(1000, 1);
	ASSERT_EQ(Answers.size(), 1u);
	EXPECT_EQ(Answers[0].m_uiTicket, uiOther);
	EXPECT_TRUE(CollectFor(1499, 150).empty());
	Answers = Collect(1500, 1);
	ASSERT_EQ(Answers.size(), 1u);
	EXPECT_EQ(Answers[0].m_uiTicket, uiSlowed);
	EXPECT_TRUE(Answers[0].m_bVerified);

	// The right password cleared the source; it fails again three times at 2000 and is slowed down again, once
	// more logged. Each further failure doubles its delay, up to 4 s.
	testing::internal::CaptureStdout();
	ASSERT_NO_FATAL_FAILURE(FailThreeTimes("10.0.0.1", 2000));
	EXPECT_NE(testing::internal::GetCapturedStdout().find("slowed down"), std::string::npos);
	struct tStep
	{
		uint64_t m_uiNotYet;
		uint64_t m_uiDue;
	};
	// From the failure answered at each step's due time: 500, 1000, 2000, 4000, 4000 ms.
	const tStep Steps[] = {{2499, 2500}, {3499, 3500}, {5499, 5500}, {9499, 9500}, {13499, 13500}};
	testing::internal::CaptureStdout();
	for (const tStep& Step : Steps)
	{
		SCOPED_TRACE(Step.m_uiDue);
		Ask("10.0.0.1", "wrong");
		EXPECT_TRUE(CollectFor(Step.m_uiNotYet, 30).empty());
		ASSERT_EQ(Collect(Step.m_uiDue, 1).size(), 1u);
	}
	// Logged once per slowing down, not once per check.
	EXPECT_EQ(testing::internal::GetCapturedStdout().find("slowed down"), std::string::npos);
}

TEST_F(PasswordChecksTest, ChecksOfOneSourceAreAnsweredInTheOrderAskedAndSourcesTakeTurns)
{
	// With one worker the answers come in the order the checks started.
	CPasswordChecks Checks(&m_Context, "Test", 1);
	const auto AskOne = [&](const char* szSource, const char* szCandidate) {
		return Checks.Request(szSource, szCandidate, strlen(szCandidate), m_Stored.c_str());
	};
	std::vector<uint64_t> First;
	for (int i = 0; i < 4; i++)
		First.push_back(AskOne("10.0.0.1", i == 2 ? PASSWORD : "wrong"));
	const uint64_t uiSecond = AskOne("10.0.0.2", "wrong");
	const uint64_t uiThird = AskOne("10.0.0.3", "wrong");
	const std::vector<tPasswordAnswer> Answers = Collect(Checks, 0, 6);
	std::vector<uint64_t> Order;
	for (const tPasswordAnswer& Answer : Answers)
		Order.push_back(Answer.m_uiTicket);
	// The first source asked four times before the others asked at all, yet they do not wait for all four.
	EXPECT_EQ(Order, (std::vector<uint64_t>{First[0], uiSecond, uiThird, First[1], First[2], First[3]}));
}

TEST_F(PasswordChecksTest, ACancelledCheckIsNeverAnsweredButARunningOneStillCounts)
{
	// Waiting behind another of its source: cancelled before it starts.
	const uint64_t uiFirst = Ask("10.0.0.1", "wrong");
	const uint64_t uiCancelled = Ask("10.0.0.1", "wrong");
	m_Checks.Cancel(uiCancelled);
	std::vector<tPasswordAnswer> Answers = Collect(0, 1);
	ASSERT_EQ(Answers.size(), 1u);
	EXPECT_EQ(Answers[0].m_uiTicket, uiFirst);
	EXPECT_TRUE(CollectFor(0, 100).empty());

	// Running when cancelled: no answer, but two more failures make three, and the next check waits.
	for (int i = 0; i < 2; i++)
	{
		const uint64_t uiTicket = Ask("10.0.0.1", "wrong");
		std::vector<tPasswordAnswer> None;
		m_Checks.Process(0, None);
		m_Checks.Cancel(uiTicket);
		for (int iWait = 0; iWait < 20000 && m_Checks.GetOutstandingCount() > 0; iWait++)
		{
			m_Checks.Process(0, None);
			usleep(1000);
		}
		EXPECT_TRUE(None.empty());
		EXPECT_EQ(m_Checks.GetOutstandingCount(), 0u);
	}
	const uint64_t uiAfter = Ask("10.0.0.1", PASSWORD);
	EXPECT_TRUE(CollectFor(0, 100).empty());
	Answers = Collect(500, 1);
	ASSERT_EQ(Answers.size(), 1u);
	EXPECT_EQ(Answers[0].m_uiTicket, uiAfter);
	EXPECT_TRUE(Answers[0].m_bVerified);

	// Cancelling a ticket that was answered, or never given, does nothing.
	m_Checks.Cancel(uiAfter);
	m_Checks.Cancel(12345);
	EXPECT_EQ(m_Checks.GetOutstandingCount(), 0u);
}

TEST(PasswordChecks, GoingAwayWithChecksWaitingAndRunningDropsThem)
{
	// What there is to see is that the workers stop and every job is freed (the sanitizer build sees leaks).
	Context ProcessContext;
	const std::string Stored = Hash(PASSWORD);
	CPasswordChecks Checks(&ProcessContext, "Test", 1);
	for (int i = 0; i < 4; i++)
		Checks.Request(i % 2 ? "10.0.0.1" : "10.0.0.2", "wrong", 5, Stored.c_str());
	std::vector<tPasswordAnswer> Answers;
	Checks.Process(0, Answers);
	EXPECT_EQ(Checks.GetOutstandingCount(), 4u);
}
