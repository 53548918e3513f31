#pragma once
// Password checks off the main thread. One bcrypt check costs tens of milliseconds of CPU; run on the main loop,
// every guess a remote party sends would stall the game for everyone. A check is asked for with the source it came
// from (an address text, opaque here), runs on a small pool of worker threads, and its answer is collected on the
// main thread by ticket, in a later Process.
//
// What a flood of guesses can cost is bounded per source: the checks of one source run one at a time, in the order
// asked, and once a source has failed a few times each of its further checks waits a delay that doubles with every
// failure up to a cap. A success clears the source's record. Sources are told apart by their text only.
//
// Main thread only, apart from the workers, which touch nothing but their job queue and the finished queue.
// Lock order: the job lock alone; the finished queue's lock alone (a worker holds neither while it checks).

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "Engine/KestrinHash.h"
#include "Engine/KestrinReference.h"
#include "Engine/KestrinThreading.h"

class Context;

struct tPasswordAnswer
{
	uint64_t m_uiTicket;
	bool m_bVerified;
};

class CPasswordChecks
{
public:
	enum : uint64_t
	{
		// From this many failures of one source on, each of its further checks waits a delay: this long after the
		// failure that made the count, doubled with each further failure up to the cap.
		SLOW_DOWN_AFTER = 3,
		FIRST_DELAY_MS = 500,
		MAX_DELAY_MS = 4000,
		// A source with nothing waiting is forgotten this long after its last check.
		FORGET_AFTER_MS = 10 * 60 * 1000,
		// Idle sources kept at most; beyond it the longest idle are forgotten first.
		MAX_IDLE_SOURCES = 4096,
	};
	// The hashing library refuses a longer password outright, so a request keeps no more than this: a longer
	// text cut here is still refused, as it would be whole.
	static constexpr size_t MAX_PASSWORD_BYTES = 512;

	// The label begins the line logged when a source is first slowed down ("<label>: ...").
	CPasswordChecks(Context* pContext, const char* szLabel, size_t WorkerCount = 2);
	// Stops the workers; checks not yet answered are dropped.
	~CPasswordChecks();

	CPasswordChecks(const CPasswordChecks&) = delete;
	CPasswordChecks& operator=(const CPasswordChecks&) = delete;

	// Queues a check of the candidate against the stored password text (a CSecurePassword's). The ticket (never 0)
	// names the answer. The candidate and the stored text are copied; the candidate is wiped when done with.
	uint64_t Request(const char* szSource, const char* szCandidate, size_t CandidateLength, const char* szStored);
	// The requester has gone: its check is never answered. A check already running still counts for its source.
	void Cancel(uint64_t uiTicket);
	// Collects the finished checks into Answers (appended) and starts the ones whose turn has come. uiNowMs is a
	// monotonic time in milliseconds (OS::GetTicks).
	void Process(uint64_t uiNowMs, std::vector<tPasswordAnswer>& Answers);

	// Checks asked for and not yet answered (waiting or running).
	size_t GetOutstandingCount() const { return m_Requests.size(); }

private:
	// One check as the workers see it; the candidate is wiped when it goes.
	struct tJob
	{
		~tJob();

		uint64_t m_uiTicket = 0;
		std::string m_Source;
		std::string m_Candidate;
		char m_szStored[PASSWORD_HASH_SIZE] = {};
		bool m_bVerified = false;
	};

	struct tRequest
	{
		std::string m_Source;
		// Held while the check waits; the workers own it once it runs.
		AutoDelete<tJob> m_pJob;
		bool m_bCancelled = false;
	};

	struct tSource
	{
		// Tickets in the order asked.
		std::deque<uint64_t> m_Waiting;
		bool m_bRunning = false;
		uint64_t m_uiFailures = 0;
		// No check of the source starts before this time.
		uint64_t m_uiNotBefore = 0;
		uint64_t m_uiLastUsed = 0;
		bool m_bSlowDownLogged = false;
	};

	static int WorkerMain(Thread* pThread, void* pUserData);
	static void FreeJob(void* pJob);

	bool StartWorkers();
	void StopWorkers();
	void Submit(AutoDelete<tJob> pJob);
	void CollectFinished(uint64_t uiNowMs, std::vector<tPasswordAnswer>& Answers);
	void StartReady(uint64_t uiNowMs);
	void NoteResult(const std::string& Source, bool bVerified, uint64_t uiNowMs);
	void ForgetIdleSources(uint64_t uiNowMs);

	Context* m_pContext;
	std::string m_Label;
	size_t m_WorkerCount;
	uint64_t m_uiNextTicket;
	size_t m_Running;

	std::map<uint64_t, tRequest> m_Requests;
	std::map<std::string, tSource> m_Sources;
	// The sources with a check waiting, visited in turn from after the one that started last.
	std::set<std::string> m_Waiting;
	std::string m_LastStarted;
	uint64_t m_uiLastForget;

	// The workers' side. m_JobLock guards m_Jobs and m_bStopping; m_JobCount counts the jobs queued for them.
	std::vector<AutoDelete<CThreadCB>> m_Workers;
	bool m_bWorkersFailed;
	CLockable m_JobLock;
	CSemaphore m_JobCount;
	std::deque<tJob*> m_Jobs;
	bool m_bStopping;
	CPumpedEventLoop m_Finished;
};
